// Extraction of bundles built with the JSON library's CBOR writer: order of work, progress,
// messages, malformed documents and hostile names.
#include "package/bundle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "package/bundle_document.h"
#include "package/bundle_stream.h"
#include "package/path_text.h"
#include "package/writer_pool.h"
#include "tests/package/package_test_support.h"
#include "tools/lzma_encode.h"
#include "xz_sample.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif
#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

namespace tessaryn {
namespace {

using namespace test;
using json = nlohmann::json;

struct Report {
    float fraction;
    std::string message;
    bool operator==(const Report&) const = default;
};

std::vector<uint8_t> encode(const std::string& text) {
    return lzmaAloneEncode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 5);
}

std::string fileText(const fs::path& path) {
    const auto bytes = readBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Threads of this process, to show that extraction leaves none behind.
size_t threadCount() {
    size_t count = 0;
#ifdef _WIN32
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
#else
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* item = readdir(tasks)) count += item->d_name[0] != '.';
    closedir(tasks);
#endif
    return count;
}

// An unpacking's end as the tests compare it: its failure's text, "read whole", or "done".
std::string told(const UnpackResult& result) {
    switch (result.kind()) {
        case UnpackResult::Kind::Done: return "done";
        case UnpackResult::Kind::ReadWhole: return "read whole";
        case UnpackResult::Kind::Cancelled: return "cancelled";
        case UnpackResult::Kind::Failed: return result.text();
    }
    return "?";
}

class ExtractBundleTest : public ::testing::Test {
  protected:
    // Extracts the bundle into dest, recording every report.
    UnpackResult extract(const json& files) {
        writeBundle(bundle, files);
        return extractBundle(pathText(dest), pathText(bundle),
                             [this](float f, const std::string& m) { reports.push_back({f, m}); });
    }
    std::string failure(const json& files) { return told(extract(files)); }

    ScratchFolder scratch;
    // With a trailing separator, as the install sequence passes it.
    fs::path dest = scratch.path() / "Program Files" / "Tessaryn" / "";
    fs::path bundle = scratch.path() / "setup.pak";
    std::vector<Report> reports;
};

// The space check before unpacking reads the sizes from the entries' headers, without decoding.
TEST(BundleUnpackedBytes, AddsTheHeadersSizesAndCountsPackedBytesWhereTheyDoNotSay) {
    std::vector<uint8_t> unsized = encode(std::string(1000, 'x'));
    std::fill(unsized.begin() + 5, unsized.begin() + 13, 0xFF);  // size unknown: ends with a marker
    const json document = {{"version", "1.0"},
                           {"files", json::array({dirEntry("bin"),
                                                  fileEntry("a", encode(std::string(70000, 'a'))),
                                                  fileEntry("b", encode("")),
                                                  fileEntry("c", unsized),
                                                  fileEntry("d", {1, 2, 3})})}};
    const std::vector<uint8_t> bundle = json::to_cbor(document);
    EXPECT_EQ(bundleUnpackedBytes(bundle.data(), bundle.size()), 70000u + unsized.size() + 3);
    const std::vector<uint8_t> notAList = json::to_cbor(json{{"files", 5}});
    EXPECT_THROW(bundleUnpackedBytes(notAList.data(), notAList.size()), std::exception);
}

TEST_F(ExtractBundleTest, EmptyListMakesOnlyTheFolderAndFirstReports) {
    ASSERT_TRUE(extract(json::array()).isDone());
    EXPECT_TRUE(fs::is_directory(dest));
    EXPECT_TRUE(fs::is_empty(dest));
    const std::vector<Report> expected = {{0.0f, "Reading bundle file..."},
                                          {0.05f, "Parsing bundle..."},
                                          {0.1f, "Creating extraction directory..."}};
    EXPECT_EQ(reports, expected);
    reports.clear();
    ASSERT_TRUE(extract(nullptr).isDone());
    EXPECT_EQ(reports, expected);
}

TEST_F(ExtractBundleTest, EntriesReportFractionsAndLand) {
    ASSERT_TRUE(extract(json::array({dirEntry("bin"), fileEntry("/bin/app.txt", encode("hello")),
                         json{{"n", "ignored"}, {"t", "x"}},
                         fileEntry("docs\\deep/readme", encode(""))})).isDone());
    EXPECT_EQ(fileText(dest / "bin" / "app.txt"), "hello");
    EXPECT_TRUE(fs::exists(dest / "docs" / "deep" / "readme"));
    EXPECT_EQ(fs::file_size(dest / "docs" / "deep" / "readme"), 0u);
    EXPECT_FALSE(fs::exists(dest / "ignored"));
    const std::vector<Report> tail(reports.begin() + 3, reports.end());
    const std::vector<Report> expected = {{0.1f, "Creating directory: bin"},
                                          {0.325f, "Extracting: bin/app.txt"},
                                          {0.775f, "Extracting: docs\\deep/readme"}};
    ASSERT_EQ(tail.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_FLOAT_EQ(tail[i].fraction, expected[i].fraction);
        EXPECT_EQ(tail[i].message, expected[i].message);
    }
}

TEST_F(ExtractBundleTest, TwoEntriesReportTenthAndFiftyFivePercent) {
    ASSERT_TRUE(extract(json::array({fileEntry("a", encode("1")), fileEntry("a", encode("22"))})).isDone());
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[3].fraction, 0.1f);
    EXPECT_EQ(reports[4].fraction, 1.0f / 2.0f * 0.9f + 0.1f);
    EXPECT_EQ(fileText(dest / "a"), "22");  // later entries overwrite
}

TEST_F(ExtractBundleTest, MapOfEntriesIsTakenInKeyOrder) {
    ASSERT_TRUE(extract(json{{"b", fileEntry("f", encode("second"))}, {"a", fileEntry("f", encode("first"))}}).isDone());
    EXPECT_EQ(fileText(dest / "f"), "second");
}

// The shortest CBOR head of an item of this major type and value.
std::vector<uint8_t> cborHead(uint8_t major, uint64_t value) {
    std::vector<uint8_t> head;
    const auto big = [&](uint8_t info, int bytes) {
        head.push_back(static_cast<uint8_t>(major << 5 | info));
        for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
            head.push_back(static_cast<uint8_t>(value >> shift));
    };
    if (value < 24) head.push_back(static_cast<uint8_t>(major << 5 | value));
    else if (value < 0x100) big(24, 1);
    else if (value < 0x10000) big(25, 2);
    else big(26, 4);
    return head;
}

std::vector<uint8_t> cborText(const std::string& text) {
    std::vector<uint8_t> bytes = cborHead(3, text.size());
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

std::vector<uint8_t> joined(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> bytes;
    for (const auto& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

// A file entry written by hand, so that a key can come twice: "n" is first `first`, then `name`.
std::vector<uint8_t> entryWithNameTwice(const std::string& first, const std::string& name,
                                        const std::vector<uint8_t>& compressed) {
    return joined({cborHead(5, 4), cborText("n"), cborText(first), cborText("t"), cborText("f"),
                   cborText("d"), cborHead(2, compressed.size()), compressed, cborText("n"),
                   cborText(name)});
}

// A file entry as our packer writes it: its data last, so that it can be handed out early.
std::vector<uint8_t> packedEntry(const std::string& name, const std::vector<uint8_t>& compressed) {
    return joined({cborHead(5, 3), cborText("n"), cborText(name), cborText("t"), cborText("f"),
                   cborText("d"), cborHead(2, compressed.size()), compressed});
}

std::vector<uint8_t> document(const std::vector<uint8_t>& version, const std::vector<uint8_t>& files) {
    return joined({cborHead(5, 2), cborText("version"), version, cborText("files"), files});
}

// Documents the JSON library's writer never makes: heads of every width, keys given twice,
// reserved heads, keys that are not text, and nesting deep enough to exhaust the stack.
TEST_F(ExtractBundleTest, HandWrittenDocumentsAreReadStrictly) {
    const std::vector<uint8_t> noFiles = cborHead(4, 0);
    const std::vector<uint8_t> nested(200000, 0x81);
    const std::vector<std::vector<uint8_t>> accepted = {
        {0x1B, 0, 0, 0, 0, 0, 0, 0, 1},           // 8-byte number
        {0x7B, 0, 0, 0, 0, 0, 0, 0, 1, 'x'},      // 8-byte text length
        {0x9B, 0, 0, 0, 0, 0, 0, 0, 1, 0x00},     // 8-byte array count
        {0x7F, 0x61, 'a', 0x62, 'b', 'c', 0xFF},  // text in chunks
        joined({std::vector<uint8_t>(200, 0x81), {0x00}}),
        {0xA1, 0x61, 'k', 0xA1, 0x61, 'j', 0xF6},
        {0xF9, 0x3C, 0x00},  // half float
        {0xFA, 0x3F, 0x80, 0x00, 0x00},  // single
        {0xFB, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}};  // double
    // From memory: a read past the document's end is a heap overflow the sanitizer reports.
    for (const auto& version : accepted) {
        const auto bytes = document(version, noFiles);
        EXPECT_EQ(told(extractBundle(pathText(dest), bytes.data(), bytes.size(), {})), "done")
            << version.size();
    }
    const std::vector<std::vector<uint8_t>> refused = {
        {0x1F},                                   // indefinite number
        {0x3F},                                   // indefinite negative number
        {0x1C},                                   // reserved head
        {0x5F, 0x61, 'a', 0xFF},                  // text chunk in a byte string
        {0x9F, 0x01},                             // no break
        {0xA1, 0x01, 0x02},                       // number as key
        {0xA1, 0x61, 'k', 0xA1, 0x40, 0xF6},      // byte string as key, one map down
        {0x7B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'x'},  // longer than the document
        {0xF7},                                   // undefined
        joined({nested, {0x00}})};
    fs::remove_all(dest);
    for (const auto& version : refused) {
        const auto bytes = document(version, noFiles);
        EXPECT_TRUE(extractBundle(pathText(dest), bytes.data(), bytes.size(), {}).isFailed())
            << version.size();
        EXPECT_FALSE(fs::exists(dest));
    }
    // A text running a few bytes past the end of the document as its last item (copied to a
    // buffer of its exact size, so that a read beyond it is caught).
    const auto cut = document(cborText("1"), {0x64, 'x'});
    const std::vector<uint8_t> exact(cut.begin(), cut.end());
    EXPECT_TRUE(extractBundle(pathText(dest), exact.data(), exact.size(), {}).isFailed());
    // A key given twice counts with its last value: in an entry and in the map of entries.
    const auto entryAt = [](const std::string& key, const std::string& text) {
        return joined({cborText(key), entryWithNameTwice("wrong", "f", encode(text))});
    };
    writeBytes(bundle, document(cborText("1"), joined({cborHead(5, 3), entryAt("a", "first"),
                                                       entryAt("b", "third"),
                                                       entryAt("a", "second")})));
    EXPECT_EQ(told(extractBundle(pathText(dest), pathText(bundle), {})), "done");
    EXPECT_EQ(fileText(dest / "f"), "third");
    EXPECT_FALSE(fs::exists(dest / "wrong"));
    fs::remove_all(dest);
    writeBytes(bundle, document(cborText("1"), joined({cborHead(5, 2), entryAt("a", "first"),
                                                       entryAt("a", "second")})));
    EXPECT_EQ(told(extractBundle(pathText(dest), pathText(bundle), {})), "done");
    EXPECT_EQ(fileText(dest / "f"), "second");
}

TEST_F(ExtractBundleTest, FailuresCarryTheirMessages) {
    EXPECT_EQ(failure(json::array({json{{"n", "f"}, {"t", "f"}, {"d", "text"}}})),
              "Failed to extract file f: Unsupported data format in bundle for file: f");
    EXPECT_EQ(failure(json::array({json{{"n", "f"}, {"t", "f"}}})),
              "Failed to extract file f: Unsupported data format in bundle for file: f");
    EXPECT_EQ(failure(json::array({fileEntry("g", std::vector<uint8_t>(12, 0))})),
              "Failed to extract file g: Decompression failed for file: g (Status code: 100)");
    EXPECT_EQ(failure(json::array({json{{"t", "f"}}})), "Invalid bundle entry: missing \"n\"");
    EXPECT_EQ(failure(json::array({json{{"n", "f"}}})), "Invalid bundle entry: missing \"t\"");
    EXPECT_NE(failure(json::array({42})).find("type_error"), std::string::npos);
    EXPECT_NE(failure(json::array({json{{"n", 1}, {"t", "f"}}})).find("type_error"),
              std::string::npos);

    fs::create_directories(dest / "taken");
    EXPECT_EQ(failure(json::array({fileEntry("taken", encode("x"))})),
              "Failed to extract file taken: Failed to write file: " + pathText(dest / "taken") +
                  " (Error code: 100)");
    const fs::path missing = scratch.path() / "none.pak";
    EXPECT_EQ(told(extractBundle(pathText(dest), pathText(missing), {})),
              "Failed to read file: " + pathText(missing) + " (Error code: 200)");
}

// A corrupt entry among many: with one thread or with a pool, the failure is the first failing
// entry's (whatever fails after it, in a worker or on the walk), its partial file is gone, the
// entries before it are complete and no worker outlives the call.
TEST_F(ExtractBundleTest, FirstFailureInOrderWinsAndNoWorkerIsLeft) {
    const std::vector<uint8_t> good = encode(std::string(kXzSamplePlain.begin(), kXzSamplePlain.end()));
    const std::vector<uint8_t> cut(good.begin(), good.end() - 20);  // input ends early: status 6
    // Fails without output, after its decoder has set up 6 MB of probabilities (lc 8, lp 4): a
    // match as the first symbol.
    const std::vector<uint8_t> slow = {0xE0, 0, 0, 0x10, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                       0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const json escaping = fileEntry("../escaped", good);
    struct Tail {
        const char* what;
        std::function<json(int)> entry;  // entries after the failing one
    };
    const auto named = [](int i, const std::vector<uint8_t>& data) {
        return fileEntry("sub/f" + std::to_string(i), data);
    };
    // Entries after the first failing one that were started before it failed, and fail later,
    // must not replace its failure.
    const std::vector<Tail> tails = {
        {"good", [&](int i) { return named(i, good); }},
        {"failing later", [&](int i) { return named(i, slow); }},
        {"escaping", [&](int) { return escaping; }}};
    const size_t threadsBefore = threadCount();
    for (const Tail& tail : tails) {
        json files = json::array({dirEntry("sub")});
        for (int i = 0; i < 300; ++i)
            files.push_back(i < 170 ? named(i, good) : i == 170 ? named(i, cut) : tail.entry(i));
        writeBundle(bundle, files);
        for (unsigned threads : {1u, 2u, 8u, 8u, 8u, 8u, 8u}) {
            SCOPED_TRACE(std::string(tail.what) + " " + std::to_string(threads));
            fs::remove_all(dest);
            const UnpackResult result = extractBundle(pathText(dest), pathText(bundle), {}, threads);
            EXPECT_EQ(told(result), "Failed to extract file sub/f170: Decompression failed "
                                    "for file: sub/f170 (Status code: 6)");
            EXPECT_EQ(result.entry(), 171u);
            EXPECT_EQ(threadCount(), threadsBefore);
            EXPECT_FALSE(fs::exists(dest / "sub" / "f170"));
            EXPECT_FALSE(fs::exists(scratch.path() / "Program Files" / "escaped"));
            for (int i = 0; i < 170; ++i) {
                ASSERT_EQ(fs::file_size(dest / "sub" / ("f" + std::to_string(i))),
                          kXzSamplePlain.size())
                    << i;
            }
        }
    }
}

// Two entries of one name land in the bundle's order even when the first takes long to decode
// and the second is handed to another worker at once.
TEST_F(ExtractBundleTest, EntriesOfOneNameLandInOrderOnAPool) {
    writeBundle(bundle, json::array({fileEntry("a", kXzZerosLzma), fileEntry("a", encode("last"))}));
    EXPECT_EQ(told(extractBundle(pathText(dest), pathText(bundle), {}, 2)), "done");
    EXPECT_EQ(fileText(dest / "a"), "last");
}

TEST_F(ExtractBundleTest, MalformedDocumentsExtractNothing) {
    auto bytes =
        json::to_cbor(json{{"version", 1}, {"files", json::array({fileEntry("a", encode("x"))})}});
    auto trailing = bytes;
    trailing.push_back(0);
    // Tag 24 (embedded CBOR) wrapped around the whole document.
    std::vector<uint8_t> tagged = {0xD8, 0x18};
    tagged.insert(tagged.end(), bytes.begin(), bytes.end());
    const std::vector<std::vector<uint8_t>> documents = {
        trailing,
        tagged,
        {0xFF},
        {},
        json::to_cbor(json::array()),
        json::to_cbor(json{{"files", json::array()}}),
        json::to_cbor(json{{"version", 1}}),
        json::to_cbor(json{{"version", 1}, {"files", "text"}})};
    for (const auto& document : documents) {
        writeBytes(bundle, document);
        EXPECT_TRUE(extractBundle(pathText(dest), pathText(bundle), {}).isFailed());
        EXPECT_FALSE(fs::exists(dest));
    }
    writeBytes(bundle, json::to_cbor(json{{"version", 1}, {"files", json::array()}}));
    EXPECT_EQ(told(extractBundle(pathText(dest), pathText(bundle), {})), "done");
}

TEST_F(ExtractBundleTest, EscapingNamesAreRefusedBeforeAnythingIsWritten) {
    for (const char* name : {"../evil.txt", "..\\evil.txt", "sub/../../evil.txt", "//evil.txt",
                             "\\\\host\\share\\evil.txt", "C:evil.txt", "C:\\evil.txt"}) {
        SCOPED_TRACE(name);
        for (const char* type : {"f", "d"}) {
            json entry = fileEntry(name, encode("bad"));
            entry["t"] = type;
            const std::string message = failure(json::array({entry}));
            // The one leading "/" that is dropped is not part of the name in the message.
            const std::string shown = name[0] == '/' ? name + 1 : name;
            EXPECT_EQ(message.rfind("Failed to extract file " + shown + ": ", 0), 0u) << message;
        }
    }
    // Only the destination folder itself was made beside the bundle.
    std::vector<std::string> left;
    for (const auto& item : fs::recursive_directory_iterator(scratch.path())) {
        const std::u8string relative =
            item.path().lexically_relative(scratch.path()).generic_u8string();
        left.emplace_back(relative.begin(), relative.end());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (std::vector<std::string>{"Program Files", "Program Files/Tessaryn", "setup.pak"}));
    EXPECT_TRUE(fs::is_empty(dest));
}

// A window budget smaller than any entry's window neither stalls the pool nor changes what is
// written: each entry then runs alone. Files are written through as the setup asks.
// What a road made of a document: its version and the files it wrote, or its failure's text.
std::string treeOf(const fs::path& root) {
    std::vector<std::string> lines;
    if (fs::exists(root)) {
        for (const auto& item : fs::recursive_directory_iterator(root))
            lines.push_back(item.path().lexically_relative(root).generic_string() +
                            (item.is_directory() ? "/" : "=" + fileText(item.path())));
    }
    std::sort(lines.begin(), lines.end());
    std::string joinedLines;
    for (const auto& line : lines) joinedLines += line + ";";
    return joinedLines;
}

std::string wholeOutcome(const std::vector<uint8_t>& bytes, const fs::path& dest) {
    fs::remove_all(dest);
    const UnpackResult result = extractBundle(pathText(dest), bytes.data(), bytes.size(), {}, 2);
    if (!result.isDone()) return told(result);
    return "ok " + BundleDocument(bytes.data(), bytes.size()).version() + ": " + treeOf(dest);
}

// Bytes not shown yet cannot be read: under the address sanitizer a read of one is reported.
class Unshown {
  public:
    explicit Unshown(const std::vector<uint8_t>& bytes) : bytes_(bytes) { show(0); }
    ~Unshown() { show(bytes_.size()); }
    void show(size_t count) {
#if defined(__SANITIZE_ADDRESS__)
        __asan_unpoison_memory_region(bytes_.data(), count);
        __asan_poison_memory_region(bytes_.data() + count, bytes_.size() - count);
#else
        (void)count;
#endif
    }

  private:
    const std::vector<uint8_t>& bytes_;
};

// The stream is shown `step` more bytes at each wait, or, with `stopAt`, never more than that.
// On one thread an arriving entry is decoded before the walk waits for its end; on a pool the
// walk's wait may show it whole first.
std::string streamOutcome(const std::vector<uint8_t>& bytes, const fs::path& dest, size_t step,
                          size_t stopAt = SIZE_MAX, unsigned threads = 2) {
    fs::remove_all(dest);
    Unshown unshown(bytes);
    // Workers wait too, for the entry they decode.
    std::mutex mutex;
    size_t shown = 0;
    BundleStream stream(bytes.data(), bytes.size(), [&](size_t wanted) {
        std::lock_guard lock(mutex);
        shown = std::min({std::max(wanted, shown + step), bytes.size(), stopAt});
        unshown.show(shown);
        return shown;
    });
    const UnpackResult result =
        extractBundleStream(pathText(dest), stream, bytes.data(), UINT64_MAX, {}, threads);
    if (!result.isDone()) return told(result);
    return "ok " + stream.version() + ": " + treeOf(dest);
}

// The stream takes and refuses what the whole document's road does, with the same texts, at any
// pace; the forms it leaves to that road are the ones it names.
TEST_F(ExtractBundleTest, StreamAgreesWithTheWholeDocument) {
    const auto entry = [](const json& value) { return json::to_cbor(value); };
    const auto a = entry(fileEntry("d/a", encode("alpha")));
    // Decoded while it arrives (the stream hands it out by its head).
    const auto b = packedEntry("b", encode("beta"));
    // An LZMA stream whose damage shows only at its end: no end marker for an unknown size.
    auto unmarked = encode(std::string(3000, 'u') + "end");
    std::fill(unmarked.begin() + 5, unmarked.begin() + 13, 0xFF);
    const auto badStream = packedEntry("u", unmarked);
    const auto folder = entry(dirEntry("d"));
    const auto badData = entry(fileEntry("c", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    const auto noName = entry(json{{"t", "f"}, {"d", json::binary({1})}});
    const auto shortData = packedEntry("s", {0x5D, 0, 0, 1, 0});
    auto header = encode("");
    header.resize(kItemHeaderBytes);
    const auto headerOnly = packedEntry("h", header);
    const auto escaping = entry(fileEntry("../x", encode("x")));
    const auto deep = joined({cborHead(5, 3), cborText("n"), cborText("z"), cborText("t"),
                              cborText("d"), cborText("x"), std::vector<uint8_t>(300, 0x81),
                              {0x00}});
    const auto list = [](std::initializer_list<std::vector<uint8_t>> entries) {
        std::vector<uint8_t> bytes = cborHead(4, entries.size());
        for (const auto& e : entries) bytes.insert(bytes.end(), e.begin(), e.end());
        return bytes;
    };
    const auto trailing = [](std::vector<uint8_t> bytes) {
        bytes.push_back(0);
        return bytes;
    };
    const auto filesFirst = [](const std::vector<uint8_t>& files) {
        return joined({cborHead(5, 2), cborText("files"), files, cborText("version"),
                       cborText("2.0")});
    };
    const auto valid = filesFirst(list({folder, a, b}));
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
        bool readWhole = false;
    };
    const std::vector<Row> rows = {
        {"files first", valid},
        {"version first", document(cborText("1.0"), list({a, b}))},
        {"written by the library", json::to_cbor(json{
                                       {"version", "3"},
                                       {"files", json::array({dirEntry("d"),
                                                              fileEntry("d/a", encode("x"))})}})},
        {"lists in chunks", joined({{0xBF}, cborText("files"), {0x9F}, a, b, {0xFF},
                                    cborText("version"), cborText("1"), {0xFF}})},
        {"empty list", filesFirst(list({}))},
        {"trailing byte", trailing(valid)},
        {"no version", joined({cborHead(5, 1), cborText("files"), list({a})})},
        {"no files", joined({cborHead(5, 1), cborText("version"), cborText("1")})},
        {"files a text", filesFirst(cborText("x"))},
        {"root a list", list({a})},
        {"empty", {}},
        {"entry without a name", filesFirst(list({a, noName, b}))},
        {"entry without a name, trailing byte", trailing(filesFirst(list({a, noName, b})))},
        {"undecodable entry", filesFirst(list({a, badData, b}))},
        {"undecodable entry, trailing byte", trailing(filesFirst(list({a, badData, b})))},
        {"undecodable entry, then no version",
         joined({cborHead(5, 1), cborText("files"), list({badData})})},
        {"undecodable arriving entry", filesFirst(list({a, badStream, b}))},
        {"undecodable arriving entry, trailing byte", trailing(filesFirst(list({badStream, b})))},
        {"undecodable arriving entry, then no version",
         joined({cborHead(5, 1), cborText("files"), list({b, badStream})})},
        {"arriving entry with an escaping name",
         filesFirst(list({a, packedEntry("../x", encode("x"))}))},
        {"a key after the data",
         filesFirst(list({entryWithNameTwice("wrong", "k", encode("k")), b}))},
        // Data no longer than an item header that ends the document: all of it has arrived,
        // and no byte more will.
        {"data shorter than its header, last", document(cborText("1"), list({a, shortData}))},
        {"data of a header alone, last", document(cborText("1"), list({a, headerOnly}))},
        {"escaping name", filesFirst(list({a, escaping}))},
        {"nesting too deep in an entry", filesFirst(list({a, deep}))},
        {"tag in an entry", filesFirst(list({a, {0xC0, 0x00}}))},
        {"map of files", filesFirst(joined({cborHead(5, 2), cborText("y"), a, cborText("x"), b})),
         true},
        {"null files", filesFirst({0xF6}), true},
        {"files given twice",
         joined({cborHead(5, 3), cborText("files"), list({a}), cborText("version"),
                 cborText("1"), cborText("files"), list({b})}),
         true},
    };
    const fs::path other = scratch.path() / "other";
    for (const Row& row : rows) {
        const std::string whole = wholeOutcome(row.bytes, dest);
        for (size_t step : {size_t{1}, size_t{7}, row.bytes.size() + 1}) {
            const std::string streamed =
                streamOutcome(row.bytes, other, step, SIZE_MAX, step == 1 ? 1 : 2);
            EXPECT_EQ(streamed, row.readWhole ? "read whole" : whole) << row.what << ", " << step;
        }
    }
    EXPECT_EQ(wholeOutcome(valid, dest), "ok 2.0: b=beta;d/;d/a=alpha;");
    // Cut at every byte (the whole road sees a shorter document; the stream, one that ends
    // there), and bytes that stop coming.
    for (size_t cut = 0; cut < valid.size(); ++cut) {
        const std::vector<uint8_t> part(valid.begin(), valid.begin() + cut);
        EXPECT_EQ(streamOutcome(part, other, 3), wholeOutcome(part, dest)) << cut;
        EXPECT_EQ(streamOutcome(valid, other, 3, cut, 1), "read whole") << cut;
    }
}

// A document broken in the middle (not cut short) is the whole document's failure where the
// stream meets it: next() throws its text rather than ending as if the list were over.
TEST_F(ExtractBundleTest, StreamThrowsTheDocumentsErrorWhereItIsBroken) {
    const auto a = packedEntry("a", encode("alpha"));
    const auto files = [](std::initializer_list<std::vector<uint8_t>> parts) {
        return document(cborText("1"), joined(parts));
    };
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> rows = {
        {"a tag between entries", files({cborHead(4, 2), a, {0xC0, 0x00}})},
        {"a reserved byte for an entry", files({cborHead(4, 2), a, {0xFC}})},
        {"a key that is no text", files({cborHead(4, 2), a, cborHead(5, 1), {0x01, 0x01}})},
        {"a reserved byte in the head", joined({cborHead(5, 2), cborText("version"), {0xFC}})},
    };
    for (const auto& [what, bytes] : rows) {
        std::string expected = "accepted";
        try {
            BundleDocument whole(bytes.data(), bytes.size());
        } catch (const std::exception& error) {
            expected = error.what();
        }
        ASSERT_NE(expected, "accepted") << what;
        for (size_t step : {size_t{1}, bytes.size()}) {
            size_t shown = 0;
            BundleStream stream(bytes.data(), bytes.size(), [&](size_t wanted) {
                shown = std::min(std::max(wanted, shown + step), bytes.size());
                return shown;
            });
            std::string ended = "ended quietly";
            try {
                while (stream.next()) {
                }
            } catch (const std::exception& error) {
                ended = error.what();
            }
            EXPECT_EQ(ended, expected) << what << ", " << step;
            EXPECT_FALSE(stream.readWhole()) << what << ", " << step;
        }
    }
}

// A bundle shown to its stream a part at a time, extracted meanwhile on a thread of its own.
class ArrivingExtraction {
  public:
    ArrivingExtraction(const std::vector<uint8_t>& bytes, const fs::path& dest, unsigned threads)
        : bytes_(bytes),
          stream_(bytes.data(), bytes.size(), [this](size_t wanted) {
              std::unique_lock lock(mutex_);
              arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return shown_ >= wanted; });
              return shown_;
          }),
          reader_([this, dest, threads] {
              const UnpackResult result = extractBundleStream(pathText(dest), stream_,
                                                              bytes_.data(), UINT64_MAX, {}, threads);
              outcome_ = result.isDone() ? stream_.version() : told(result);
          }) {}
    ~ArrivingExtraction() { (void)finish(); }

    void show(size_t count) {
        std::lock_guard lock(mutex_);
        shown_ = count;
        arrived_.notify_all();
    }
    // Shows the rest and gives the version, or the failure's text.
    std::string finish() {
        show(bytes_.size());
        if (reader_.joinable()) reader_.join();
        return outcome_;
    }

  private:
    const std::vector<uint8_t>& bytes_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    size_t shown_ = 0;
    BundleStream stream_;
    std::string outcome_;
    std::thread reader_;
};

// A reader that has to wait: the first file is on the disk before the rest has arrived.
TEST_F(ExtractBundleTest, StreamUnpacksWhatHasArrivedAndWaitsForTheRest) {
    const auto first = json::to_cbor(fileEntry("first", encode("one")));
    const auto bytes = joined({cborHead(5, 2), cborText("files"), cborHead(4, 2), first,
                               json::to_cbor(fileEntry("second", encode("two"))),
                               cborText("version"), cborText("1")});
    ArrivingExtraction extraction(bytes, dest, 0);
    extraction.show(4 + first.size() + 6);  // the head, the first entry and a part of the second
    // A worker makes the file before it writes to it: wait for its bytes, not its name.
    for (int i = 0; i < 500 && fileText(dest / "first") != "one"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(fileText(dest / "first"), "one");
    EXPECT_FALSE(fs::exists(dest / "second"));
    EXPECT_EQ(extraction.finish(), "1");
    EXPECT_EQ(fileText(dest / "second"), "two");
}

// A large entry is decoded as its bytes arrive: its file has output while the rest of it has
// not arrived, and it ends complete.
TEST_F(ExtractBundleTest, StreamDecodesAnEntryWhileItArrives) {
    const std::vector<uint8_t> plain = patternBytes(400000, 7);
    const auto big = packedEntry("big", lzmaAloneEncode(plain.data(), plain.size(), 5));
    const auto bytes = joined({cborHead(5, 2), cborText("files"), cborHead(4, 1), big,
                               cborText("version"), cborText("1")});
    ArrivingExtraction extraction(bytes, dest, 2);
    for (size_t at = 100; at < bytes.size() / 2; at += 1000) extraction.show(at);
    const fs::path file = dest / "big";
    for (int i = 0; i < 500 && (!fs::exists(file) || fs::file_size(file) == 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(file) && fs::file_size(file) > 0) << "nothing decoded at half";
    EXPECT_EQ(extraction.finish(), "1");
    EXPECT_EQ(readBytes(file), plain);
}

// A worker whose wait gives up (here once, as a time limit would, while the walk goes on) ends
// the whole extraction with ReadWhole, not with the entry's failure, and leaves no file.
TEST_F(ExtractBundleTest, StreamWhoseEntryStopsArrivingIsReadWhole) {
    const std::vector<uint8_t> plain = patternBytes(200000, 8);
    const auto big = packedEntry("big", lzmaAloneEncode(plain.data(), plain.size(), 5));
    const auto bytes = joined({cborHead(5, 2), cborText("files"), cborHead(4, 2), big,
                               packedEntry("after", encode("after")), cborText("version"),
                               cborText("1")});
    const size_t cut = 100000;
    const size_t bigEnd = 8 + big.size();
    for (unsigned threads : {1u, 2u}) {
        fs::remove_all(dest);
        std::mutex mutex;
        std::condition_variable changed;
        bool refused = false;
        BundleStream stream(bytes.data(), bytes.size(), [&](size_t wanted) {
            std::unique_lock lock(mutex);
            // The first wait for a byte inside the entry past the cut (only its decoder asks
            // for one) gives up; the walk's wait for the rest is answered after it.
            if (wanted > cut && wanted < bigEnd && !refused) {
                refused = true;
                changed.notify_all();
                return cut;
            }
            if (wanted > cut)
                changed.wait_for(lock, std::chrono::seconds(10), [&] { return refused; });
            return refused ? bytes.size() : cut;
        });
        EXPECT_EQ(told(extractBundleStream(pathText(dest), stream, bytes.data(), UINT64_MAX, {},
                                           threads)),
                  "read whole");
        EXPECT_TRUE(refused);
        EXPECT_FALSE(fs::exists(dest / "big")) << threads;
    }
}

// Bytes that stop coming between two entries (the walk waits for the next head) leave the
// package to be read whole once it is there, and say why.
TEST_F(ExtractBundleTest, StreamWhoseBytesStopBetweenEntriesIsReadWhole) {
    const auto first = packedEntry("first", encode("first"));
    const auto bytes = joined({cborHead(5, 2), cborText("files"), cborHead(4, 2), first,
                               packedEntry("second", encode("second")), cborText("version"),
                               cborText("1")});
    const size_t cut = 8 + first.size() + 1;  // inside the second entry's head
    BundleStream stream(bytes.data(), bytes.size(), [&](size_t) { return cut; });
    EXPECT_EQ(told(extractBundleStream(pathText(dest), stream, bytes.data(), UINT64_MAX, {})),
              "read whole");
    EXPECT_EQ(stream.readWhole(), std::optional<std::string>("the package's bytes stopped coming"));
}

// The files' unpacked sizes count against the space given as they come.
TEST_F(ExtractBundleTest, StreamStopsBeforeFilesPassTheSpaceGiven) {
    const auto bytes = json::to_cbor(json{
        {"version", "1"},
        {"files", json::array({fileEntry("a", encode(std::string(1000, 'a'))),
                               fileEntry("b", encode(std::string(1000, 'b')))})}});
    BundleStream stream(bytes.data(), bytes.size(), [&](size_t) { return bytes.size(); });
    EXPECT_EQ(told(extractBundleStream(pathText(dest), stream, bytes.data(), 1999, {})),
              "read whole");
    BundleStream enough(bytes.data(), bytes.size(), [&](size_t) { return bytes.size(); });
    EXPECT_EQ(told(extractBundleStream(pathText(dest), enough, bytes.data(), 2000, {})), "done");
    EXPECT_EQ(enough.version(), "1");
}

// A key given twice counts with its last value, in an entry and in the document, on both roads
// (the stream leaves a second list of files to the whole road).
TEST_F(ExtractBundleTest, AFieldGivenTwiceCountsWithItsLastValue) {
    using Pairs = std::vector<std::pair<std::string, std::vector<uint8_t>>>;
    const auto map = [](const Pairs& pairs) {
        std::vector<uint8_t> bytes = cborHead(5, pairs.size());
        for (const auto& [key, value] : pairs) bytes = joined({bytes, cborText(key), value});
        return bytes;
    };
    const auto data = [](const std::string& text) {
        const std::vector<uint8_t> packed = encode(text);
        return joined({cborHead(2, packed.size()), packed});
    };
    const auto list = [](const std::vector<uint8_t>& entry) {
        return joined({cborHead(4, 1), entry});
    };
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
        std::string outcome;
    };
    const auto in = [&](const Pairs& entry) {
        return map({{"version", cborText("1")}, {"files", list(map(entry))}});
    };
    const std::vector<Row> rows = {
        {"data", in({{"n", cborText("a")}, {"t", cborText("f")}, {"d", data("first")},
                     {"d", data("second")}}),
         "ok 1: a=second;"},
        {"data, then text", in({{"n", cborText("a")}, {"t", cborText("f")}, {"d", data("x")},
                                {"d", cborText("x")}}),
         "Failed to extract file a: Unsupported data format in bundle for file: a"},
        {"text, then data", in({{"n", cborText("a")}, {"t", cborText("f")}, {"d", cborText("x")},
                                {"d", data("second")}}),
         "ok 1: a=second;"},
        {"name, number last", in({{"n", cborText("a")}, {"n", cborHead(0, 5)},
                                  {"t", cborText("d")}}),
         "[json.exception.type_error.302] type must be string, but is number"},
        {"type", in({{"n", cborText("a")}, {"t", cborText("f")}, {"t", cborText("d")}}),
         "ok 1: a/;"},
        {"version", map({{"version", cborText("1")}, {"files", list(map({{"n", cborText("a")},
                                                                         {"t", cborText("d")}}))},
                         {"version", cborHead(0, 2)}}),
         "ok : a/;"},
        {"files", map({{"version", cborText("1")},
                       {"files", list(map({{"n", cborText("a")}, {"t", cborText("d")}}))},
                       {"files", list(map({{"n", cborText("b")}, {"t", cborText("d")}}))}}),
         "ok 1: b/;"}};
    const fs::path other = scratch.path() / "streamed";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(wholeOutcome(row.bytes, dest), row.outcome);
        const std::string streamed = streamOutcome(row.bytes, other, 5);
        if (std::string(row.what) == "files") {
            EXPECT_EQ(streamed, "read whole");
        } else {
            EXPECT_EQ(streamed, row.outcome);
        }
    }
}

// Names Windows takes for one file, once their separators are folded, land in the bundle's
// order on a pool too: the second waits for the first to end. The first takes a while to decode
// yet its window is small, so that both would fit in the budget at once.
TEST_F(ExtractBundleTest, NamesEqualAfterFoldingSeparatorsLandInOrder) {
    const std::vector<uint8_t> noise = patternBytes(1 << 20, 11);
    const std::vector<uint8_t> slow = lzmaAloneEncode(noise.data(), noise.size(), 1);
    ASSERT_LT(2 * EntryDecoder::windowBytes(ItemHeader::of(slow.data(), slow.size())),
              kExtractWindowBudget);
    for (const auto& [first, second] : std::vector<std::pair<std::string, std::string>>{
             {"d/a", "d\\a"}, {"d\\a", "d/a"}, {"e/d\\a", "e\\d/a"}}) {
        SCOPED_TRACE(first + " " + second);
        fs::remove_all(dest);
        writeBundle(bundle, json::array({fileEntry(first, slow),
                                         fileEntry(second, encode("last"))}));
        EXPECT_EQ(told(extractBundle(pathText(dest), pathText(bundle), {}, 2)), "done");
        EXPECT_EQ(fileText(dest / (first[0] == 'e' ? "e/d/a" : "d/a")), "last");
    }
}

TEST(WriterPoolTest, TinyWindowBudgetStillWritesEveryFileInFull) {
    ScratchFolder scratch;
    const std::vector<uint8_t> item = kXzSampleLzma;
    std::vector<uint8_t> bundle;
    for (int i = 0; i < 3; ++i) bundle.insert(bundle.end(), item.begin(), item.end());
    {
        WriterPool pool(bundle.data(), 3, true, 1);
        for (size_t i = 0; i < 40; ++i) {
            const size_t at = (i % 3) * item.size();
            const std::string name = "f" + std::to_string(i);
            FileJob job{i, name, pathText(scratch.path() / name), {{at, item.size()}}, {}};
            ASSERT_TRUE(pool.add(std::move(job)));
        }
        EXPECT_TRUE(pool.close().isDone());
    }
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(readBytes(scratch.path() / ("f" + std::to_string(i))), kXzSamplePlain) << i;
}

}  // namespace
}  // namespace tessaryn

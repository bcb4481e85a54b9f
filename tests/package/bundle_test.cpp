// Extraction of bundles built with the JSON library's CBOR writer: order of work, progress,
// messages, malformed documents and hostile names.
#include "package/bundle.h"

#include <gtest/gtest.h>

#include "package/path_text.h"
#include "package/writer_pool.h"
#include "tests/package/package_test_support.h"
#include "tools/lzma_encode.h"
#include "xz_sample.h"

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

class ExtractBundleTest : public ::testing::Test {
  protected:
    // Extracts the bundle into dest, recording every report.
    void extract(const json& files) {
        writeBundle(bundle, files);
        extractBundle(pathText(dest), pathText(bundle), [this](float f, const std::string& m) {
            reports.push_back({f, m});
        });
    }
    std::string failure(const json& files) {
        try {
            extract(files);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no exception";
    }

    ScratchFolder scratch;
    // With a trailing separator, as the install sequence passes it.
    fs::path dest = scratch.path() / "Program Files" / "Tessaryn" / "";
    fs::path bundle = scratch.path() / "setup.pak";
    std::vector<Report> reports;
};

TEST_F(ExtractBundleTest, EmptyListMakesOnlyTheFolderAndFirstReports) {
    extract(json::array());
    EXPECT_TRUE(fs::is_directory(dest));
    EXPECT_TRUE(fs::is_empty(dest));
    const std::vector<Report> expected = {{0.0f, "Reading bundle file..."},
                                          {0.05f, "Parsing bundle..."},
                                          {0.1f, "Creating extraction directory..."}};
    EXPECT_EQ(reports, expected);
    reports.clear();
    extract(nullptr);
    EXPECT_EQ(reports, expected);
}

TEST_F(ExtractBundleTest, EntriesReportFractionsAndLand) {
    extract(json::array({dirEntry("bin"), fileEntry("/bin/app.txt", encode("hello")),
                         json{{"n", "ignored"}, {"t", "x"}},
                         fileEntry("docs\\deep/readme", encode(""))}));
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
    extract(json::array({fileEntry("a", encode("1")), fileEntry("a", encode("22"))}));
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[3].fraction, 0.1f);
    EXPECT_EQ(reports[4].fraction, 1.0f / 2.0f * 0.9f + 0.1f);
    EXPECT_EQ(fileText(dest / "a"), "22");  // later entries overwrite
}

TEST_F(ExtractBundleTest, MapOfEntriesIsTakenInKeyOrder) {
    extract(json{{"b", fileEntry("f", encode("second"))}, {"a", fileEntry("f", encode("first"))}});
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
    try {
        extractBundle(pathText(dest), pathText(missing), {});
        FAIL();
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Failed to read file: " + pathText(missing) + " (Error code: 200)");
    }
}

// One corrupt entry among many: with one thread or with a pool, the failure is that entry's,
// its partial file is gone, the entries before it are complete and no worker outlives the call.
TEST_F(ExtractBundleTest, CorruptEntryAmongManyStopsWithItsMessageAndLeavesNoWorker) {
    const std::vector<uint8_t> good = encode(std::string(kXzSamplePlain.begin(), kXzSamplePlain.end()));
    const std::vector<uint8_t> cut(good.begin(), good.end() - 20);  // input ends early: status 6
    json files = json::array({dirEntry("sub")});
    for (int i = 0; i < 300; ++i) {
        files.push_back(fileEntry("sub/f" + std::to_string(i), i == 170 ? cut : good));
    }
    writeBundle(bundle, files);
    const size_t threadsBefore = threadCount();
    for (unsigned threads : {1u, 2u, 8u}) {
        SCOPED_TRACE(threads);
        fs::remove_all(dest);
        try {
            extractBundle(pathText(dest), pathText(bundle), {}, threads);
            FAIL() << "no exception";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Failed to extract file sub/f170: Decompression failed for "
                                       "file: sub/f170 (Status code: 6)");
        }
        EXPECT_EQ(threadCount(), threadsBefore);
        EXPECT_FALSE(fs::exists(dest / "sub" / "f170"));
        for (int i = 0; i < 170; ++i) {
            ASSERT_EQ(fs::file_size(dest / "sub" / ("f" + std::to_string(i))), kXzSamplePlain.size())
                << i;
        }
    }
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
        EXPECT_ANY_THROW(extractBundle(pathText(dest), pathText(bundle), {}));
        EXPECT_FALSE(fs::exists(dest));
    }
    writeBytes(bundle, json::to_cbor(json{{"version", 1}, {"files", json::array()}}));
    try {
        extractBundle(pathText(dest), pathText(bundle), {});
    } catch (...) {
        FAIL() << "a well-formed empty bundle failed";
    }
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
            FileJob job{i, name, pathText(scratch.path() / name), {{at, item.size()}}};
            ASSERT_TRUE(pool.add(std::move(job)));
        }
        EXPECT_FALSE(pool.close().has_value());
    }
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(readBytes(scratch.path() / ("f" + std::to_string(i))), kXzSamplePlain) << i;
}

}  // namespace
}  // namespace tessaryn

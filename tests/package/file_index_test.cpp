// The file index: what signed settings may say, and an index that must describe its own package.
#include "package/file_index.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "package/signature_check.h"
#include "tests/package/package_test_support.h"
#include "tools/lzma_encode.h"

namespace tessaryn {
namespace {

using nlohmann::json;
using test::dirEntry;
using test::fileEntry;
using test::patternBytes;

Sha256Digest digestOf(const uint8_t* bytes, size_t size) {
    Sha256 hash;
    hash.add(bytes, size);
    return hash.finish().value();
}

// A package of folders and files, and its index made by finding each item's bytes in the file
// (not by reading the document as the code under test does).
struct Sample {
    std::vector<uint8_t> pak;
    FileIndex index;
    PackageBinding binding() const { return {pak.size(), digestOf(pak.data(), pak.size())}; }
};

Sample makeSample() {
    const std::vector<std::string> folders = {"bin", "share/empty"};
    const std::vector<std::string> names = {"bin/app.exe", "readme.txt", "share/data.bin"};
    json entries = json::array();
    for (const std::string& folder : folders) entries.push_back(dirEntry(folder));
    std::vector<std::vector<uint8_t>> plain, packed;
    for (size_t i = 0; i < names.size(); ++i) {
        plain.push_back(patternBytes(1000 + 700 * i, static_cast<uint32_t>(i + 1)));
        packed.push_back(lzmaAloneEncode(plain.back().data(), plain.back().size(), 5));
        entries.push_back(fileEntry((i == 1 ? "/" : "") + names[i], packed.back()));
    }
    Sample sample;
    sample.pak = json::to_cbor(json{{"version", "1.0"}, {"files", entries}});
    sample.pak.insert(sample.pak.end(), kSignatureBytes, 0x5a);
    sample.index.folders = folders;
    for (size_t i = 0; i < names.size(); ++i) {
        const auto at = std::search(sample.pak.begin(), sample.pak.end(), packed[i].begin(),
                                    packed[i].end());
        const uint64_t offset = static_cast<uint64_t>(at - sample.pak.begin());
        sample.index.files.push_back({names[i], plain[i].size(),
                                      digestOf(plain[i].data(), plain[i].size()), offset,
                                      packed[i].size(), digestOf(&*at, packed[i].size())});
    }
    return sample;
}

TEST(FileIndexTest, SettingsValuesAreReadStrictly) {
    const Sample sample = makeSample();
    const PackageBinding binding = sample.binding();
    const json good = fileIndexJson(sample.index);
    const uint64_t documentEnd = sample.pak.size() - kSignatureBytes;
    const std::string hash = good["files"][0][2];
    const auto edited = [&](const auto& edit) {
        json value = good;
        edit(value);
        return value;
    };
    const auto cell = [&](size_t row, size_t column, json v) {
        return edited([&](json& value) { value["files"][row][column] = std::move(v); });
    };
    const auto folder = [&](json v) {
        return edited([&](json& value) { value["folders"].push_back(std::move(v)); });
    };
    const auto lastSpan = [&](uint64_t offset, uint64_t length) {
        return edited([&](json& value) {
            value["files"][2][3] = offset;
            value["files"][2][4] = length;
        });
    };
    const struct {
        const char* what;
        json value;
    } rows[] = {
        {"not an object", json::array()},
        {"an extra key", edited([](json& v) { v["more"] = 1; })},
        {"no folders", edited([](json& v) { v.erase("folders"); })},
        {"files not an array", edited([](json& v) { v["files"] = json::object(); })},
        {"a row of five", edited([](json& v) { v["files"][0].erase(5); })},
        {"a row of seven", edited([](json& v) { v["files"][0].push_back(1); })},
        {"a negative size", cell(0, 1, -1)},
        {"a size as text", cell(0, 1, "1000")},
        {"a fractional offset", cell(0, 3, 10.5)},
        {"a name as a number", cell(0, 0, 7)},
        {"upper-case hex", cell(0, 2, [&] {
             std::string upper = hash;
             std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
             return upper;
         }())},
        {"a short bytes hash", cell(1, 5, hash.substr(2))},
        {"a name leaving the folder", cell(0, 0, "../app.exe")},
        {"an absolute name", cell(0, 0, "/bin/app.exe")},
        {"a device name", cell(1, 0, "bin/nul.txt")},
        {"a stream name", cell(1, 0, "readme.txt:hidden")},
        {"an empty name", cell(1, 0, "")},
        {"a name of the folder itself", cell(1, 0, "bin/..")},
        {"a file twice", cell(1, 0, "bin/app.exe")},
        {"a file twice, folded", cell(1, 0, "BIN\\App.exe")},
        {"a file twice, through a dot part", cell(1, 0, "bin/./app.exe")},
        {"a file twice, with a trailing dot", cell(1, 0, "bin/app.exe.")},
        {"a file twice, through a climb", cell(1, 0, "share/../bin/app.exe")},
        {"a file named as a folder", cell(1, 0, "Share/Empty")},
        {"a folder twice", folder("bin/")},
        {"a folder not text", folder(3)},
        {"a folder leaving", folder("..")},
        {"a folder under a file", folder("readme.txt/inner")},
        {"a file under a file", cell(2, 0, "readme.txt/data.bin")},
        {"a length of 0", cell(1, 4, uint64_t{0})},
        {"overlapping spans", cell(1, 3, good["files"][0][3].get<uint64_t>() + 1)},
        {"out of order", edited([](json& v) { std::swap(v["files"][0], v["files"][1]); })},
        {"a span into the signature", lastSpan(documentEnd - 10, 11)},
        {"a span past the file", lastSpan(sample.pak.size(), 1)},
        {"a span whose end overflows", lastSpan(UINT64_MAX - 5, 10)},
        {"a length past the document", lastSpan(0, documentEnd + 1)},
    };
    for (const auto& row : rows)
        EXPECT_FALSE(readFileIndex(row.value, binding).has_value()) << row.what;

    // The last span may end where the signature starts; an empty index is an index.
    EXPECT_TRUE(readFileIndex(lastSpan(documentEnd - 10, 10), binding).has_value());
    const json empty = {{"folders", json::array()}, {"files", json::array()}};
    EXPECT_TRUE(readFileIndex(empty, binding).has_value());
    const std::optional<FileIndex> read = readFileIndex(good, binding);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(fileIndexJson(*read), good);
    EXPECT_EQ(read->files[2].offset, sample.index.files[2].offset);
}

TEST(FileIndexTest, FoldsNamesAsWindowsOpensThem) {
    const struct {
        const char* name;
        const char* folded;
    } rows[] = {
        {"Bin\\App.EXE", "bin/app.exe"}, {"a//b/./c", "a/b/c"},   {"a/b/../c", "a/c"},
        {"a. /b.txt . ", "a/b.txt"},     {"x/..", ""},            {"\xC3\x84.txt", "\xC3\x84.txt"},
    };
    for (const auto& row : rows) EXPECT_EQ(foldedIndexName(row.name), row.folded) << row.name;
}

TEST(FileIndexTest, AnIndexMustDescribeItsOwnPackage) {
    const Sample sample = makeSample();
    const auto check = [&](const FileIndex& index) {
        return checkIndexAgainstPackage(index, sample.pak.data(), sample.pak.size());
    };
    EXPECT_EQ(check(sample.index), "");
    const auto edited = [&](const auto& edit) {
        FileIndex index = sample.index;
        edit(index);
        return index;
    };
    const struct {
        const char* what;
        FileIndex index;
        const char* words;
    } rows[] = {
        {"a file left out", edited([](FileIndex& i) { i.files.pop_back(); }),
         "file share/data.bin of the package is not in the index"},
        {"a file too many", edited([](FileIndex& i) { i.files.push_back(i.files.back()); }),
         "the index names file share/data.bin, which the package lacks"},
        {"a folder left out", edited([](FileIndex& i) { i.folders.pop_back(); }),
         "folder share/empty of the package is not the index's next"},
        {"a folder too many", edited([](FileIndex& i) { i.folders.push_back("more"); }),
         "the index names folder more, which the package lacks"},
        {"another name", edited([](FileIndex& i) { i.files[1].name = "README.txt"; }),
         "file readme.txt: the index names README.txt in its place"},
        {"a span one byte late", edited([](FileIndex& i) { i.files[0].offset += 1; }),
         "file bin/app.exe: the package holds it at bytes"},
        {"a span one byte short", edited([](FileIndex& i) { i.files[2].length -= 1; }),
         "file share/data.bin: the package holds it at bytes"},
        {"another size", edited([](FileIndex& i) { i.files[1].size += 1; }),
         "file readme.txt: its header states 1700 bytes, the index 1701"},
        {"another bytes hash", edited([](FileIndex& i) { i.files[2].bytesSha256[31] ^= 1; }),
         "file share/data.bin: its bytes' SHA-256 is not the one the index names"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(check(row.index).rfind(row.words, 0), 0u) << row.what << ": " << check(row.index);

    // A changed byte of an item is found by its hash; a package that is no document, by its words.
    std::vector<uint8_t> changed = sample.pak;
    changed[sample.index.files[0].offset + 20] ^= 0x10;
    EXPECT_EQ(checkIndexAgainstPackage(sample.index, changed.data(), changed.size()),
              "file bin/app.exe: its bytes' SHA-256 is not the one the index names");
    EXPECT_NE(checkIndexAgainstPackage(sample.index, sample.pak.data(), kSignatureBytes), "");
    std::vector<uint8_t> cut(sample.pak.begin(), sample.pak.begin() + 40);
    cut.insert(cut.end(), kSignatureBytes, 0);
    EXPECT_EQ(checkIndexAgainstPackage(sample.index, cut.data(), cut.size())
                  .rfind("the package cannot be read: ", 0),
              0u);
}

}  // namespace
}  // namespace tessaryn

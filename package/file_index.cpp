#include "package/file_index.h"

#include <algorithm>
#include <set>

#include "package/block_map.h"
#include "package/bundle_document.h"
#include "package/entry_name.h"
#include "package/lzma_entry.h"
#include "package/signature_check.h"
#include "system/ascii_text.h"

namespace tessaryn {

namespace {

using nlohmann::json;

std::optional<uint64_t> readCount(const json& value) {
    if (!value.is_number_unsigned()) return std::nullopt;
    return value.get<uint64_t>();
}

// The folded name of an entry name the extraction takes; empty for one it refuses, and for one
// that names the destination folder itself.
std::string checkedFoldedName(const json& value) {
    if (!value.is_string()) return {};
    const std::string& name = value.get_ref<const std::string&>();
    if (name.empty() || !entryNameEscapeReason(name).empty()) return {};
    return foldedIndexName(name);
}

// The names seen so far, folded, to refuse two rows for one path and a path under a file.
class NameSet {
  public:
    bool add(const std::string& folded, bool isFile) {
        if (folded.empty() || !all_.insert(folded).second) return false;
        if (isFile) files_.insert(folded);
        return true;
    }
    // True when no name lies under a file.
    bool nothingUnderAFile() const {
        for (const std::string& name : all_) {
            for (size_t at = name.find('/'); at != std::string::npos; at = name.find('/', at + 1))
                if (files_.count(name.substr(0, at)) != 0) return false;
        }
        return true;
    }

  private:
    std::set<std::string> all_;
    std::set<std::string> files_;
};

std::optional<IndexedFile> readRow(const json& row) {
    if (!row.is_array() || row.size() != 6 || !row[0].is_string()) return std::nullopt;
    const std::optional<uint64_t> size = readCount(row[1]);
    const std::optional<Sha256Digest> sha256 = readDigestText(row[2]);
    const std::optional<uint64_t> offset = readCount(row[3]);
    const std::optional<uint64_t> length = readCount(row[4]);
    const std::optional<Sha256Digest> bytesSha256 = readDigestText(row[5]);
    if (!size || !sha256 || !offset || !length || !bytesSha256) return std::nullopt;
    return IndexedFile{row[0].get<std::string>(), *size, *sha256, *offset, *length, *bytesSha256};
}

Sha256Digest digestOf(const uint8_t* bytes, uint64_t size) {
    Sha256 hash;
    hash.add(bytes, static_cast<size_t>(size));
    return hash.finish().value_or(Sha256Digest{});
}

std::string spanText(uint64_t offset, uint64_t length) {
    return "bytes " + std::to_string(offset) + " to " + std::to_string(offset + length);
}

// The disagreement of one file entry with its row; empty when they agree.
std::string checkFileRow(const IndexedFile& row, const BundleEntry& entry, const uint8_t* package) {
    const std::string what = "file " + entry.name + ": ";
    if (row.name != entry.name) return what + "the index names " + row.name + " in its place";
    if (entry.data.size() != 1) return what + "its data is not one span";
    const auto [offset, length] = entry.data.front();
    if (row.offset != offset || row.length != length) {
        return what + "the package holds it at " + spanText(offset, length) + ", the index at " +
               spanText(row.offset, row.length);
    }
    const ItemHeader header = ItemHeader::of(package + offset, length);
    const std::optional<uint64_t> stated = header.declaredSize();
    if (stated && *stated != row.size) {
        return what + "its header states " + std::to_string(*stated) + " bytes, the index " +
               std::to_string(row.size);
    }
    if (digestOf(package + offset, length) != row.bytesSha256)
        return what + "its bytes' SHA-256 is not the one the index names";
    return {};
}

}  // namespace

std::string foldedIndexName(const std::string& name) {
    const std::string text = lowerCaseAscii(name);
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("/\\", start);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(start, end - start);
        // Windows drops a part's trailing dots and spaces: "app.exe." opens "app.exe".
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        const bool dotDot = end - start == 2 && text.compare(start, 2, "..") == 0;
        if (dotDot) {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty()) {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    std::string folded;
    for (const std::string& part : parts) folded += (folded.empty() ? "" : "/") + part;
    return folded;
}

std::optional<FileIndex> readFileIndex(const json& value, const PackageBinding& package) {
    if (!value.is_object() || value.size() != 2) return std::nullopt;
    const auto folders = value.find("folders");
    const auto files = value.find("files");
    if (folders == value.end() || !folders->is_array() || files == value.end() ||
        !files->is_array())
        return std::nullopt;
    // The spans lie in the signed document, which the 64-byte signature follows.
    const uint64_t documentEnd =
        package.size > kSignatureBytes ? package.size - kSignatureBytes : 0;
    FileIndex index;
    NameSet names;
    for (const json& folder : *folders) {
        if (!names.add(checkedFoldedName(folder), false)) return std::nullopt;
        index.folders.push_back(folder.get<std::string>());
    }
    uint64_t spansEnd = 0;
    for (const json& row : *files) {
        std::optional<IndexedFile> file = readRow(row);
        if (!file || !names.add(checkedFoldedName(row[0]), true)) return std::nullopt;
        if (file->length == 0 || file->offset < spansEnd || file->length > documentEnd ||
            file->offset > documentEnd - file->length)
            return std::nullopt;
        spansEnd = file->offset + file->length;
        index.files.push_back(std::move(*file));
    }
    if (!names.nothingUnderAFile()) return std::nullopt;
    return index;
}

json fileIndexJson(const FileIndex& index) {
    json files = json::array();
    for (const IndexedFile& file : index.files) {
        files.push_back(json::array({file.name, file.size, sha256Hex(file.sha256), file.offset,
                                     file.length, sha256Hex(file.bytesSha256)}));
    }
    return json{{"folders", index.folders}, {"files", std::move(files)}};
}

std::string checkIndexAgainstPackage(const FileIndex& index, const uint8_t* package,
                                     uint64_t size) {
    if (size <= kSignatureBytes || size - kSignatureBytes > SIZE_MAX)
        return "the package is too short to hold a document";
    size_t folder = 0;
    size_t file = 0;
    try {
        const BundleDocument document(package, static_cast<size_t>(size - kSignatureBytes));
        for (size_t at = 0; at < document.entryCount(); ++at) {
            const BundleEntry entry = document.entry(at);
            if (entry.kind == EntryKind::Folder) {
                if (folder == index.folders.size() || index.folders[folder] != entry.name)
                    return "folder " + entry.name + " of the package is not the index's next";
                ++folder;
            } else if (entry.kind == EntryKind::File) {
                if (file == index.files.size())
                    return "file " + entry.name + " of the package is not in the index";
                const std::string wrong = checkFileRow(index.files[file], entry, package);
                if (!wrong.empty()) return wrong;
                ++file;
            }
        }
    } catch (const std::exception& error) {
        return std::string("the package cannot be read: ") + error.what();
    }
    if (folder != index.folders.size())
        return "the index names folder " + index.folders[folder] + ", which the package lacks";
    if (file != index.files.size())
        return "the index names file " + index.files[file].name + ", which the package lacks";
    return {};
}

}  // namespace tessaryn

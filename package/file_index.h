#pragma once
// The package's file index, carried in the signed settings: for each file entry its name,
// unpacked size and SHA-256, and where its LZMA item lies in the .pak file with that span's
// SHA-256. Without the whole package its signature cannot be checked; the index takes its place:
// every byte taken from a span, and every file decoded from it, is bound by a hash the signed
// settings name.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/release_rules.h"
#include "package/sha256.h"

namespace tessaryn {

struct IndexedFile {
    std::string name;  // as the bundle's entry names it, without the optional leading "/"
    uint64_t size = 0;  // unpacked bytes
    Sha256Digest sha256{};  // of the unpacked file
    uint64_t offset = 0;  // the entry's LZMA item as bytes [offset, offset + length) of the .pak
    uint64_t length = 0;
    Sha256Digest bytesSha256{};  // of those bytes
};

struct FileIndex {
    std::vector<std::string> folders;
    std::vector<IndexedFile> files;  // in the bundle's order
};

// The name as Windows compares it, for finding two names of one file: ASCII case and the
// separator folded, empty and "." parts dropped, ".." taken back, trailing dots and spaces of a
// part dropped. Only for names that passed entryNameEscapeReason.
std::string foldedIndexName(const std::string& name);

// {"folders": [names], "files": [[name, size, "<sha256>", offset, length, "<sha256>"], ...]} and
// nothing else. Empty for any other value: wrong types or row lengths, hex that is not 64
// lower-case digits, a name the extraction would refuse (or an empty one), two names of one
// file or folder, a file named as a folder or lying under a file, a length of 0, a span outside
// the package's signed document (the .pak without its signature) or not after the one before.
std::optional<FileIndex> readFileIndex(const nlohmann::json& value, const PackageBinding& package);
nlohmann::json fileIndexJson(const FileIndex& index);

// Empty when the index describes the whole .pak file exactly: each file entry of its document,
// in order, has its row (same name, same span, that span's hash, the unpacked size its LZMA
// header states when it states one), each folder entry its name, and nothing else is listed.
// Otherwise the first disagreement in words. Hashes every span; decodes nothing.
std::string checkIndexAgainstPackage(const FileIndex& index, const uint8_t* package,
                                     uint64_t size);

}  // namespace tessaryn

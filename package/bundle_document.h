#pragma once
// The bundle's CBOR document read in place: the whole document is checked when it is opened, and
// each entry is then read with the checks extraction makes, so that everything that lists a
// bundle (the setup, the publisher's inspect) takes and refuses the same documents.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tessaryn {

enum class EntryKind { Folder, File, Ignored };

// One entry as extraction sees it.
struct BundleEntry {
    std::string name;  // without its one optional leading "/"
    EntryKind kind = EntryKind::Ignored;
    // A file's LZMA item: (offset, length) spans of the document, in order. One span unless the
    // byte string came in chunks; the bytes are never copied.
    std::vector<std::pair<size_t, size_t>> data;
    // Set by a reader of arriving bytes for a file whose data is not all there yet: waits until
    // at least `wanted` bytes of the document can be read, returns how many can (fewer: it
    // gave up). Empty when all of the entry's bytes are there.
    std::function<size_t(size_t wanted)> arriving;
};

// Reads the entry item at offset as BundleDocument::entry does (its framing already checked).
BundleEntry readBundleEntry(const uint8_t* data, size_t size, size_t offset);

class BundleDocument {
  public:
    // Walks every byte of the document (held by the caller, unchanged while this lives). Throws
    // the JSON library's parse_error for bad CBOR (tags, trailing bytes, nesting too deep) and
    // std::runtime_error("Invalid bundle file format") for a root that is not a map, or that
    // lacks "version" or a list of files ("files": an array, a map taken in key order, or null).
    BundleDocument(const uint8_t* data, size_t size);

    size_t entryCount() const { return places_.size(); }
    // The "version" value when it is text, else empty.
    const std::string& version() const { return version_; }

    // Reads the entry at index (in extraction order). Throws std::runtime_error with the text
    // extraction stops with: the JSON library's type_error for an entry that is not a map or
    // whose "n" or "t" is not text, "Invalid bundle entry: missing ..." for either missing, and
    // "Failed to extract file NAME: ..." for a folder or file whose name leaves the destination
    // or a file without a byte string "d". Entries of other types are Ignored.
    BundleEntry entry(size_t index) const;
    // Where the entry's item starts in the document.
    size_t entryOffset(size_t index) const { return places_[index]; }

  private:
    const uint8_t* data_;
    size_t size_;
    std::string version_;
    std::vector<size_t> places_;  // where each entry's item starts
};

}  // namespace tessaryn

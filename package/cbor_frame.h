#pragma once
// The framing of the bundle's CBOR document, read in place: item heads, strings, and the extent
// of whole items, checked as strictly as the JSON library's reader (no tags, keys are text, no
// bytes after the document) but without copying byte strings. Errors are the JSON library's
// parse_error.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaryn {

struct CborHead {
    uint8_t major = 0;   // 0..7
    uint8_t initial = 0; // the whole initial byte
    bool indefinite = false;
    uint64_t value = 0;  // length, count or number
};

class CborCursor {
  public:
    CborCursor(const uint8_t* data, size_t size, size_t position = 0)
        : data_(data), size_(size), position_(position) {}

    size_t position() const { return position_; }
    bool atEnd() const { return position_ == size_; }
    const uint8_t* data() const { return data_; }

    CborHead head();
    bool nextIsBreak();  // consumes a break byte when it is next
    // A text string (definite or in chunks) whose head was just read.
    std::string text(const CborHead& head);
    // A byte string whose head was just read: in place when definite (pieces holds one span),
    // else its chunks in order.
    void bytes(const CborHead& head, std::vector<std::pair<size_t, size_t>>& pieces);
    // Skips the rest of an item whose head was just read, checking it.
    void skip(const CborHead& head, int depth = 0);
    [[noreturn]] void fail(int id, const std::string& what) const;

  private:
    uint8_t next();
    size_t take(uint64_t length);  // position of `length` bytes that are skipped

    const uint8_t* data_;
    size_t size_;
    size_t position_;
};

}  // namespace tessaryn

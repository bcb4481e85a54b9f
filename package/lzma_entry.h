#pragma once
// Streamed decoding of one bundle entry's LZMA-Alone data.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace tessaryn {

// How decoding an item ended. The values are the status codes the failure's text shows: the
// LZMA SDK's own results, and ours from 100 on.
enum class DecodeStatus : int {
    Ok = 0,
    Data = 1,            // corrupt data
    Memory = 2,          // no memory for the window
    Properties = 4,      // unsupported properties
    InputEnded = 6,      // the data ends before the stream does
    HeaderTooShort = 100,
    OutputRefused = 101,  // the sink said stop (write failure, cancellation)
    InputStopped = 102,   // the item's bytes stopped arriving: not its fault
};

// An LZMA-Alone item starts with its properties (5 bytes) and its unpacked size (8 bytes,
// little-endian; all ones: no size, the stream ends with its end marker).
inline constexpr size_t kItemHeaderBytes = 13;

// The header of one item, read from the spans of the bundle where the item lies (it may lie
// across them). Nothing past the header is read: of an arriving item, nothing more may be there.
struct ItemHeader {
    std::array<uint8_t, kItemHeaderBytes> bytes{};
    size_t held = 0;        // the header's bytes the item has: fewer when it is too short
    uint64_t itemBytes = 0;  // the whole item, header included

    static ItemHeader of(const uint8_t* bundle,
                         const std::vector<std::pair<size_t, size_t>>& spans);
    static ItemHeader of(const uint8_t* item, size_t size);

    bool complete() const { return held == kItemHeaderBytes; }
    // The size it states; none without one (or without a whole header).
    std::optional<uint64_t> declaredSize() const;
    uint32_t dictionary() const;
    // The bytes the item's file takes once unpacked: the stated size, else its packed size.
    uint64_t unpackedBytes() const { return declaredSize().value_or(itemBytes); }
};

// Receives the decoded bytes in order, in chunks; returns false to stop the decoding.
using DecodedSink = std::function<bool(const uint8_t*, size_t)>;

// For an item whose bytes are still arriving: waits until at least `wanted` of its first bytes
// can be read and returns how many can (fewer when it gives up).
using ArrivingInput = std::function<size_t(size_t wanted)>;

// Decodes entries one after another, keeping its window buffer between them: the buffer grows to
// the largest window an entry needs (its dictionary, capped by the entry's size, at least 4 KiB
// and at most 1 MiB beyond that) and is the only memory an entry costs besides 30 KiB of state.
class EntryDecoder {
  public:
    EntryDecoder();
    ~EntryDecoder();
    EntryDecoder(const EntryDecoder&) = delete;
    EntryDecoder& operator=(const EntryDecoder&) = delete;

    // Decodes the `size` bytes at data. With `arriving`, only the bytes it tells of are read:
    // the decoding goes as far as they allow, then waits for more (InputStopped when they stop
    // coming). What is decoded, and any error, is the same as with all bytes at once.
    DecodeStatus decode(const uint8_t* data, size_t size, const DecodedSink& sink,
               const ArrivingInput& arriving = {});

    // The window decode() uses for the item; 0 for an item too short to have a header.
    static size_t windowBytes(const ItemHeader& header);
    // Gives the window back when it is larger than `keep` bytes.
    void shrink(size_t keep);

  private:
    // Grows the window to at least `bytes`; false when there is no memory for it.
    bool holdWindow(size_t bytes);
    std::unique_ptr<uint8_t[]> window_;
    size_t capacity_ = 0;
};

// Decodes one LZMA-Alone item and appends the bytes to output.
DecodeStatus decompressEntry(const std::vector<uint8_t>& compressed, std::vector<uint8_t>& output);

}  // namespace tessaryn

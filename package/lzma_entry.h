#pragma once
// Streamed decoding of one bundle entry's LZMA-Alone data.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tessaryn {

// Status codes besides the LZMA SDK's own (0 = success, 1 data, 2 memory, 4 properties, 6 input
// ended early).
inline constexpr int kHeaderTooShort = 100;
inline constexpr int kOutputRefused = 101;  // the sink said stop (write failure, cancellation)
inline constexpr int kInputStopped = 102;   // the item's bytes stopped arriving: not its fault

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
    // the decoding goes as far as they allow, then waits for more (kInputStopped when they
    // stop coming). What is decoded, and any error, is the same as with all bytes at once.
    int decode(const uint8_t* data, size_t size, const DecodedSink& sink,
               const ArrivingInput& arriving = {});

    // The window decode() uses for an item of `size` bytes whose header (its first 13 bytes)
    // is at `header`; 0 for an item too short to have one.
    static size_t windowBytes(const uint8_t* header, size_t size);
    // Gives the window back when it is larger than `keep` bytes.
    void shrink(size_t keep);

  private:
    std::unique_ptr<uint8_t[]> window_;
    size_t capacity_ = 0;
};

// Decodes one LZMA-Alone item and appends the bytes to output. 0 on success, else an LZMA SDK
// result code or kHeaderTooShort.
int decompressEntry(const std::vector<uint8_t>& compressed, std::vector<uint8_t>& output);

}  // namespace tessaryn

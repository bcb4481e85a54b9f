// Decoding of one bundle entry's LZMA-Alone data with the LZMA SDK, streamed through a window
// buffer: the output never has to fit in memory, only the dictionary does.
#include "package/lzma_entry.h"

#include <LzmaDec.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace tessaryn {

namespace {

constexpr size_t kHeaderBytes = LZMA_PROPS_SIZE + 8;
constexpr size_t kRangeCoderStartBytes = 5;
constexpr size_t kChunkBytes = 1024 * 1024;
constexpr size_t kSmallestWindow = 4096;  // the SDK's smallest dictionary

void* allocate(void*, size_t size) {
    return std::malloc(size);
}
void release(void*, void* address) {
    std::free(address);
}
ISzAlloc gAllocator = {allocate, release};

// LZMA cannot spend less than about 0.31 bits of input on 273 bytes of output, so no stream
// yields more than ~7100 bytes per input byte (xz at its best reaches 7085 on zeros), plus what
// the range coder's start bytes hold. Sizing buffers and the dictionary by twice that bound keeps
// a corrupt header from asking for exabytes and never shortens the output of a real stream.
size_t producibleBound(size_t inputBytes) {
    constexpr size_t kPerInputByte = 16384;
    constexpr size_t kSlack = 64 * 1024;
    if (inputBytes > (SIZE_MAX - kSlack) / kPerInputByte) return SIZE_MAX;
    return inputBytes * kPerInputByte + kSlack;
}

// What decoding an item needs to know before it starts, from its 13-byte header.
struct StreamPlan {
    bool unknown = true;    // no size: the stream ends with the end marker
    uint64_t declared = 0;  // the size the header states
    uint64_t limit = 0;     // where output stops
    uint32_t dictionary = 0;
    size_t window = 0;
};

StreamPlan planStream(const uint8_t* header, size_t size) {
    StreamPlan plan;
    for (size_t i = 0; i < 8; ++i) {
        const uint8_t byte = header[LZMA_PROPS_SIZE + i];
        plan.declared |= static_cast<uint64_t>(byte) << (8 * i);
        plan.unknown = plan.unknown && byte == 0xFF;
    }
    const size_t bound = producibleBound(size - kHeaderBytes);
    // Output stops at the declared size, or, for an unknown size, at the end marker.
    plan.limit = plan.unknown ? UINT64_MAX : std::min<uint64_t>(plan.declared, bound);
    // A dictionary larger than all the output there can be is never filled: cap it. Matches
    // never reach back further than the output so far, so the capped stream decodes the same.
    for (int i = 0; i < 4; ++i) plan.dictionary |= static_cast<uint32_t>(header[1 + i]) << (8 * i);
    const uint64_t reach = std::min<uint64_t>(plan.limit, bound);
    if (plan.dictionary > reach) plan.dictionary = static_cast<uint32_t>(reach);
    plan.window = std::max<size_t>({kSmallestWindow, plan.dictionary,
                                    static_cast<size_t>(std::min<uint64_t>(reach, kChunkBytes))});
    return plan;
}

}  // namespace

EntryDecoder::EntryDecoder() = default;
EntryDecoder::~EntryDecoder() = default;

size_t EntryDecoder::windowBytes(const uint8_t* header, size_t size) {
    return size < kHeaderBytes ? 0 : planStream(header, size).window;
}

void EntryDecoder::shrink(size_t keep) {
    if (capacity_ <= keep) return;
    window_.reset();
    capacity_ = 0;
}

int EntryDecoder::decode(const uint8_t* data, size_t size, const DecodedSink& sink,
                         const ArrivingInput& arriving) {
    if (size < kHeaderBytes) return kHeaderTooShort;
    // The bytes that can be read now; the header is waited for before anything else.
    size_t readable = size;
    if (arriving) {
        readable = std::min(arriving(kHeaderBytes), size);
        if (readable < kHeaderBytes) return kInputStopped;
    }
    const StreamPlan plan = planStream(data, size);
    const bool unknown = plan.unknown;
    const uint64_t declared = plan.declared;
    const uint64_t limit = plan.limit;
    const size_t inputBytes = size - kHeaderBytes;
    uint8_t props[LZMA_PROPS_SIZE];
    std::copy(data, data + LZMA_PROPS_SIZE, props);
    for (int i = 0; i < 4; ++i) props[1 + i] = static_cast<uint8_t>(plan.dictionary >> (8 * i));
    const size_t window = plan.window;
    if (window > capacity_) {
        window_.reset();
        capacity_ = 0;
        window_.reset(new (std::nothrow) uint8_t[window]);
        if (!window_) return SZ_ERROR_MEM;
        capacity_ = window;
    }
    if (!unknown && inputBytes < kRangeCoderStartBytes) return SZ_ERROR_INPUT_EOF;

    CLzmaDec state;
    LzmaDec_Construct(&state);
    SRes result = LzmaDec_AllocateProbs(&state, props, LZMA_PROPS_SIZE, &gAllocator);
    if (result != SZ_OK) return result;
    state.dic = window_.get();
    state.dicBufSize = window;
    LzmaDec_Init(&state);

    const uint8_t* input = data + kHeaderBytes;
    size_t inputLeft = readable - kHeaderBytes;
    uint64_t outputLeft = limit;
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    bool refused = false;
    bool stopped = false;
    for (;;) {
        if (state.dicPos == state.dicBufSize) state.dicPos = 0;
        const size_t start = state.dicPos;
        const size_t room = state.dicBufSize - start;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(room, outputLeft));
        SizeT consumed = inputLeft;
        result = LzmaDec_DecodeToDic(&state, start + want, input, &consumed, LZMA_FINISH_ANY,
                                     &status);
        const size_t produced = state.dicPos - start;
        input += consumed;
        inputLeft -= consumed;
        outputLeft -= produced;
        if (produced > 0 && !sink(state.dic + start, produced)) {
            refused = true;
            break;
        }
        if (result != SZ_OK) break;
        if (!unknown && outputLeft == 0) break;
        if (status == LZMA_STATUS_FINISHED_WITH_MARK) break;
        if (status == LZMA_STATUS_NEEDS_MORE_INPUT && readable < size) {
            // What has arrived is used up (the decoder keeps a partial symbol): wait for more.
            const size_t now = std::min(arriving(readable + 1), size);
            if (now <= readable) {
                stopped = true;
                break;
            }
            inputLeft += now - readable;
            readable = now;
            continue;
        }
        if (status == LZMA_STATUS_NEEDS_MORE_INPUT) break;
        if (consumed == 0 && produced == 0) break;
    }
    LzmaDec_FreeProbs(&state, &gAllocator);
    if (refused) return kOutputRefused;
    if (stopped) return kInputStopped;
    if (result != SZ_OK) return result;
    if (unknown) {
        // Without a size the end marker is the only proof that the stream is complete.
        return status == LZMA_STATUS_FINISHED_WITH_MARK ? SZ_OK : SZ_ERROR_DATA;
    }
    if (status == LZMA_STATUS_NEEDS_MORE_INPUT) return SZ_ERROR_INPUT_EOF;
    // Output that stops at the bound, short of the declared size, means the input ran out first.
    if (outputLeft == 0 && limit < declared) return SZ_ERROR_INPUT_EOF;
    if (outputLeft != 0 && status != LZMA_STATUS_FINISHED_WITH_MARK) return SZ_ERROR_DATA;
    return SZ_OK;
}

int decompressEntry(const std::vector<uint8_t>& compressed, std::vector<uint8_t>& output) {
    try {
        EntryDecoder decoder;
        return decoder.decode(compressed.data(), compressed.size(),
                              [&output](const uint8_t* bytes, size_t size) {
                                  output.insert(output.end(), bytes, bytes + size);
                                  return true;
                              });
    } catch (const std::bad_alloc&) {
        return SZ_ERROR_MEM;
    } catch (const std::length_error&) {
        return SZ_ERROR_MEM;
    }
}

}  // namespace tessaryn

// Decoding of one bundle entry's LZMA-Alone data with the LZMA SDK, streamed through a window
// buffer: the output never has to fit in memory, only the dictionary does.
#include "package/lzma_entry.h"

#include <LzmaDec.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace tessaryn {

namespace {

constexpr size_t kHeaderBytes = kItemHeaderBytes;
static_assert(kHeaderBytes == LZMA_PROPS_SIZE + 8);
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

// For an item with a whole header.
StreamPlan planStream(const ItemHeader& header) {
    StreamPlan plan;
    const std::optional<uint64_t> declared = header.declaredSize();
    plan.unknown = !declared;
    plan.declared = declared.value_or(UINT64_MAX);
    const size_t bound = producibleBound(static_cast<size_t>(header.itemBytes) - kHeaderBytes);
    // Output stops at the declared size, or, for an unknown size, at the end marker.
    plan.limit = plan.unknown ? UINT64_MAX : std::min<uint64_t>(plan.declared, bound);
    // A dictionary larger than all the output there can be is never filled: cap it. Matches
    // never reach back further than the output so far, so the capped stream decodes the same.
    plan.dictionary = header.dictionary();
    const uint64_t reach = std::min<uint64_t>(plan.limit, bound);
    if (plan.dictionary > reach) plan.dictionary = static_cast<uint32_t>(reach);
    plan.window = std::max<size_t>({kSmallestWindow, plan.dictionary,
                                    static_cast<size_t>(std::min<uint64_t>(reach, kChunkBytes))});
    return plan;
}

// The SDK's results that decoding can meet, each as itself.
DecodeStatus statusOf(SRes result) {
    switch (result) {
        case SZ_OK: return DecodeStatus::Ok;
        case SZ_ERROR_MEM: return DecodeStatus::Memory;
        case SZ_ERROR_UNSUPPORTED: return DecodeStatus::Properties;
        case SZ_ERROR_INPUT_EOF: return DecodeStatus::InputEnded;
        default: return DecodeStatus::Data;
    }
}

// How a stream that stopped without an error ended.
DecodeStatus endOf(const StreamPlan& plan, ELzmaStatus status, uint64_t outputLeft) {
    if (plan.unknown) {
        // Without a size the end marker is the only proof that the stream is complete.
        return status == LZMA_STATUS_FINISHED_WITH_MARK ? DecodeStatus::Ok : DecodeStatus::Data;
    }
    if (status == LZMA_STATUS_NEEDS_MORE_INPUT) return DecodeStatus::InputEnded;
    // Output that stops at the bound, short of the declared size, means the input ran out first.
    if (outputLeft == 0 && plan.limit < plan.declared) return DecodeStatus::InputEnded;
    if (outputLeft != 0 && status != LZMA_STATUS_FINISHED_WITH_MARK) return DecodeStatus::Data;
    return DecodeStatus::Ok;
}

}  // namespace

ItemHeader ItemHeader::of(const uint8_t* bundle,
                          const std::vector<std::pair<size_t, size_t>>& spans) {
    ItemHeader header;
    for (const auto& [at, length] : spans) {
        for (size_t i = 0; i < length && header.held < kHeaderBytes; ++i)
            header.bytes[header.held++] = bundle[at + i];
        header.itemBytes += length;
    }
    return header;
}

ItemHeader ItemHeader::of(const uint8_t* item, size_t size) {
    ItemHeader header = of(item, {{0, std::min(size, kHeaderBytes)}});
    header.itemBytes = size;
    return header;
}

std::optional<uint64_t> ItemHeader::declaredSize() const {
    if (!complete()) return std::nullopt;
    uint64_t declared = 0;
    bool unknown = true;
    for (size_t i = 0; i < 8; ++i) {
        const uint8_t byte = bytes[LZMA_PROPS_SIZE + i];
        declared |= static_cast<uint64_t>(byte) << (8 * i);
        unknown = unknown && byte == 0xFF;
    }
    if (unknown) return std::nullopt;
    return declared;
}

uint32_t ItemHeader::dictionary() const {
    uint32_t dictionary = 0;
    for (int i = 0; i < 4; ++i) dictionary |= static_cast<uint32_t>(bytes[1 + i]) << (8 * i);
    return dictionary;
}

EntryDecoder::EntryDecoder() = default;
EntryDecoder::~EntryDecoder() = default;

size_t EntryDecoder::windowBytes(const ItemHeader& header) {
    return header.complete() ? planStream(header).window : 0;
}

bool EntryDecoder::holdWindow(size_t bytes) {
    if (bytes <= capacity_) return true;
    window_.reset();
    capacity_ = 0;
    window_.reset(new (std::nothrow) uint8_t[bytes]);
    if (!window_) return false;
    capacity_ = bytes;
    return true;
}

void EntryDecoder::shrink(size_t keep) {
    if (capacity_ <= keep) return;
    window_.reset();
    capacity_ = 0;
}

DecodeStatus EntryDecoder::decode(const uint8_t* data, size_t size, const DecodedSink& sink,
                                  const ArrivingInput& arriving) {
    if (size < kHeaderBytes) return DecodeStatus::HeaderTooShort;
    // The bytes that can be read now; the header is waited for before anything else.
    size_t readable = size;
    if (arriving) {
        readable = std::min(arriving(kHeaderBytes), size);
        if (readable < kHeaderBytes) return DecodeStatus::InputStopped;
    }
    const StreamPlan plan = planStream(ItemHeader::of(data, size));
    const bool unknown = plan.unknown;
    const size_t inputBytes = size - kHeaderBytes;
    uint8_t props[LZMA_PROPS_SIZE];
    std::copy(data, data + LZMA_PROPS_SIZE, props);
    for (int i = 0; i < 4; ++i) props[1 + i] = static_cast<uint8_t>(plan.dictionary >> (8 * i));
    const size_t window = plan.window;
    if (!holdWindow(window)) return DecodeStatus::Memory;
    if (!unknown && inputBytes < kRangeCoderStartBytes) return DecodeStatus::InputEnded;

    CLzmaDec state;
    LzmaDec_Construct(&state);
    SRes result = LzmaDec_AllocateProbs(&state, props, LZMA_PROPS_SIZE, &gAllocator);
    if (result != SZ_OK) return statusOf(result);
    state.dic = window_.get();
    state.dicBufSize = window;
    LzmaDec_Init(&state);

    const uint8_t* input = data + kHeaderBytes;
    size_t inputLeft = readable - kHeaderBytes;
    uint64_t outputLeft = plan.limit;
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
    if (refused) return DecodeStatus::OutputRefused;
    if (stopped) return DecodeStatus::InputStopped;
    if (result != SZ_OK) return statusOf(result);
    return endOf(plan, status, outputLeft);
}

DecodeStatus decompressEntry(const std::vector<uint8_t>& compressed,
                             std::vector<uint8_t>& output) {
    try {
        EntryDecoder decoder;
        return decoder.decode(compressed.data(), compressed.size(),
                              [&output](const uint8_t* bytes, size_t size) {
                                  output.insert(output.end(), bytes, bytes + size);
                                  return true;
                              });
    } catch (const std::bad_alloc&) {
        return DecodeStatus::Memory;
    } catch (const std::length_error&) {
        return DecodeStatus::Memory;
    }
}

}  // namespace tessaryn

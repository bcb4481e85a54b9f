// Decoding of one bundle entry's LZMA-Alone data with the LZMA SDK.
#include <LzmaDec.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "package/bundle.h"

namespace tessaryn {

namespace {

constexpr size_t kHeaderBytes = LZMA_PROPS_SIZE + 8;
constexpr size_t kRangeCoderStartBytes = 5;
constexpr size_t kStreamBufferBytes = 64 * 1024;

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

int decodeUnknownSize(const uint8_t* data, size_t size, std::vector<uint8_t>& output) {
    // A dictionary larger than all the output the input can yield is never filled: cap it.
    uint8_t props[LZMA_PROPS_SIZE];
    std::memcpy(props, data, LZMA_PROPS_SIZE);
    uint32_t dictionary = 0;
    for (int i = 0; i < 4; ++i) dictionary |= static_cast<uint32_t>(props[1 + i]) << (8 * i);
    const size_t bound = producibleBound(size - kHeaderBytes);
    if (dictionary > bound) {
        for (int i = 0; i < 4; ++i) props[1 + i] = static_cast<uint8_t>(bound >> (8 * i));
    }

    CLzmaDec state;
    LzmaDec_Construct(&state);
    SRes result = LzmaDec_Allocate(&state, props, LZMA_PROPS_SIZE, &gAllocator);
    if (result != SZ_OK) return result;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kStreamBufferBytes]);
    if (!buffer) {
        LzmaDec_Free(&state, &gAllocator);
        return SZ_ERROR_MEM;
    }
    LzmaDec_Init(&state);

    const uint8_t* input = data + kHeaderBytes;
    size_t inputLeft = size - kHeaderBytes;
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    for (;;) {
        SizeT consumed = inputLeft;
        SizeT produced = kStreamBufferBytes;
        result = LzmaDec_DecodeToBuf(&state, buffer.get(), &produced, input, &consumed,
                                     LZMA_FINISH_ANY, &status);
        output.insert(output.end(), buffer.get(), buffer.get() + produced);
        input += consumed;
        inputLeft -= consumed;
        if (result != SZ_OK) break;
        if (consumed == 0 && produced == 0) break;
    }
    LzmaDec_Free(&state, &gAllocator);
    if (result != SZ_OK) return result;
    // Without a size the end marker is the only proof that the stream is complete.
    return status == LZMA_STATUS_FINISHED_WITH_MARK ? SZ_OK : SZ_ERROR_DATA;
}

int decodeKnownSize(const uint8_t* data, size_t size, uint64_t declared,
                    std::vector<uint8_t>& output) {
    const size_t inputBytes = size - kHeaderBytes;
    const uint64_t bound = producibleBound(inputBytes);
    const size_t capacity = static_cast<size_t>(std::min<uint64_t>(declared, bound));
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[capacity == 0 ? 1 : capacity]);
    if (!buffer) return SZ_ERROR_MEM;
    if (inputBytes < kRangeCoderStartBytes) return SZ_ERROR_INPUT_EOF;

    SizeT produced = capacity;
    SizeT consumed = inputBytes;
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    // LzmaDecode reports bad properties (4), memory (2), corrupt data (1) and a stream that
    // still needs input (6) itself.
    SRes result = LzmaDecode(buffer.get(), &produced, data + kHeaderBytes, &consumed, data,
                             LZMA_PROPS_SIZE, LZMA_FINISH_ANY, &status, &gAllocator);
    if (result == SZ_OK && status == LZMA_STATUS_NEEDS_MORE_INPUT) result = SZ_ERROR_INPUT_EOF;
    // A full buffer smaller than the declared size means the input ran out first.
    if (result == SZ_OK && capacity < declared && produced == capacity) {
        result = SZ_ERROR_INPUT_EOF;
    }
    output.insert(output.end(), buffer.get(), buffer.get() + produced);
    return result;
}

}  // namespace

int decompressEntry(const std::vector<uint8_t>& compressed, std::vector<uint8_t>& output) {
    if (compressed.size() < kHeaderBytes) return kHeaderTooShort;
    uint64_t declared = 0;
    bool unknown = true;
    for (size_t i = 0; i < 8; ++i) {
        const uint8_t byte = compressed[LZMA_PROPS_SIZE + i];
        declared |= static_cast<uint64_t>(byte) << (8 * i);
        unknown = unknown && byte == 0xFF;
    }
    try {
        if (unknown) return decodeUnknownSize(compressed.data(), compressed.size(), output);
        return decodeKnownSize(compressed.data(), compressed.size(), declared, output);
    } catch (const std::bad_alloc&) {
        return SZ_ERROR_MEM;
    } catch (const std::length_error&) {
        return SZ_ERROR_MEM;
    }
}

}  // namespace tessaryn

#include "tools/lzma_encode.h"

#include <LzmaEnc.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace tessaryn {

namespace {

void* allocate(void*, size_t size) {
    return std::malloc(size);
}
void release(void*, void* address) {
    std::free(address);
}
ISzAlloc gAllocator = {allocate, release};

constexpr uint32_t kLargestDictionary = 1u << 24;  // 16 MiB: what the setup decodes with ease
constexpr size_t kHeaderBytes = LZMA_PROPS_SIZE + 8;

}  // namespace

std::vector<uint8_t> lzmaAloneEncode(const uint8_t* data, size_t size, int level) {
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = level;
    // A dictionary no larger than the file: the decoder allocates what the header states.
    uint32_t dictionary = 1u << 12;
    while (dictionary < size && dictionary < kLargestDictionary) dictionary <<= 1;
    props.dictSize = dictionary;
    props.writeEndMark = 0;
    props.numThreads = 1;

    CLzmaEncHandle encoder = LzmaEnc_Create(&gAllocator);
    if (!encoder) throw std::runtime_error("LZMA encoder: out of memory");
    struct Destroy {
        CLzmaEncHandle handle;
        ~Destroy() { LzmaEnc_Destroy(handle, &gAllocator, &gAllocator); }
    } destroy{encoder};

    SRes result = LzmaEnc_SetProps(encoder, &props);
    if (result != SZ_OK) throw std::runtime_error("LZMA encoder: bad settings");

    // Incompressible data grows by a little over 1/64 at worst.
    std::vector<uint8_t> out(kHeaderBytes + size + size / 32 + 1024);
    SizeT propsSize = LZMA_PROPS_SIZE;
    result = LzmaEnc_WriteProperties(encoder, out.data(), &propsSize);
    if (result != SZ_OK || propsSize != LZMA_PROPS_SIZE) {
        throw std::runtime_error("LZMA encoder: cannot write properties");
    }
    for (size_t i = 0; i < 8; ++i) {
        out[LZMA_PROPS_SIZE + i] = static_cast<uint8_t>(static_cast<uint64_t>(size) >> (8 * i));
    }
    SizeT streamSize = out.size() - kHeaderBytes;
    result = LzmaEnc_MemEncode(encoder, out.data() + kHeaderBytes, &streamSize, data, size, 0,
                               nullptr, &gAllocator, &gAllocator);
    if (result != SZ_OK) {
        throw std::runtime_error("LZMA encoder failed (Status code: " + std::to_string(result) +
                                 ")");
    }
    out.resize(kHeaderBytes + streamSize);
    return out;
}

}  // namespace tessaryn

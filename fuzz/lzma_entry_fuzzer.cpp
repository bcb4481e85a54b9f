// LZMA-Alone decoding of arbitrary bytes, both with the header as given and with its size
// field turned to "unknown".
#include <cstdint>
#include <vector>

#include "package/lzma_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> input(data, data + size);
    std::vector<uint8_t> output;
    tessaryn::decompressEntry(input, output);
    if (input.size() >= 13) {
        for (size_t i = 5; i < 13; ++i) input[i] = 0xFF;
        output.clear();
        tessaryn::decompressEntry(input, output);
    }
    return 0;
}

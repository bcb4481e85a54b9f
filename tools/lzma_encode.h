#pragma once
// LZMA-Alone encoding of one file's bytes with the LZMA SDK: 13-byte header (properties, known
// size), then the stream without an end marker.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessaryn {

// level 0..9 as in the SDK; throws std::runtime_error when the encoder fails.
std::vector<uint8_t> lzmaAloneEncode(const uint8_t* data, size_t size, int level);

}  // namespace tessaryn

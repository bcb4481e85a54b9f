#pragma once
// What signed settings say of their package: its size and SHA-256 ("package") and the SHA-256
// of each of its blocks ("blocks"), taken in one pass over the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "package/block_map.h"
#include "package/release_rules.h"

namespace tessaryn {

struct PackageTerms {
    PackageBinding package;
    BlockMap blocks;
};

// Over the package's bytes, signature included. Throws when the block size is out of bounds.
PackageTerms packageTerms(const uint8_t* pak, size_t size, uint64_t blockSize = kDefaultBlock);

// The settings (JSON text) with their "blocks" set to `map`, the other keys in their order.
std::string withBlockMap(const std::string& settings, const BlockMap& map);

}  // namespace tessaryn

#pragma once
// What signed settings say of their package: its size and SHA-256 ("package") and the SHA-256
// of each of its blocks ("blocks"), taken in one pass over the file.
#include <filesystem>
#include <string>

#include "package/block_map.h"
#include "package/release_rules.h"

namespace tessaryn {

struct PackageTerms {
    PackageBinding package;
    BlockMap blocks;
};

// Throws when the file cannot be read or the block size is out of bounds.
PackageTerms packageTerms(const std::filesystem::path& pak, uint64_t blockSize = kDefaultBlock);

// The settings (JSON text) with their "blocks" set to `map`, the other keys in their order.
std::string withBlockMap(const std::string& settings, const BlockMap& map);

}  // namespace tessaryn

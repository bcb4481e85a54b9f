#pragma once
// The package's block map: the SHA-256 of each fixed-size block of the package (signature
// included, the last block shorter), named by the signed settings beside the whole file's size
// and hash. A block may be used as soon as its own hash has checked, before the rest arrives;
// the whole file is still checked before anything of it is run or registered.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/release_rules.h"
#include "package/sha256.h"

namespace tessaryn {

// Smaller blocks make the map large, larger ones keep a block's bytes waiting too long.
inline constexpr uint64_t kSmallestBlock = 64 * 1024;
inline constexpr uint64_t kLargestBlock = 64 * 1024 * 1024;
inline constexpr uint64_t kDefaultBlock = 4 * 1024 * 1024;

struct BlockMap {
    uint64_t blockSize = 0;
    std::vector<Sha256Digest> sha256;  // one per block, in order
};

// A SHA-256 written as 64 lower-case hex digits (one text means one hash); empty for any other
// value.
std::optional<Sha256Digest> readDigestText(const nlohmann::json& value);

// How many blocks of `blockSize` (> 0) a package of `packageSize` bytes has.
uint64_t blockCount(uint64_t packageSize, uint64_t blockSize);

// {"size": <block size>, "sha256": ["<64 lower-case hex digits>", ...]} and nothing else, the
// block size within [kSmallestBlock, kLargestBlock], one hash per block of `package` and, for a
// package of one block, that block's hash the package's own. Empty for any other value.
std::optional<BlockMap> readBlockMap(const nlohmann::json& value, const PackageBinding& package);
nlohmann::json blockMapJson(const BlockMap& map);

// Checks the package's blocks as its bytes arrive, in order.
class ArrivingBlocks {
  public:
    // `map` must outlive the check and hold the blocks of `packageSize` bytes.
    ArrivingBlocks(const BlockMap& map, uint64_t packageSize);

    // False once a block has differed from the map, or more bytes came than the package has.
    bool add(const uint8_t* bytes, size_t size) noexcept;
    // The bytes [0, checkedEnd()) lie in blocks whose hashes have checked.
    uint64_t checkedEnd() const noexcept { return checkedEnd_; }
    bool failed() const noexcept { return failure_.has_value(); }
    // What failed, for the log ("block 3 of 8: SHA-256 ..."); empty while nothing did.
    std::string failure() const;
    // The transfer starts again from the package's first byte: nothing counts as checked.
    void restart() noexcept;

  private:
    void finishBlock() noexcept;

    const BlockMap& map_;
    uint64_t packageSize_;
    uint64_t checkedEnd_ = 0;
    uint64_t inBlock_ = 0;  // bytes of the current block hashed so far
    std::optional<Sha256> hash_;
    std::optional<std::string> failure_;
};

}  // namespace tessaryn

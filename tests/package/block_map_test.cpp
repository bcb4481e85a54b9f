// The package's block map: what settings may say, and a changed byte found in its own block.
#include "package/block_map.h"

#include <gtest/gtest.h>

#include "tests/package/package_test_support.h"

namespace tessaryn {
namespace {

using nlohmann::json;
using test::patternBytes;

constexpr uint64_t kBlock = kSmallestBlock;

Sha256Digest digestOf(const uint8_t* bytes, size_t size) {
    Sha256 hash;
    hash.add(bytes, size);
    return hash.finish().value();
}

// The map the publisher writes for `package`, and the binding beside it.
struct Published {
    PackageBinding binding;
    json blocks;
};

Published publish(const std::vector<uint8_t>& package, uint64_t blockSize) {
    Published published;
    published.binding = {package.size(), digestOf(package.data(), package.size())};
    BlockMap map{blockSize, {}};
    for (uint64_t at = 0; at < package.size(); at += blockSize)
        map.sha256.push_back(
            digestOf(package.data() + at, std::min<uint64_t>(blockSize, package.size() - at)));
    published.blocks = blockMapJson(map);
    return published;
}

TEST(BlockMapTest, SettingsValuesAreReadStrictly) {
    const std::vector<uint8_t> package = patternBytes(3 * kBlock + 100, 7);
    const Published good = publish(package, kBlock);
    const std::string someHash = good.blocks["sha256"][0];
    const auto with = [&](const char* key, json value) {
        json blocks = good.blocks;
        blocks[key] = std::move(value);
        return blocks;
    };
    const auto hashAt = [&](size_t index, const std::string& hex) {
        json blocks = good.blocks;
        blocks["sha256"][index] = hex;
        return blocks;
    };
    json extraKey = good.blocks;
    extraKey["more"] = 1;
    json fewer = good.blocks;
    fewer["sha256"].erase(3);
    json more = good.blocks;
    more["sha256"].push_back(someHash);
    const struct {
        const char* what;
        json blocks;
        bool valid;
    } rows[] = {
        {"as published", good.blocks, true},
        {"not an object", json::array(), false},
        {"an unknown key", extraKey, false},
        {"no size", json{{"sha256", good.blocks["sha256"]}}, false},
        {"size as text", with("size", "65536"), false},
        {"negative size", with("size", -65536), false},
        {"size below the smallest block", with("size", kBlock - 1), false},
        {"size above the largest block", with("size", kLargestBlock + 1), false},
        {"hashes not an array", with("sha256", someHash), false},
        {"a block missing", fewer, false},
        {"a block too many", more, false},
        {"count for another block size", with("size", 2 * kBlock), false},
        {"upper-case hex", hashAt(1, std::string(64, 'A')), false},
        {"short hex", hashAt(1, someHash.substr(2)), false},
        {"non-hex digit", hashAt(2, "g" + someHash.substr(1)), false},
        {"hashes as numbers", with("sha256", json::array({1, 2, 3, 4})), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(readBlockMap(row.blocks, good.binding).has_value(), row.valid);
    }
    // Accepted only where the map agrees with the package it stands beside.
    PackageBinding longer = good.binding;
    longer.size += kBlock;
    EXPECT_FALSE(readBlockMap(good.blocks, longer));
    // A package of one block: that block's hash is the package's.
    const Published single = publish(patternBytes(kBlock, 3), kBlock);
    EXPECT_TRUE(readBlockMap(single.blocks, single.binding));
    PackageBinding otherHash = single.binding;
    otherHash.sha256[0] ^= 1;
    EXPECT_FALSE(readBlockMap(single.blocks, otherHash));
    // Each bound of the block size alone: a small package is one block at any size, so that
    // the count of hashes agrees and only the bound can refuse.
    const Published small = publish(patternBytes(100, 4), kBlock);
    for (const auto& [size, valid] : std::vector<std::pair<uint64_t, bool>>{
             {kSmallestBlock - 1, false},
             {kSmallestBlock, true},
             {kLargestBlock, true},
             {kLargestBlock + 1, false}}) {
        json blocks = small.blocks;
        blocks["size"] = size;
        EXPECT_EQ(readBlockMap(blocks, small.binding).has_value(), valid) << size;
    }
}

// Feeds `package` in parts of `part` bytes; returns the check.
struct Fed {
    bool accepted;
    uint64_t checkedEnd;
    std::string failure;
};

Fed feed(const std::vector<uint8_t>& package, const BlockMap& map, size_t part,
         uint64_t packageSize) {
    ArrivingBlocks blocks(map, packageSize);
    bool accepted = true;
    for (size_t at = 0; at < package.size(); at += part)
        accepted = blocks.add(package.data() + at, std::min(part, package.size() - at));
    return {accepted, blocks.checkedEnd(), blocks.failure()};
}

TEST(BlockMapTest, AChangedByteIsFoundInItsBlock) {
    const std::vector<uint8_t> package = patternBytes(3 * kBlock + 100, 9);
    const Published published = publish(package, kBlock);
    const BlockMap map = readBlockMap(published.blocks, published.binding).value();
    const struct {
        const char* what;
        size_t flippedAt;  // SIZE_MAX: none
        size_t part;
        bool accepted;
        uint64_t checkedEnd;
        const char* failure;
    } rows[] = {
        {"intact, in odd parts", SIZE_MAX, 1000, true, package.size(), ""},
        {"intact, whole", SIZE_MAX, package.size(), true, package.size(), ""},
        {"first byte", 0, 4096, false, 0, "block 0 of 4"},
        {"last byte of block 1", 2 * kBlock - 1, 4096, false, kBlock, "block 1 of 4"},
        {"first byte of block 2", 2 * kBlock, 777, false, 2 * kBlock, "block 2 of 4"},
        {"last byte of the short last block", package.size() - 1, 65536, false, 3 * kBlock,
         "block 3 of 4"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> bytes = package;
        if (row.flippedAt != SIZE_MAX) bytes[row.flippedAt] ^= 0x20;
        const Fed fed = feed(bytes, map, row.part, package.size());
        EXPECT_EQ(fed.accepted, row.accepted);
        EXPECT_EQ(fed.checkedEnd, row.checkedEnd);
        EXPECT_EQ(fed.failure.substr(0, std::string(row.failure).size()), row.failure);
    }
    // The short last block is checked at the package's end, not at a whole block's.
    std::vector<uint8_t> cut(package.begin(), package.end() - 1);
    const Fed short_ = feed(cut, map, 4096, package.size());
    EXPECT_TRUE(short_.accepted);
    EXPECT_EQ(short_.checkedEnd, 3 * kBlock);
    // Bytes past the package are refused.
    std::vector<uint8_t> longer = package;
    longer.push_back(0);
    EXPECT_FALSE(feed(longer, map, 4096, package.size()).accepted);
    // A transfer cut in block 1 and started again from the first byte.
    ArrivingBlocks blocks(map, package.size());
    ASSERT_TRUE(blocks.add(package.data(), kBlock + kBlock / 2));
    blocks.restart();
    EXPECT_EQ(blocks.checkedEnd(), 0u);
    EXPECT_TRUE(blocks.add(package.data(), package.size()));
    EXPECT_EQ(blocks.checkedEnd(), package.size());
    // A transfer whose block 1 differed, started again: the failure went with the old bytes.
    std::vector<uint8_t> changed = package;
    changed[kBlock + 5] ^= 1;
    ArrivingBlocks again(map, package.size());
    ASSERT_FALSE(again.add(changed.data(), changed.size()));
    again.restart();
    EXPECT_FALSE(again.failed());
    EXPECT_TRUE(again.add(package.data(), package.size()));
    EXPECT_EQ(again.checkedEnd(), package.size());
}

}  // namespace
}  // namespace tessaryn

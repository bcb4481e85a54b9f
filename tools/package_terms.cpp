#include "tools/package_terms.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "package/sha256.h"

namespace tessaryn {

PackageTerms packageTerms(const uint8_t* pak, size_t size, uint64_t blockSize) {
    if (blockSize < kSmallestBlock || blockSize > kLargestBlock)
        throw std::runtime_error("the block size must lie between " +
                                 std::to_string(kSmallestBlock) + " and " +
                                 std::to_string(kLargestBlock) + " bytes");
    PackageTerms terms;
    terms.blocks.blockSize = blockSize;
    Sha256 whole;
    for (uint64_t at = 0; at < size; at += blockSize) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(blockSize, size - at));
        whole.add(pak + at, length);
        Sha256 block;
        block.add(pak + at, length);
        const std::optional<Sha256Digest> digest = block.finish();
        if (!digest) throw std::runtime_error("no SHA-256 from the system");
        terms.blocks.sha256.push_back(*digest);
    }
    const std::optional<Sha256Digest> digest = whole.finish();
    if (!digest) throw std::runtime_error("no SHA-256 from the system");
    terms.package = {size, *digest};
    return terms;
}

std::string withBlockMap(const std::string& settings, const BlockMap& map) {
    nlohmann::ordered_json root = nlohmann::ordered_json::parse(settings);
    root["blocks"] = blockMapJson(map);
    return root.dump(2) + "\n";
}

}  // namespace tessaryn

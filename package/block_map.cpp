#include "package/block_map.h"

#include <algorithm>

#include "system/ascii_text.h"

namespace tessaryn {

using nlohmann::json;

// Lower case only, as the hash of "package".
std::optional<Sha256Digest> readDigestText(const json& value) {
    if (!value.is_string()) return std::nullopt;
    Sha256Digest digest{};
    if (!decodeHex(value.get_ref<const std::string&>(), digest.data(), digest.size(),
                   HexLetters::LowerOnly))
        return std::nullopt;
    return digest;
}

uint64_t blockCount(uint64_t packageSize, uint64_t blockSize) {
    return packageSize / blockSize + (packageSize % blockSize != 0);
}

std::optional<BlockMap> readBlockMap(const json& value, const PackageBinding& package) {
    if (!value.is_object() || value.size() != 2) return std::nullopt;
    const auto size = value.find("size");
    const auto hashes = value.find("sha256");
    if (size == value.end() || !size->is_number_unsigned() || hashes == value.end() ||
        !hashes->is_array())
        return std::nullopt;
    BlockMap map;
    map.blockSize = size->get<uint64_t>();
    if (map.blockSize < kSmallestBlock || map.blockSize > kLargestBlock) return std::nullopt;
    // Compared before anything is kept: the count bounds what is read.
    if (hashes->size() != blockCount(package.size, map.blockSize)) return std::nullopt;
    map.sha256.reserve(hashes->size());
    for (const json& hex : *hashes) {
        const std::optional<Sha256Digest> digest = readDigestText(hex);
        if (!digest) return std::nullopt;
        map.sha256.push_back(*digest);
    }
    if (map.sha256.size() == 1 && map.sha256.front() != package.sha256) return std::nullopt;
    return map;
}

json blockMapJson(const BlockMap& map) {
    json hashes = json::array();
    for (const Sha256Digest& digest : map.sha256) hashes.push_back(sha256Hex(digest));
    json value = json::object();
    value["size"] = map.blockSize;
    value["sha256"] = std::move(hashes);
    return value;
}

ArrivingBlocks::ArrivingBlocks(const BlockMap& map, uint64_t packageSize)
    : map_(map), packageSize_(packageSize) {
    restart();
}

void ArrivingBlocks::restart() noexcept {
    checkedEnd_ = 0;
    inBlock_ = 0;
    failure_.reset();
    hash_.emplace();
}

bool ArrivingBlocks::add(const uint8_t* bytes, size_t size) noexcept {
    while (size > 0 && !failure_) {
        const uint64_t start = checkedEnd_ + inBlock_;
        if (start >= packageSize_) {
            failure_ = "more than the " + std::to_string(packageSize_) + " bytes of the package";
            break;
        }
        const uint64_t blockEnd = std::min(packageSize_, checkedEnd_ + map_.blockSize);
        const size_t part = static_cast<size_t>(std::min<uint64_t>(size, blockEnd - start));
        hash_->add(bytes, part);
        inBlock_ += part;
        bytes += part;
        size -= part;
        if (checkedEnd_ + inBlock_ == blockEnd) finishBlock();
    }
    return !failure_;
}

void ArrivingBlocks::finishBlock() noexcept {
    const uint64_t index = checkedEnd_ / map_.blockSize;
    const std::optional<Sha256Digest> digest = hash_->finish();
    if (!digest || *digest != map_.sha256[index]) {
        failure_ = "block " + std::to_string(index) + " of " + std::to_string(map_.sha256.size()) +
                   ": SHA-256 " + (digest ? sha256Hex(*digest) : "(none from the system)") +
                   ", the settings name " + sha256Hex(map_.sha256[index]);
        return;
    }
    checkedEnd_ += inBlock_;
    inBlock_ = 0;
    hash_.emplace();
}

std::string ArrivingBlocks::failure() const {
    return failure_.value_or(std::string());
}

}  // namespace tessaryn

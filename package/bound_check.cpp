#include "package/bound_check.h"

#include <algorithm>
#include <thread>

namespace tessaryn {

BoundCheck::BoundCheck(const std::string& context, const PackageBinding* binding,
                       const BlockMap* blocks)
    : binding_(binding), signature_(context) {
    if (binding_) hash_.emplace();
    if (binding_ && blocks) blocks_.emplace(*blocks, binding_->size);
}

void BoundCheck::add(const uint8_t* bytes, size_t size) noexcept {
    signature_.add(bytes, size);
    if (hash_) hash_->add(bytes, size);
    if (blocks_) blocks_->add(bytes, size);
}

void BoundCheck::addWhole(const uint8_t* bytes, size_t size) noexcept {
    if (binding_ && size != binding_->size) return;
    // Parts of 1 MiB: a mapping is paged in as it is read.
    static constexpr size_t kPart = 1024 * 1024;
    const auto feed = [bytes, size](auto& sink) {
        for (size_t at = 0; at < size; at += kPart) sink.add(bytes + at, std::min(kPart, size - at));
    };
    // No block hashes: nothing of a file held whole is used before the whole file has checked.
    // The two hashes are independent: the SHA-256 runs on a second core while the signature's
    // hash runs here.
    std::thread hashing;
    if (hash_) {
        try {
            hashing = std::thread([&] { feed(*hash_); });
        } catch (...) {
            feed(*hash_);  // no thread to be had: one after the other
        }
    }
    feed(signature_);
    if (hashing.joinable()) hashing.join();
}

std::string BoundCheck::failure(uint64_t fileSize, const PublicKey& key) {
    if (binding_ && fileSize != binding_->size)
        return "INVALID (size " + std::to_string(fileSize) + ", the settings name " +
               std::to_string(binding_->size) + ")";
    if (blocks_ && blocks_->failed()) return "INVALID (" + blocks_->failure() + ")";
    if (fileSize != signature_.size() || !signature_.valid(key)) return "INVALID";
    if (!hash_) return {};
    const std::optional<Sha256Digest> digest = hash_->finish();
    if (!digest) return "INVALID (no SHA-256 from the system)";
    if (*digest != binding_->sha256)
        return "INVALID (SHA-256 " + sha256Hex(*digest) + ", the settings name " +
               sha256Hex(binding_->sha256) + ")";
    return {};
}

}  // namespace tessaryn

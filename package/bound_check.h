#pragma once
// The check of a signed file as its bytes go by, once: its signature and, when the settings bind
// it, its size and SHA-256 (of the whole file, signature included) and, when they name them, the
// hashes of its blocks. A file beside the setup is fed from its mapping, a download as it
// arrives; either way there is no second pass.
#include <cstdint>
#include <optional>
#include <string>

#include "package/block_map.h"
#include "package/release_rules.h"
#include "package/sha256.h"
#include "package/signature_check.h"

namespace tessaryn {

class BoundCheck {
  public:
    // `binding` may be null (no size or hash asked for), `blocks` too (no block map); a map is
    // taken only with a binding. Both must outlive the check.
    BoundCheck(const std::string& context, const PackageBinding* binding,
               const BlockMap* blocks = nullptr);

    void add(const uint8_t* bytes, size_t size) noexcept;
    // Feeds a whole file held in memory, unless its size already differs from the binding's.
    void addWhole(const uint8_t* bytes, size_t size) noexcept;
    // Empty when the file of `fileSize` bytes, all of them added, is valid; else what failed,
    // for the log. Ends the check: call it once.
    std::string failure(uint64_t fileSize, const PublicKey& key);
    // The blocks checked so far; null without a block map.
    const ArrivingBlocks* blocks() const noexcept { return blocks_ ? &*blocks_ : nullptr; }

  private:
    const PackageBinding* binding_;
    ArrivingSignature signature_;
    std::optional<Sha256> hash_;
    std::optional<ArrivingBlocks> blocks_;
};

}  // namespace tessaryn

#pragma once
// The check of a signed file: a payload followed by a detached 64-byte libhydrogen signature
// (multi-part mode), made as the bytes arrive or over bytes in memory.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tessaryn {

inline constexpr std::size_t kSignatureBytes = 64;
inline constexpr std::size_t kPublicKeyBytes = 32;
inline constexpr std::size_t kContextBytes = 8;

// Contexts of the two signed files the setup reads.
inline constexpr const char* kSettingsContext = "SETUP100";
inline constexpr const char* kPackageContext = "SETUPPAK";

using Signature = std::array<uint8_t, kSignatureBytes>;
using PublicKey = std::array<uint8_t, kPublicKeyBytes>;

class HydrogenError : public std::runtime_error {
  public:
    explicit HydrogenError(const std::string& message)
        : std::runtime_error("Hydrogen error: " + message) {}
};

// Initialises libhydrogen (each of its builds); call once at program start. Throws
// HydrogenError on failure.
void initSignatures();

// The builds of libhydrogen's hashing: the baseline x86-64 one, and one for processors with
// SSSE3, which the check uses whenever the processor has it.
enum class HashBuild { Portable, Ssse3 };
bool hashBuildAvailable(HashBuild build);
HashBuild preferredHashBuild();

// True when `bytes` are a payload followed by its 64-byte signature for this context and key.
// Never throws: a short buffer or a context that is not 8 bytes is simply not valid. The bytes
// are hashed where they lie (a mapping of the file, for a package), in one pass.
bool verifySignedBytes(const uint8_t* bytes, size_t size, const std::string& context,
                       const PublicKey& publicKey) noexcept;
bool verifySignedBytes(const uint8_t* bytes, size_t size, const std::string& context,
                       const PublicKey& publicKey, HashBuild build) noexcept;

// The same check made as a signed file's bytes arrive, in parts of any size: everything but the
// last 64 bytes seen is hashed at once, those are held back as the signature. No second pass
// over the file is needed once it is complete.
class ArrivingSignature {
  public:
    explicit ArrivingSignature(const std::string& context, HashBuild build = preferredHashBuild());
    void add(const uint8_t* bytes, size_t size) noexcept;
    // The bytes added so far.
    uint64_t size() const { return size_; }
    // True when the bytes added so far are a payload followed by its signature for this key.
    // Ends the check: call it once.
    bool valid(const PublicKey& publicKey) noexcept;

  private:
    void hash(const uint8_t* bytes, size_t size) noexcept;

    HashBuild build_;
    bool usable_;
    uint64_t size_ = 0;
    size_t held_ = 0;
    std::array<uint8_t, kSignatureBytes> tail_{};
    // libhydrogen's signature state, whose header stays out of this one (checked in its size).
    alignas(8) std::array<uint8_t, 64> state_{};
};

}  // namespace tessaryn

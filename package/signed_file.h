#pragma once
// Signed files: a payload followed by a detached 64-byte libhydrogen signature (multi-part mode).
#include <array>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

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
enum class HashCode { Portable, Ssse3 };
bool hashCodeAvailable(HashCode code);
HashCode preferredHashCode();

// True when `bytes` are a payload followed by its 64-byte signature for this context and key.
// Never throws: a short buffer or a context that is not 8 bytes is simply not valid. The bytes
// are hashed where they lie (a mapping of the file, for a package), in one pass.
bool verifySignedBytes(const uint8_t* bytes, size_t size, const std::string& context,
                       const PublicKey& publicKey) noexcept;
bool verifySignedBytes(const uint8_t* bytes, size_t size, const std::string& context,
                       const PublicKey& publicKey, HashCode code) noexcept;

// The same check made as a signed file's bytes arrive, in parts of any size: everything but the
// last 64 bytes seen is hashed at once, those are held back as the signature. No second pass
// over the file is needed once it is complete.
class ArrivingSignature {
  public:
    explicit ArrivingSignature(const std::string& context, HashCode code = preferredHashCode());
    void add(const uint8_t* bytes, size_t size) noexcept;
    // The bytes added so far.
    uint64_t size() const { return size_; }
    // True when the bytes added so far are a payload followed by its signature for this key.
    // Ends the check: call it once.
    bool valid(const PublicKey& publicKey) noexcept;

  private:
    void hash(const uint8_t* bytes, size_t size) noexcept;

    HashCode code_;
    bool usable_;
    uint64_t size_ = 0;
    size_t held_ = 0;
    std::array<uint8_t, kSignatureBytes> tail_{};
    // libhydrogen's signature state, whose header stays out of this one (checked in its size).
    alignas(8) std::array<uint8_t, 64> state_{};
};

// Cuts the last 64 bytes off the file and returns them; an empty vector (file unchanged) on any
// failure.
std::vector<uint8_t> takeTrailingSignature(const std::filesystem::path& path);

// True when the file's whole current content is a payload signed for this context and key.
// Throws HydrogenError when the context is not 8 bytes or the file cannot be opened.
[[nodiscard]]
bool verifySignedFile(const Signature& signature, const std::filesystem::path& path,
                      const std::string& context, const PublicKey& publicKey);

// The same check over a stream: hashes up to payloadBytes bytes (all when not given) in
// 8192-byte reads, then verifies. Throws HydrogenError for a context that is not 8 bytes.
[[nodiscard]]
bool verifySignedStream(const Signature& signature, std::istream& payload,
                        std::optional<uint64_t> payloadBytes, const std::string& context,
                        const PublicKey& publicKey);

}  // namespace tessaryn

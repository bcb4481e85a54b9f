#pragma once
// SHA-256 from the system (CNG on Windows) or from OpenSSL's libcrypto elsewhere: the hash that
// binds a package to the settings that name it, taken as the package's bytes go by.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tessaryn {

inline constexpr std::size_t kSha256Bytes = 32;
using Sha256Digest = std::array<uint8_t, kSha256Bytes>;

class Sha256 {
  public:
    Sha256();  // never throws: a hash the system cannot provide finishes empty
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    ~Sha256();

    void add(const uint8_t* bytes, size_t size) noexcept;
    // The digest of everything added; empty when the system gave no hash. Call once.
    std::optional<Sha256Digest> finish() noexcept;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest as 64 lower-case hex digits.
std::string sha256Hex(const Sha256Digest& digest);

}  // namespace tessaryn

#pragma once
// Helpers shared by the package tests: scratch folders, keys, signed files and bundles built
// with the JSON library's own CBOR writer.
#include <hydrogen.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "package/signature_check.h"
#include "tools/key_files.h"

namespace tessaryn::test {

namespace fs = std::filesystem;

class ScratchFolder {
  public:
    ScratchFolder() {
        std::random_device random;
        path_ = fs::temp_directory_path() / ("tessaryn-pkg-test-" + std::to_string(random()));
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

struct KeyPair {
    SecretKey secret{};
    PublicKey publicKey{};
};

inline KeyPair makeKeyPair() {
    hydro_sign_keypair pair;
    hydro_sign_keygen(&pair);
    KeyPair keys;
    std::copy(std::begin(pair.sk), std::end(pair.sk), keys.secret.begin());
    std::copy(std::begin(pair.pk), std::end(pair.pk), keys.publicKey.begin());
    return keys;
}

inline std::vector<uint8_t> readBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

inline void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// payload + signature, signed in one call (the setup checks in 8192-byte parts).
inline std::vector<uint8_t> signedBytes(const std::vector<uint8_t>& payload, const char* context,
                                        const SecretKey& secret) {
    Signature signature{};
    hydro_sign_create(signature.data(), payload.data(), payload.size(), context, secret.data());
    std::vector<uint8_t> bytes = payload;
    bytes.insert(bytes.end(), signature.begin(), signature.end());
    return bytes;
}

inline std::vector<uint8_t> patternBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

inline nlohmann::json fileEntry(const std::string& name, const std::vector<uint8_t>& compressed) {
    return {{"n", name}, {"t", "f"}, {"d", nlohmann::json::binary(compressed)}};
}

inline nlohmann::json dirEntry(const std::string& name) {
    return {{"n", name}, {"t", "d"}};
}

inline fs::path writeBundle(const fs::path& path, const nlohmann::json& files) {
    writeBytes(path, nlohmann::json::to_cbor(nlohmann::json{{"version", "1.0"}, {"files", files}}));
    return path;
}

}  // namespace tessaryn::test

#include "tools/key_files.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "package/path_text.h"
#include "system/ascii_text.h"
#include "system/system_reason.h"

namespace tessaryn {

namespace {

template <size_t N>
std::array<uint8_t, N> readHexKey(const std::filesystem::path& path, const char* kind) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + std::string(kind) + " key file " +
                                 pathText(path) + ": " + errnoReason());
    }
    std::ostringstream content;
    content << file.rdbuf();
    std::string text = content.str();
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    std::array<uint8_t, N> key{};
    if (!decodeHex(text, key.data(), N)) {
        throw std::runtime_error("bad " + std::string(kind) + " key file " + pathText(path) +
                                 ": expected " + std::to_string(2 * N) +
                                 " hexadecimal digits on one line");
    }
    return key;
}

}  // namespace

SecretKey readSecretKey(const std::filesystem::path& path) {
    return readHexKey<kSecretKeyBytes>(path, "secret");
}

PublicKey readPublicKey(const std::filesystem::path& path) {
    return readHexKey<kPublicKeyBytes>(path, "public");
}

std::string cppInitialiser(const PublicKey& key) {
    std::string text = "{";
    for (size_t i = 0; i < key.size(); ++i) {
        if (i > 0) text += ", ";
        text += "0x" + lowerHex(&key[i], 1);
    }
    return text + "}";
}

}  // namespace tessaryn

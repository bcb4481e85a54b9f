#include "tools/key_files.h"

#include <cctype>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "package/path_text.h"
#include "system/ascii_text.h"
#include "tools/system_reason.h"

namespace tessaryn {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string readKeyText(const std::filesystem::path& path, const char* kind) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + std::string(kind) + " key file " +
                                 pathText(path) + ": " + errnoReason());
    }
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

template <size_t N>
std::array<uint8_t, N> hexKey(std::string text, const std::filesystem::path& path,
                              const char* kind) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    std::array<uint8_t, N> key{};
    bool valid = text.size() == 2 * N;
    for (size_t i = 0; valid && i < N; ++i) {
        const int high = hexValue(text[2 * i]);
        const int low = hexValue(text[2 * i + 1]);
        valid = high >= 0 && low >= 0;
        key[i] = static_cast<uint8_t>(high * 16 + low);
    }
    if (!valid) {
        throw std::runtime_error("bad " + std::string(kind) + " key file " + pathText(path) +
                                 ": expected " + std::to_string(2 * N) +
                                 " hexadecimal digits on one line");
    }
    return key;
}

}  // namespace

std::string secretKeyHeading(KeyKind kind) {
    return kind == KeyKind::Release ? "tessaryn release secret key"
                                    : "tessaryn answers secret key";
}

SecretKey readSecretKey(const std::filesystem::path& path, KeyKind expected) {
    std::string text = readKeyText(path, "secret");
    const size_t end = text.find('\n');
    const std::string first = text.substr(0, end);
    const KeyKind other = expected == KeyKind::Release ? KeyKind::Answers : KeyKind::Release;
    if (first == secretKeyHeading(other)) {
        throw std::runtime_error(
            pathText(path) +
            (expected == KeyKind::Release
                 ? ": this is the answers key; releases are signed with the release key made "
                   "with `keygen` without --answers"
                 : ": this is the release key; the web host needs the answers key made with "
                   "`keygen --answers`"));
    }
    const bool named = first == secretKeyHeading(expected);
    if (named) text.erase(0, end + 1);
    const SecretKey key = hexKey<kSecretKeyBytes>(text, path, "secret");
    if (!named) {
        std::cerr << "tessaryn-publish: warning: " << pathText(path)
                  << " does not say whether it is a release or an answers key; make sure it is "
                     "the "
                  << (expected == KeyKind::Release ? "release" : "answers") << " key\n";
    }
    return key;
}

PublicKey readPublicKey(const std::filesystem::path& path) {
    return hexKey<kPublicKeyBytes>(readKeyText(path, "public"), path, "public");
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

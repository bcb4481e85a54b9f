#pragma once
// Key files of the publisher tool: one line of hexadecimal digits each.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "package/signed_file.h"

namespace tessaryn {

inline constexpr size_t kSecretKeyBytes = 64;
using SecretKey = std::array<uint8_t, kSecretKeyBytes>;


// Throw std::runtime_error naming the file when it is unreadable or not a key of the right size.
SecretKey readSecretKey(const std::filesystem::path& path);
PublicKey readPublicKey(const std::filesystem::path& path);

// The key as a C++ initialiser: {0x12, 0x34, ...}.
std::string cppInitialiser(const PublicKey& key);

// Creates the missing folders of path (not path itself), each readable by its owner only, so that
// "keygen --secret ~/keys/new.key" works on a first day. Throws std::runtime_error on failure.
void makeOwnerOnlyFolders(const std::filesystem::path& folder);

// Creates the secret key file readable by its owner only; refuses an existing file unless
// overwrite is set. Throws std::runtime_error on failure.
void writeSecretKeyFile(const std::filesystem::path& path, const std::string& text, bool overwrite);

bool stderrIsTerminal();

}  // namespace tessaryn

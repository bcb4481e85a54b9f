#pragma once
// Key files of the publisher tool: one line of hexadecimal digits each; a secret key file says
// on a line before it which of the two pairs it belongs to, so that neither is used for the other.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "package/signature_check.h"

namespace tessaryn {

inline constexpr size_t kSecretKeyBytes = 64;
using SecretKey = std::array<uint8_t, kSecretKeyBytes>;


// Releases' signing key, or the web host's answers key (keygen --answers).
enum class KeyKind { Release, Answers };

// The first line of a secret key file of that kind.
std::string secretKeyHeading(KeyKind kind);

// Throw std::runtime_error naming the file when it is unreadable, not a key of the right size or
// a key of the other kind. A file without its kind (made before kinds were written) is taken,
// with a warning on the error output.
SecretKey readSecretKey(const std::filesystem::path& path, KeyKind expected);
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

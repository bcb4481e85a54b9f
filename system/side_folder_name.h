#pragma once
// Names of the folders an install keeps beside the install folder while it runs: the staging
// folder it unpacks into and the backup of an old version that could not be removed. Each ends
// in 32 random hexadecimal digits, so that no other program can predict one, and starts with the
// product's name, so that the next run of the same product recognises what a killed run left.
#include <optional>
#include <string>
#include <string_view>

namespace tessaryn {

enum class SideFolderKind { Staging, Backup };

inline constexpr size_t kSideFolderRandomDigits = 32;

// "." + product + "-staging-" or "-backup-" + randomHex (lower-case digits, as made by the caller).
std::wstring sideFolderName(std::wstring_view product, SideFolderKind kind,
                            std::wstring_view randomHex);

// The kind of a name made for this product (the product compared without regard to ASCII case,
// the way the file system compares it) with exactly 32 lower-case hex digits; empty for any
// other name.
std::optional<SideFolderKind> sideFolderKindOf(std::wstring_view name, std::wstring_view product);

// Lower-case hexadecimal digits of the bytes.
std::wstring hexDigits(const unsigned char* bytes, size_t count);

}  // namespace tessaryn

#pragma once
// Binding settings to their package when signing, and checking a settings/package pair: the
// settings carry the package's size and SHA-256, the same version, the product's main program,
// and optionally the time they expire.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "package/locked_file.h"
#include "package/release_rules.h"
#include "package/signature_check.h"

namespace tessaryn {

// The size and SHA-256 of the whole file, signature included. Throws std::runtime_error.
PackageBinding bindingOfFile(const std::filesystem::path& path);

// Signed settings expire this many days after signing unless the publisher chooses.
inline constexpr int64_t kDefaultExpiryDays = 90;

// The "expires" text the settings themselves hold; empty when they hold none or no text.
std::optional<std::string> settingsExpiry(const std::string& settingsText);

// "--expires": "<N>d" (N days from `now`), a date "YYYY-MM-DD" (its end, 23:59:59 UTC) or a
// full "YYYY-MM-DDTHH:MM:SSZ". Throws std::invalid_argument for anything else or a time past.
std::string expiryFromOption(const std::string& option, int64_t now);

// Why the package cannot be the one these settings name (a signature that does not check with
// `key`, another version, no main program "<prod in lower case>.exe"); empty when it can.
// `package` (its bytes, signature included) is read once by the caller, for these checks and
// the terms alike; `path` names it.
std::vector<std::string> packageProblems(const std::string& settingsText,
                                         const LockedFile& package,
                                         const std::filesystem::path& path,
                                         const PublicKey& key);

// The settings text with "package", "expires" ("expires" left out when not given) and "signer"
// (the signing key's fingerprint, which lets verify tell another key from a changed file)
// written in, the other keys as they were and in their order. Throws std::runtime_error when
// the text is no JSON object.
std::string bindSettings(const std::string& settingsText, const PackageBinding& binding,
                         const std::optional<std::string>& expires, const std::string& signer);

// What a signed pair's settings say about their package, and what does not match; for
// `inspect` and `verify`. `package` may be empty (the binding is only shown).
struct PairReport {
    std::vector<std::string> lines;     // shown
    std::vector<std::string> problems;  // each a reason the pair is refused
    nlohmann::json index;               // the summary of the settings' file index; null: none
};
PairReport pairReport(const std::string& settingsText, const std::filesystem::path& package,
                      int64_t now);

}  // namespace tessaryn

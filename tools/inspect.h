#pragma once
// Listing what a package holds: its version and each entry with its sizes.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "package/signature_check.h"

namespace tessaryn {

struct ListedEntry {
    std::string name;
    bool directory = false;
    uint64_t packed = 0;              // bytes of the LZMA item, header included
    std::optional<uint64_t> unpacked;  // from the LZMA header; absent when it does not say
};

struct PackageListing {
    std::string version;
    std::vector<ListedEntry> entries;
};

// Opens the package once; with a key, checks its signature first (nullopt when it is invalid),
// then lists the bundle in front of the signature through the reader the setup extracts with.
// Throws std::runtime_error naming what is wrong when the file is not a package the setup would
// take.
std::optional<PackageListing> inspectPackage(const std::filesystem::path& path,
                                             const PublicKey* key);
// The same over the package's bytes (signature included), read by the caller; `path` names it.
std::optional<PackageListing> inspectPackage(const uint8_t* data, size_t size,
                                             const std::filesystem::path& path,
                                             const PublicKey* key);

// The same without a signature check, for callers that checked it already.
PackageListing listPackage(const std::filesystem::path& path);

// publicKeyFile: the key the signature was checked with; empty when it was not checked.
std::string listingText(const PackageListing& listing, const std::string& publicKeyFile);
std::string listingJson(const PackageListing& listing, bool signatureChecked);

}  // namespace tessaryn

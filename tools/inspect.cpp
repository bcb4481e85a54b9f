#include "tools/inspect.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "package/bundle_document.h"
#include "package/locked_file.h"
#include "package/path_text.h"
#include "package/signature_check.h"
#include "system/system_reason.h"

namespace tessaryn {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr size_t kLzmaHeaderBytes = 13;  // properties (5), then the size, little-endian (8)

std::optional<uint64_t> unpackedSize(const uint8_t* bundle, const BundleEntry& entry) {
    // The header's 13 bytes, gathered over the chunks of the byte string.
    uint8_t header[kLzmaHeaderBytes];
    size_t have = 0;
    for (const auto& [at, length] : entry.data) {
        for (size_t i = 0; i < length && have < kLzmaHeaderBytes; ++i)
            header[have++] = bundle[at + i];
    }
    if (have < kLzmaHeaderBytes) return std::nullopt;
    uint64_t size = 0;
    for (size_t i = 0; i < 8; ++i) size |= static_cast<uint64_t>(header[5 + i]) << (8 * i);
    if (size == UINT64_MAX) return std::nullopt;  // the stream ends with a marker instead
    return size;
}

// "1 file", "2 files", "0 folders".
std::string count(size_t number, const char* singular) {
    return std::to_string(number) + " " + singular + (number == 1 ? "" : "s");
}

std::string ratioText(uint64_t packed, std::optional<uint64_t> unpacked) {
    if (!unpacked || *unpacked == 0) return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * packed / *unpacked);
    return text;
}

// Lists the bundle through the reader the setup extracts with, so that what is listed is what
// the setup would install and what is refused is what it would refuse.
PackageListing listBundle(const uint8_t* bundle, size_t size, const fs::path& path) {
    std::optional<BundleDocument> document;
    try {
        document.emplace(bundle, size);
    } catch (const json::exception& error) {
        throw std::runtime_error(pathText(path) + " is not a package (no readable bundle): " +
                                 error.what());
    } catch (const std::exception& error) {
        throw std::runtime_error(pathText(path) + " is not a package: " + error.what());
    }
    PackageListing listing;
    listing.version = document->version();
    for (size_t index = 0; index < document->entryCount(); ++index) {
        BundleEntry entry;
        try {
            entry = document->entry(index);
        } catch (const std::exception& error) {
            throw std::runtime_error(pathText(path) + " is not a package: entry " +
                                     std::to_string(index + 1) + ": " + error.what());
        }
        if (entry.kind == EntryKind::Ignored) continue;  // the setup skips it too
        ListedEntry listed;
        listed.name = std::move(entry.name);
        listed.directory = entry.kind == EntryKind::Folder;
        if (!listed.directory) {
            for (const auto& piece : entry.data) listed.packed += piece.second;
            listed.unpacked = unpackedSize(bundle, entry);
        }
        listing.entries.push_back(std::move(listed));
    }
    return listing;
}

}  // namespace

std::optional<PackageListing> inspectPackage(const fs::path& path, const PublicKey* key) {
    // One view of the file: the bytes checked are the bytes listed.
    const std::optional<LockedFile> view = LockedFile::open(pathText(path));
    if (!view) throw std::runtime_error("cannot read " + pathText(path) + ": " + errnoReason());
    return inspectPackage(view->data(), view->size(), path, key);
}

std::optional<PackageListing> inspectPackage(const uint8_t* data, size_t size,
                                             const fs::path& path, const PublicKey* key) {
    if (size <= kSignatureBytes) {
        throw std::runtime_error(pathText(path) + " is too short to be a package");
    }
    if (key && !verifySignedBytes(data, size, kPackageContext, *key)) return std::nullopt;
    return listBundle(data, size - kSignatureBytes, path);
}

PackageListing listPackage(const fs::path& path) {
    return *inspectPackage(path, nullptr);  // without a key there is no signature to refuse
}

std::string listingText(const PackageListing& listing, const std::string& publicKeyFile) {
    uint64_t packed = 0;
    uint64_t unpacked = 0;
    bool allKnown = true;
    size_t files = 0;
    std::string rows;
    char line[96];
    for (const ListedEntry& entry : listing.entries) {
        if (entry.directory) {
            std::snprintf(line, sizeof line, "%-6s %12s %12s %7s  ", "folder", "-", "-", "-");
        } else {
            ++files;
            packed += entry.packed;
            if (entry.unpacked) unpacked += *entry.unpacked;
            allKnown = allKnown && entry.unpacked.has_value();
            const std::string size = entry.unpacked ? std::to_string(*entry.unpacked) : "?";
            std::snprintf(line, sizeof line, "%-6s %12llu %12s %7s  ", "file",
                          static_cast<unsigned long long>(entry.packed), size.c_str(),
                          ratioText(entry.packed, entry.unpacked).c_str());
        }
        rows += line + entry.name + "\n";
    }
    std::string text = "version " + listing.version + ", " + count(files, "file") + ", " +
                       count(listing.entries.size() - files, "folder") + "\n";
    text += publicKeyFile.empty()
                ? "signature NOT checked (give --public PUBFILE to check it)\n"
                : "signature valid, checked with the public key " + publicKeyFile + "\n";
    std::snprintf(line, sizeof line, "%-6s %12s %12s %7s  %s\n", "type", "packed", "unpacked",
                  "ratio", "name");
    text += line + rows;
    const std::optional<uint64_t> total = allKnown ? std::optional(unpacked) : std::nullopt;
    std::snprintf(line, sizeof line, "%-6s %12llu %12s %7s\n", "total",
                  static_cast<unsigned long long>(packed),
                  total ? std::to_string(*total).c_str() : "?", ratioText(packed, total).c_str());
    return text + line;
}

std::string listingJson(const PackageListing& listing, bool signatureChecked) {
    json entries = json::array();
    for (const ListedEntry& entry : listing.entries) {
        json item = {{"type", entry.directory ? "folder" : "file"}, {"name", entry.name}};
        if (!entry.directory) {
            item["packed"] = entry.packed;
            item["unpacked"] = entry.unpacked ? json(*entry.unpacked) : json(nullptr);
            item["ratio"] = entry.unpacked && *entry.unpacked > 0
                                ? json(static_cast<double>(entry.packed) / *entry.unpacked)
                                : json(nullptr);
        }
        entries.push_back(std::move(item));
    }
    const json document = {{"version", listing.version},
                           {"signature", signatureChecked ? "valid" : "not checked"},
                           {"entries", std::move(entries)}};
    return document.dump(2) + "\n";
}

}  // namespace tessaryn

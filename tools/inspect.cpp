#include "tools/inspect.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "package/path_text.h"
#include "package/signed_file.h"
#include "tools/system_reason.h"

namespace tessaryn {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr size_t kLzmaHeaderBytes = 13;  // properties (5), then the size, little-endian (8)

std::vector<uint8_t> readBundle(const fs::path& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) throw std::runtime_error("cannot read " + pathText(path) + ": " + errnoReason());
    const std::streamoff size = file.tellg();
    if (size <= static_cast<std::streamoff>(kSignatureBytes)) {
        throw std::runtime_error(pathText(path) + " is too short to be a package");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size) - kSignatureBytes);
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        throw std::runtime_error("cannot read " + pathText(path) + ": " + errnoReason());
    }
    return bytes;
}

std::optional<uint64_t> unpackedSize(const std::vector<uint8_t>& item) {
    if (item.size() < kLzmaHeaderBytes) return std::nullopt;
    uint64_t size = 0;
    for (size_t i = 0; i < 8; ++i) size |= static_cast<uint64_t>(item[5 + i]) << (8 * i);
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

}  // namespace

PackageListing listPackage(const fs::path& path) {
    json document;
    try {
        document = json::from_cbor(readBundle(path));
    } catch (const json::exception&) {
        throw std::runtime_error(pathText(path) + " is not a package (no readable bundle)");
    }
    const auto bad = [&](const std::string& what) {
        return std::runtime_error(pathText(path) + " is not a package: " + what);
    };
    if (!document.is_object()) throw bad("the bundle is not a map");
    PackageListing listing;
    const auto version = document.find("version");
    if (version != document.end() && version->is_string()) listing.version = *version;
    const auto files = document.find("files");
    if (files == document.end() || !files->is_array()) throw bad("no list of files");
    for (const json& item : *files) {
        const auto name = item.find("n");
        const auto type = item.find("t");
        if (!item.is_object() || name == item.end() || !name->is_string() || type == item.end() ||
            (*type != "d" && *type != "f")) {
            throw bad("entry " + std::to_string(listing.entries.size() + 1) +
                      " has no name or type");
        }
        ListedEntry entry;
        entry.name = *name;
        entry.directory = *type == "d";
        if (!entry.directory) {
            const auto data = item.find("d");
            if (data == item.end() || !data->is_binary()) throw bad(entry.name + " has no data");
            entry.packed = data->get_binary().size();
            entry.unpacked = unpackedSize(data->get_binary());
        }
        listing.entries.push_back(std::move(entry));
    }
    return listing;
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

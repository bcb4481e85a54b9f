// Reading the bundle document and writing its entries under the destination folder.
#include "package/bundle.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>

#include "package/entry_name.h"
#include "package/path_text.h"

namespace tessaryn {

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

FileResult readInto(const fs::path& path, std::vector<uint8_t>& bytes) {
    FileResult result;
    result.path = pathText(path);
    try {
        std::ifstream file;
        file.exceptions(std::ios::failbit | std::ios::badbit);
        file.open(path, std::ios::binary);
        if (!file.is_open()) {
            result.code = 100;
            return result;
        }
        if (file.bad()) {
            result.code = 101;
            return result;
        }
        if (file.fail()) {
            result.code = 102;
            return result;
        }
        file.seekg(0, std::ios::end);
        const std::streamoff size = file.tellg();
        file.seekg(0, std::ios::beg);
        bytes.resize(static_cast<size_t>(size));
        if (size > 0) file.read(reinterpret_cast<char*>(bytes.data()), size);
    } catch (const std::ios_base::failure& error) {
        result.code = 200;
        result.systemCode = errno;
        result.message = error.what();
    }
    return result;
}

// The entry's text value for key: a missing key stops the extraction with a clear message
// (the library's operator[] on a const map without the key is undefined behaviour).
std::string entryText(const json& entry, const char* key) {
    if (!entry.is_object()) return entry[key].get<std::string>();  // the library's type error
    const auto found = entry.find(key);
    if (found == entry.end()) {
        throw std::runtime_error(std::string("Invalid bundle entry: missing \"") + key + "\"");
    }
    return found->get<std::string>();
}

void createDirectories(const fs::path& path) {
    std::error_code error;
    fs::create_directories(path, error);
    if (error) throw fs::filesystem_error("create_directories", path, error);
}

void extractFile(const json& entry, const std::string& name, const fs::path& target, float fraction,
                 const ExtractProgressCallback& callback) {
    if (callback) callback(fraction, "Extracting: " + name);
    const auto data = entry.find("d");
    if (data == entry.end() || !data->is_binary()) {
        throw std::runtime_error("Unsupported data format in bundle for file: " + name);
    }
    std::vector<uint8_t> output;
    const int status = decompressEntry(data->get_binary(), output);
    if (status != 0) {
        throw std::runtime_error("Decompression failed for file: " + name +
                                 " (Status code: " + std::to_string(status) + ")");
    }
    createDirectories(target.parent_path());
    const FileResult result = writeWholeFile(target, output);
    if (result.code != 0) {
        throw std::runtime_error("Failed to write file: " + pathText(target) +
                                 " (Error code: " + std::to_string(result.code) + ")");
    }
}

}  // namespace

std::vector<uint8_t> readWholeFile(const fs::path& path) {
    std::vector<uint8_t> bytes;
    const FileResult result = readInto(path, bytes);
    if (result.code != 0) {
        throw std::runtime_error("Failed to read file: " + pathText(path) +
                                 " (Error code: " + std::to_string(result.code) + ")");
    }
    return bytes;
}

FileResult writeWholeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    FileResult result;
    result.path = pathText(path);
    try {
        std::ofstream file;
        file.exceptions(std::ios::failbit | std::ios::badbit);
        file.open(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        file.close();
    } catch (const std::ios_base::failure& error) {
        result.code = 100;
        result.systemCode = errno;
        result.message = error.what();
    }
    return result;
}

void extractBundle(const fs::path& destination, const fs::path& bundlePath,
                   ExtractProgressCallback callback) {
    if (callback) callback(0.0f, "Reading bundle file...");
    json root;
    {
        // The raw bytes go as soon as they are parsed: the document holds its own copy.
        const std::vector<uint8_t> bytes = readWholeFile(bundlePath);
        if (callback) callback(0.05f, "Parsing bundle...");
        root = json::from_cbor(bytes, true, true, json::cbor_tag_handler_t::error);
    }
    if (!root.is_object() || !root.contains("files") || !root.contains("version")) {
        throw std::runtime_error("Invalid bundle file format");
    }
    const json& files = root.at("files");
    // Entries come as an array, as a map (values in key order) or not at all (null).
    if (!files.is_array() && !files.is_object() && !files.is_null()) {
        throw std::runtime_error("Invalid bundle file format");
    }
    if (callback) callback(0.1f, "Creating extraction directory...");
    createDirectories(destination);

    const size_t count = files.is_null() ? 0 : files.size();
    size_t index = 0;
    for (const json& entry : files) {
        std::string name = entryText(entry, "n");
        const std::string type = entryText(entry, "t");
        if (!name.empty() && name.front() == '/') name.erase(0, 1);
        const float fraction = static_cast<float>(index) / static_cast<float>(count) * 0.9f + 0.1f;
        ++index;
        if (type != "d" && type != "f") continue;

        // The bundle is signed, but a name must still never reach outside the destination.
        const std::string escape = entryNameEscapeReason(name);
        if (!escape.empty()) {
            throw std::runtime_error("Failed to extract file " + name + ": " + escape);
        }
        std::string joined = name;
        if constexpr (fs::path::preferred_separator == '/') {
            std::replace(joined.begin(), joined.end(), '\\', '/');
        }
        const fs::path target = destination / pathFromUtf8(joined);
        if (type == "d") {
            if (callback) callback(fraction, "Creating directory: " + name);
            createDirectories(target);
            continue;
        }
        try {
            extractFile(entry, name, target, fraction, callback);
        } catch (const std::exception& error) {
            throw std::runtime_error("Failed to extract file " + name + ": " + error.what());
        }
    }
}

}  // namespace tessaryn

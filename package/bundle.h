#pragma once
// The package's payload: one CBOR document listing directories and LZMA-compressed files, and
// its extraction into the installation folder.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tessaryn {

// Fraction from 0 to 1 and a text; may be empty.
using ExtractProgressCallback = std::function<void(float, const std::string&)>;

struct FileResult {
    uint32_t code = 0;  // 0 = success
    int32_t systemCode = 0;
    std::string message;
    std::string systemMessage;
    std::string path;
};

// Status codes of decompressEntry besides the LZMA SDK's own.
inline constexpr int kHeaderTooShort = 100;

// Unpacks every entry of the bundle file under destination. Throws std::runtime_error (or
// std::filesystem::filesystem_error for directories that cannot be made) on the first failure;
// files written before it stay.
void extractBundle(const std::filesystem::path& destination,
                   const std::filesystem::path& bundlePath, ExtractProgressCallback callback);

std::vector<uint8_t> readWholeFile(const std::filesystem::path& path);
FileResult writeWholeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Decodes one LZMA-Alone item and appends the bytes to output. 0 on success, else an LZMA SDK
// result code or kHeaderTooShort.
int decompressEntry(const std::vector<uint8_t>& compressed, std::vector<uint8_t>& output);

}  // namespace tessaryn

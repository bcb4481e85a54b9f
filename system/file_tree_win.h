#pragma once
// The files under a folder: what the log lists and what the uninstall record's size counts.
#include <cstdint>
#include <string>
#include <vector>

namespace tessaryn {

struct TreeFile {
    std::string name;  // relative to the folder, "\"-separated, UTF-8
    uint64_t size = 0;
};

// Bounds the walk of a folder that something else keeps filling.
inline constexpr size_t kMaxTreeFiles = 100000;

// Every file under the folder, sorted by name. Links and junctions are listed as themselves and
// never followed, so that nothing outside the folder is counted.
std::vector<TreeFile> listFiles(const std::wstring& folder);

uint64_t totalSize(const std::vector<TreeFile>& files);

// True for a folder (a link to one too); false for a file or when nothing is there.
bool isDirectory(const std::wstring& path);

// Kibibytes, rounded up, as the DWORD of the uninstall record ("EstimatedSize"); capped.
inline uint32_t kilobytesOf(uint64_t bytes) {
    const uint64_t kb = bytes / 1024 + (bytes % 1024 != 0);
    return kb > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(kb);
}

}  // namespace tessaryn

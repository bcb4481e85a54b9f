#pragma once
// Packing a folder into a signed package: a CBOR bundle of LZMA-compressed files, signed with
// the package context.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "tools/key_files.h"

namespace tessaryn {

struct PackOptions {
    std::filesystem::path folder;
    std::filesystem::path output;
    std::string version = "1.0";
    int level = 5;
    // Entries compressed at once; 0: one per core. The output is the same for every count.
    unsigned threads = 0;
    // Called after each entry, in order and on the calling thread, with the bytes read so far, the total and the entry's name.
    std::function<void(uint64_t, uint64_t, const std::string&)> progress;
};

struct PackSummary {
    size_t directories = 0;
    size_t files = 0;
    uint64_t inputBytes = 0;
    uint64_t outputBytes = 0;
};

// Throws std::runtime_error with a one-line reason on failure; no output file is left then.
PackSummary packFolder(const PackOptions& options, const SecretKey& key);

}  // namespace tessaryn

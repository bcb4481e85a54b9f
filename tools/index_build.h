#pragma once
// The file index sign writes into the settings: made from the package by decoding each file
// entry (on several threads), and compared with an index the settings already carry.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "package/file_index.h"

namespace tessaryn {

struct BuiltIndex {
    std::optional<FileIndex> index;
    std::string whyNone;  // when there is no index: why the package cannot have one
};

// The index of the whole .pak file (signature included). No index for a package whose files
// the index cannot describe (an item in chunks, a name twice); throws std::runtime_error for an
// entry that does not decode. `threads` 0: as many as extraction uses.
BuiltIndex buildFileIndex(const uint8_t* pak, size_t size, unsigned threads = 0);

// Empty when `carried` is `made` (the index of that same package), else the first
// disagreement in words.
std::string indexDisagreement(const FileIndex& carried, const FileIndex& made, const uint8_t* pak,
                              size_t size);

// The settings (JSON text, as sign writes them) with "index" set to `index`, one file a line,
// or without "index" when there is none; the other keys in their order.
std::string withFileIndex(const std::string& settings, const std::optional<FileIndex>& index);

// What `inspect` and `verify` show of an index: {"files", "folders", "unpackedBytes",
// "packageBytes"} (the last the sum of the files' spans).
nlohmann::json indexSummary(const FileIndex& index);
std::string indexSummaryText(const FileIndex& index);

}  // namespace tessaryn

#include "tools/index_build.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "package/bundle.h"
#include "package/bundle_document.h"
#include "package/lzma_entry.h"
#include "package/sha256.h"
#include "package/signature_check.h"

namespace tessaryn {

namespace {

Sha256Digest digestOf(const uint8_t* bytes, size_t size) {
    Sha256 hash;
    hash.add(bytes, size);
    const std::optional<Sha256Digest> digest = hash.finish();
    if (!digest) throw std::runtime_error("no SHA-256 from the system");
    return *digest;
}

// Decodes each file of the index where it lies in the package, on `threads` workers, and
// writes its unpacked size and SHA-256 into its row.
void hashDecodedFiles(FileIndex& index, const uint8_t* pak, unsigned threads) {
    std::atomic<size_t> next{0};
    std::mutex lock;
    std::string failure;
    const auto work = [&] {
        EntryDecoder decoder;
        for (size_t at = next++; at < index.files.size(); at = next++) {
            IndexedFile& file = index.files[at];
            Sha256 hash;
            uint64_t size = 0;
            const DecodeStatus status = decoder.decode(
                pak + file.offset, static_cast<size_t>(file.length),
                [&](const uint8_t* bytes, size_t count) {
                    hash.add(bytes, count);
                    size += count;
                    return true;
                });
            const std::optional<Sha256Digest> digest = hash.finish();
            if (status != DecodeStatus::Ok || !digest) {
                const std::lock_guard<std::mutex> held(lock);
                if (failure.empty())
                    failure = "file " + file.name + " does not decode (status " +
                              std::to_string(static_cast<int>(status)) + ")";
                return;
            }
            file.size = size;
            file.sha256 = *digest;
        }
    };
    std::vector<std::thread> workers;
    for (unsigned i = 1; i < threads; ++i) workers.emplace_back(work);
    work();
    for (std::thread& worker : workers) worker.join();
    if (!failure.empty()) throw std::runtime_error(failure);
}

}  // namespace

BuiltIndex buildFileIndex(const uint8_t* pak, size_t size, unsigned threads) {
    if (size <= kSignatureBytes) throw std::runtime_error("the package is too short");
    const BundleDocument document(pak, size - kSignatureBytes);
    FileIndex index;
    for (size_t at = 0; at < document.entryCount(); ++at) {
        const BundleEntry entry = document.entry(at);
        if (entry.kind == EntryKind::Folder) index.folders.push_back(entry.name);
        if (entry.kind != EntryKind::File) continue;
        if (entry.data.size() != 1)
            return {std::nullopt, "the data of file " + entry.name + " lies in " +
                                      std::to_string(entry.data.size()) + " pieces, not one span"};
        const auto [offset, length] = entry.data.front();
        index.files.push_back({entry.name, 0, {}, offset, length, digestOf(pak + offset, length)});
    }
    // What the setup would refuse to read is not written.
    if (!readFileIndex(fileIndexJson(index), PackageBinding{size, {}}))
        return {std::nullopt, "the package names a file twice, as a folder, under a file or "
                              "with an empty item"};
    // As many decoders as extraction runs: each window may take its entry's whole dictionary.
    hashDecodedFiles(index, pak, threads == 0 ? defaultExtractThreads() : threads);
    return {std::move(index), {}};
}

std::string indexDisagreement(const FileIndex& carried, const FileIndex& made, const uint8_t* pak,
                              size_t size) {
    if (std::string words = checkIndexAgainstPackage(carried, pak, size); !words.empty())
        return words;
    // Same rows and spans as the package's: what is left are the decoded sizes and hashes.
    for (size_t at = 0; at < carried.files.size() && at < made.files.size(); ++at) {
        const IndexedFile& mine = made.files[at];
        const IndexedFile& theirs = carried.files[at];
        if (theirs.size != mine.size)
            return "file " + mine.name + ": the index names " + std::to_string(theirs.size) +
                   " bytes, it decodes to " + std::to_string(mine.size);
        if (theirs.sha256 != mine.sha256)
            return "file " + mine.name + ": the index names SHA-256 " + sha256Hex(theirs.sha256) +
                   ", its decoded bytes have " + sha256Hex(mine.sha256);
    }
    return {};
}

std::string withFileIndex(const std::string& settings, const std::optional<FileIndex>& index) {
    nlohmann::ordered_json root = nlohmann::ordered_json::parse(settings);
    if (!index) {
        root.erase("index");
        return root.dump(2) + "\n";
    }
    // A marker no settings value can hold, replaced by the index written one file a line: an
    // index of thousands of files indented value by value would be five times larger.
    const std::string marker = std::string("\x01") + "file index" + "\x01";
    root["index"] = marker;
    std::string text = root.dump(2) + "\n";
    const std::string placed = "\"\\u0001file index\\u0001\"";
    const size_t at = text.rfind(placed);
    if (at == std::string::npos) throw std::runtime_error("the index has no place");
    const nlohmann::json value = fileIndexJson(*index);
    std::string written = "{\n    \"folders\": " + value["folders"].dump() + ",\n    \"files\": [";
    for (size_t row = 0; row < value["files"].size(); ++row)
        written += (row == 0 ? "\n      " : ",\n      ") + value["files"][row].dump();
    written += value["files"].empty() ? "]\n  }" : "\n    ]\n  }";
    return text.replace(at, placed.size(), written);
}

nlohmann::json indexSummary(const FileIndex& index) {
    uint64_t unpacked = 0;
    uint64_t packed = 0;
    for (const IndexedFile& file : index.files) {
        unpacked += file.size;
        packed += file.length;
    }
    return {{"files", index.files.size()},
            {"folders", index.folders.size()},
            {"unpackedBytes", unpacked},
            {"packageBytes", packed}};
}

std::string indexSummaryText(const FileIndex& index) {
    const nlohmann::json summary = indexSummary(index);
    return "index: " + summary["files"].dump() + " files (" + summary["unpackedBytes"].dump() +
           " bytes unpacked, " + summary["packageBytes"].dump() + " bytes of the package), " +
           summary["folders"].dump() + " folders";
}

}  // namespace tessaryn

// Extraction joins the document reader and the writer pool: the walk reads each entry in place,
// makes the folders and hands each file to a worker, which decodes it where it lies (in the
// caller's view, a read-only mapping of the package) straight into its file. The compressed input
// is therefore streamed too, by the pager, and costs no private memory; what an entry costs is
// its decoder's window (dictionary).
#include "package/bundle.h"

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "package/bundle_document.h"
#include "package/bundle_stream.h"
#include "package/locked_file.h"
#include "package/output_file.h"
#include "package/writer_pool.h"
#include "system/ascii_text.h"

namespace tessaryn {

namespace {

// An entry name as Windows compares names: case-blind, either separator.
std::string foldedName(const std::string& name) {
    std::string folded = lowerCaseAscii(name);
    std::replace(folded.begin(), folded.end(), '\\', '/');
    return folded;
}

void makeFolder(const std::string& path) {
    const std::string failure = makeDirectories(path);
    if (!failure.empty()) throw std::runtime_error(failure);
}

std::string parentOf(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && !isPathSeparator(path[end - 1])) --end;
    while (end > 1 && isPathSeparator(path[end - 1])) --end;
    return path.substr(0, end);
}

// The walk both roads share: folders made in order, files handed to the pool. `next` gives the
// entries in extraction order (none at the end) and `announce` hears of each before it is
// handled.
void walkEntries(const std::string& destination, const uint8_t* bundle,
                 const std::function<std::optional<BundleEntry>()>& next,
                 const std::function<void(size_t, const BundleEntry&)>& announce, unsigned threads,
                 bool flushFiles) {
    makeFolder(destination);

    // A flush waits on the disk, not the processor: with every file flushed, all eight workers
    // run whatever the number of cores, so that flushes overlap each other and the decoding.
    if (threads == 0) threads = flushFiles ? 8 : defaultExtractThreads();
    std::optional<WriterPool> pool;
    if (threads > 1) pool.emplace(bundle, threads, flushFiles, kExtractWindowBudget);
    EntryDecoder decoder;  // for the calling thread, when it decodes itself
    // File names handed to the pool since it was last empty, folded as Windows compares them:
    // a later entry of one of these names, or a folder through one, waits until the pool is
    // empty, so that entries of one name land in the bundle's order.
    std::set<std::string> pending;
    std::string lastParent;
    const auto ensureAlone = [&](const std::string& folded) {
        if (!pool || pending.empty()) return;
        bool clash = pending.count(folded) != 0;
        for (size_t at = 0; !clash && at < folded.size(); ++at) {
            if (folded[at] == '/') clash = pending.count(folded.substr(0, at)) != 0;
        }
        if (!clash) return;
        pool->drain();
        pending.clear();
        lastParent.clear();
    };
    // The pool's first failure, once its workers have ended; an entry whose bytes stopped
    // arriving is none, and sends the whole bundle to be read whole.
    const auto closePool = [&] {
        auto failure = pool->close();
        if (pool->gaveUp()) throw BundleReadWhole("the package's bytes stopped coming");
        return failure;
    };
    // A failure met here still waits for the pool: an entry before it may have failed first.
    const auto failHere = [&](size_t index, const std::string& message) {
        if (pool) {
            pool->failAt(index);
            if (auto earlier = closePool()) throw std::runtime_error(earlier->second);
        }
        throw std::runtime_error(message);
    };

    const bool joinsWithSlash = isPathSeparator('/') && !isPathSeparator('\\');
    std::string base = destination;
    if (!base.empty() && !isPathSeparator(base.back())) base += joinsWithSlash ? '/' : '\\';
    for (size_t index = 0;; ++index) {
        std::optional<BundleEntry> read;
        try {
            read = next();
        } catch (const BundleReadWhole&) {
            throw;
        } catch (const std::exception& error) {
            failHere(index, error.what());
        }
        if (!read) break;
        BundleEntry& entry = *read;
        if (entry.kind == EntryKind::Ignored) continue;
        announce(index, entry);
        const std::string& name = entry.name;
        std::string joined = name;
        if (joinsWithSlash) std::replace(joined.begin(), joined.end(), '\\', '/');
        const std::string target = base + joined;
        const std::string folded = foldedName(name);
        const std::string prefix = "Failed to extract file " + name + ": ";
        if (entry.kind == EntryKind::Folder) {
            ensureAlone(folded);
            try {
                makeFolder(target);
            } catch (const std::exception& error) {
                failHere(index, error.what());
            }
            continue;
        }
        ensureAlone(folded);
        // Folders exist before their files are handed to a worker.
        const std::string parent = parentOf(target);
        if (parent != lastParent) {
            try {
                makeFolder(parent);
            } catch (const std::exception& error) {
                failHere(index, prefix + error.what());
            }
            lastParent = parent;
        }
        FileJob job{index, name, target, std::move(entry.data), std::move(entry.arriving)};
        if (!pool) {
            const std::string failure =
                writeEntry(bundle, job, decoder, flushFiles, [] { return false; });
            if (!failure.empty()) throw std::runtime_error(prefix + failure);
            continue;
        }
        pending.insert(folded);
        if (!pool->add(std::move(job))) break;  // a worker failed: its failure is reported below
    }
    if (pool) {
        if (auto failure = closePool()) throw std::runtime_error(failure->second);
    }
}

// The bytes an entry's file takes once unpacked: its size from its LZMA header (its packed size
// when the header does not say).
uint64_t unpackedBytesOf(const uint8_t* bundle, const BundleEntry& entry) {
    // An LZMA-Alone item starts with its properties (5 bytes), then its unpacked size (8 bytes,
    // little-endian).
    constexpr size_t kLzmaHeaderBytes = 13;
    uint8_t header[kLzmaHeaderBytes] = {};
    size_t held = 0;
    uint64_t packed = 0;
    for (const auto& [offset, length] : entry.data) {
        packed += length;
        for (size_t i = 0; i < length && held < sizeof(header); ++i)
            header[held++] = bundle[offset + i];
    }
    uint64_t unpacked = 0;
    for (size_t i = 0; i < 8; ++i) unpacked |= static_cast<uint64_t>(header[5 + i]) << (8 * i);
    // No size in the header (the stream ends with a marker): the packed size at least.
    return held < sizeof(header) || unpacked == UINT64_MAX ? packed : unpacked;
}

}  // namespace

unsigned defaultExtractThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 1u, 8u);
}

void extractBundle(const std::string& destination, const uint8_t* bundle, size_t size,
                   ExtractProgressCallback callback, unsigned threads, bool flushFiles) {
    if (callback) callback(0.0f, "Reading bundle file...");
    if (callback) callback(0.05f, "Parsing bundle...");
    const BundleDocument document(bundle, size);
    if (callback) callback(0.1f, "Creating extraction directory...");
    const size_t count = document.entryCount();
    size_t index = 0;
    walkEntries(
        destination, bundle,
        [&]() -> std::optional<BundleEntry> {
            if (index == count) return std::nullopt;
            return document.entry(index++);
        },
        [&](size_t at, const BundleEntry& entry) {
            if (!callback) return;
            const float fraction = static_cast<float>(at) / static_cast<float>(count) * 0.9f + 0.1f;
            callback(fraction, (entry.kind == EntryKind::Folder ? "Creating directory: "
                                                                  : "Extracting: ") +
                                   entry.name);
        },
        threads, flushFiles);
}

std::string extractBundleStream(const std::string& destination, BundleStream& stream,
                                const uint8_t* bundle, uint64_t spaceBudget,
                                const StreamProgressCallback& progress, unsigned threads,
                                bool flushFiles) {
    uint64_t unpacked = 0;
    try {
        walkEntries(
            destination, bundle, [&] { return stream.next(); },
            [&](size_t index, const BundleEntry& entry) {
                if (entry.kind == EntryKind::File) {
                    const uint64_t bytes = unpackedBytesOf(bundle, entry);
                    unpacked = bytes > UINT64_MAX - unpacked ? UINT64_MAX : unpacked + bytes;
                    if (unpacked > spaceBudget)
                        throw BundleReadWhole("the files would not fit in the free space");
                }
                if (progress) progress(index, stream.listed());
            },
            threads, flushFiles);
    } catch (const BundleReadWhole&) {
        throw;
    } catch (const std::exception&) {
        // The whole document's own error, found further on, comes first, as when it is read
        // whole before any entry.
        (void)stream.confirm(false);
        throw;
    }
    return stream.confirm(true);
}

uint64_t bundleUnpackedBytes(const uint8_t* bundle, size_t size) {
    const BundleDocument document(bundle, size);
    uint64_t total = 0;
    for (size_t index = 0; index < document.entryCount(); ++index) {
        const BundleEntry entry = document.entry(index);
        if (entry.kind != EntryKind::File) continue;
        const uint64_t counted = unpackedBytesOf(bundle, entry);
        total = counted > UINT64_MAX - total ? UINT64_MAX : total + counted;
    }
    return total;
}

void extractBundle(const std::string& destination, const std::string& bundlePath,
                   ExtractProgressCallback callback, unsigned threads, bool flushFiles) {
    const std::optional<LockedFile> file = LockedFile::open(bundlePath);
    if (!file) {
        throw std::runtime_error("Failed to read file: " + bundlePath + " (Error code: 200)");
    }
    extractBundle(destination, file->data(), file->size(), std::move(callback), threads,
                  flushFiles);
}

}  // namespace tessaryn

// Extraction joins the document reader and the writer pool: the walk reads each entry in place,
// makes the folders and hands each file to a worker, which decodes it where it lies (in the
// caller's view, a read-only mapping of the package) straight into its file. The compressed input
// is therefore streamed too, by the pager, and costs no private memory; what an entry costs is
// its decoder's window (dictionary).
#include "package/bundle.h"

#include <algorithm>
#include <optional>
#include <set>
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

std::string parentOf(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && !isPathSeparator(path[end - 1])) --end;
    while (end > 1 && isPathSeparator(path[end - 1])) --end;
    return path.substr(0, end);
}

// What the walk both roads share holds between entries: folders made in order, files handed to
// the pool (or, with one thread, decoded on the calling thread).
class EntryWalk {
  public:
    EntryWalk(const std::string& destination, const uint8_t* bundle, unsigned threads,
              bool flushFiles)
        : bundle_(bundle), flush_(flushFiles) {
        // A flush waits on the disk, not the processor: with every file flushed, all eight
        // workers run whatever the number of cores, so that flushes overlap each other and the
        // decoding.
        if (threads == 0) threads = flushFiles ? 8 : defaultExtractThreads();
        if (threads > 1) pool_.emplace(bundle, threads, flushFiles, kExtractWindowBudget);
        base_ = destination;
        if (!base_.empty() && !isPathSeparator(base_.back())) base_ += joinsWithSlash_ ? '/' : '\\';
    }

    // Makes the entry's folder, or hands its file on. Done to go on; Cancelled once the pool
    // has stopped (its failure is the one finish() tells).
    UnpackResult handle(size_t index, BundleEntry& entry);

    // A failure met here still waits for the pool: an entry before it may have failed first.
    UnpackResult failHere(UnpackResult failure) {
        if (pool_) {
            pool_->failAt(failure.entry());
            UnpackResult earlier = pool_->close();
            if (!earlier.isDone()) return earlier;
        }
        return failure;
    }

    UnpackResult finish() { return pool_ ? pool_->close() : UnpackResult::done(); }

  private:
    // File names handed to the pool since it was last empty, folded as Windows compares them:
    // a later entry of one of these names, or a folder through one, waits until the pool is
    // empty, so that entries of one name land in the bundle's order.
    void ensureAlone(const std::string& folded) {
        if (!pool_ || pending_.empty()) return;
        bool clash = pending_.count(folded) != 0;
        for (size_t at = 0; !clash && at < folded.size(); ++at) {
            if (folded[at] == '/') clash = pending_.count(folded.substr(0, at)) != 0;
        }
        if (!clash) return;
        pool_->drain();
        pending_.clear();
        lastParent_.clear();
    }

    const uint8_t* bundle_;
    const bool flush_;
    const bool joinsWithSlash_ = isPathSeparator('/') && !isPathSeparator('\\');
    std::string base_;
    std::optional<WriterPool> pool_;
    EntryDecoder decoder_;  // for the calling thread, when it decodes itself
    std::set<std::string> pending_;
    std::string lastParent_;
};

UnpackResult EntryWalk::handle(size_t index, BundleEntry& entry) {
    const std::string& name = entry.name;
    std::string joined = name;
    if (joinsWithSlash_) std::replace(joined.begin(), joined.end(), '\\', '/');
    const std::string target = base_ + joined;
    const std::string folded = foldedName(name);
    ensureAlone(folded);
    if (entry.kind == EntryKind::Folder) {
        UnpackResult made = makeDirectories(target, index);
        return made.isDone() ? made : failHere(std::move(made));
    }
    // Folders exist before their files are handed to a worker.
    const std::string parent = parentOf(target);
    if (parent != lastParent_) {
        const UnpackResult made = makeDirectories(parent, index);
        if (!made.isDone()) {
            return failHere(
                UnpackResult::failed(index, "Failed to extract file " + name + ": " + made.text()));
        }
        lastParent_ = parent;
    }
    FileJob job{index, name, target, std::move(entry.data), std::move(entry.arriving)};
    if (!pool_) return writeEntry(bundle_, job, decoder_, flush_, [] { return false; });
    pending_.insert(folded);
    return pool_->add(std::move(job)) ? UnpackResult::done() : UnpackResult::cancelled();
}

using AnnounceEntry = std::function<std::optional<std::string>(size_t, const BundleEntry&)>;

// `next` gives the entries in extraction order (none at the end, or when the bundle is to be read
// whole: `readWhole` then says why); `announce` hears of each before it is handled and may ask
// for the bundle to be read whole. Leaving early cancels what the pool still holds.
UnpackResult walkEntries(const std::string& destination, const uint8_t* bundle,
                         const std::function<std::optional<BundleEntry>()>& next,
                         const std::function<std::optional<std::string>()>& readWhole,
                         const AnnounceEntry& announce,
                         unsigned threads, bool flushFiles) {
    UnpackResult made = makeDirectories(destination, 0);
    if (!made.isDone()) return made;
    EntryWalk walk(destination, bundle, threads, flushFiles);
    for (size_t index = 0;; ++index) {
        std::optional<BundleEntry> read;
        try {
            read = next();
        } catch (const std::exception& error) {
            // The document's own failure (BundleDocument's texts).
            return walk.failHere(UnpackResult::failed(index, error.what()));
        }
        if (!read) {
            if (std::optional<std::string> why = readWhole()) return UnpackResult::readWhole(*why);
            break;
        }
        if (read->kind == EntryKind::Ignored) continue;
        if (std::optional<std::string> why = announce(index, *read))
            return UnpackResult::readWhole(*why);
        UnpackResult handled = walk.handle(index, *read);
        if (handled.kind() == UnpackResult::Kind::Cancelled) break;
        if (!handled.isDone()) return handled;
    }
    return walk.finish();
}

// The bytes an entry's file takes once unpacked.
uint64_t unpackedBytesOf(const uint8_t* bundle, const BundleEntry& entry) {
    return ItemHeader::of(bundle, entry.data).unpackedBytes();
}

}  // namespace

unsigned defaultExtractThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 1u, 8u);
}

UnpackResult extractBundle(const std::string& destination, const uint8_t* bundle, size_t size,
                           ExtractProgressCallback callback, unsigned threads, bool flushFiles) {
    if (callback) callback(0.0f, "Reading bundle file...");
    if (callback) callback(0.05f, "Parsing bundle...");
    std::optional<BundleDocument> document;
    try {
        document.emplace(bundle, size);
    } catch (const std::exception& error) {
        return UnpackResult::failed(0, error.what());
    }
    if (callback) callback(0.1f, "Creating extraction directory...");
    const size_t count = document->entryCount();
    size_t index = 0;
    return walkEntries(
        destination, bundle,
        [&]() -> std::optional<BundleEntry> {
            if (index == count) return std::nullopt;
            return document->entry(index++);
        },
        [] { return std::optional<std::string>(); },
        [&](size_t at, const BundleEntry& entry) {
            if (callback) {
                const float fraction =
                    static_cast<float>(at) / static_cast<float>(count) * 0.9f + 0.1f;
                callback(fraction, (entry.kind == EntryKind::Folder ? "Creating directory: "
                                                                      : "Extracting: ") +
                                       entry.name);
            }
            return std::optional<std::string>();
        },
        threads, flushFiles);
}

UnpackResult extractBundleStream(const std::string& destination, BundleStream& stream,
                                 const uint8_t* bundle, uint64_t spaceBudget,
                                 const StreamProgressCallback& progress, unsigned threads,
                                 bool flushFiles) {
    uint64_t unpacked = 0;
    const UnpackResult walked = walkEntries(
        destination, bundle, [&] { return stream.next(); }, [&] { return stream.readWhole(); },
        [&](size_t index, const BundleEntry& entry) -> std::optional<std::string> {
            if (entry.kind == EntryKind::File) {
                const uint64_t bytes = unpackedBytesOf(bundle, entry);
                unpacked = bytes > UINT64_MAX - unpacked ? UINT64_MAX : unpacked + bytes;
                if (unpacked > spaceBudget) return "the files would not fit in the free space";
            }
            if (progress) progress(index, stream.listed());
            return std::nullopt;
        },
        threads, flushFiles);
    if (walked.kind() == UnpackResult::Kind::ReadWhole) return walked;
    try {
        // The whole document's own error, found further on, comes first, as when it is read
        // whole before any entry.
        const UnpackResult whole = stream.confirm(walked.isDone());
        return walked.isDone() || !whole.isDone() ? whole : walked;
    } catch (const std::exception& error) {
        return UnpackResult::failed(0, error.what());
    }
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

UnpackResult extractBundle(const std::string& destination, const std::string& bundlePath,
                           ExtractProgressCallback callback, unsigned threads, bool flushFiles) {
    const std::optional<LockedFile> file = LockedFile::open(bundlePath);
    if (!file) return UnpackResult::failed(0, readFailedText(bundlePath));
    return extractBundle(destination, file->data(), file->size(), std::move(callback), threads,
                  flushFiles);
}

}  // namespace tessaryn

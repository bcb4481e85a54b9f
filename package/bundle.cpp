// Reading the bundle document in place and writing its entries under the destination folder.
//
// The document is walked at the framing level only: the entries' compressed bytes are never
// copied, workers decode them where they lie (in the caller's view, a read-only mapping of the
// package) straight into their files. The compressed input is therefore streamed too, by the
// pager, and costs no private memory; what an entry costs is its decoder's window (dictionary).
#include "package/bundle.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "package/cbor_frame.h"
#include "package/entry_name.h"
#include "package/locked_file.h"
#include "package/output_file.h"
#include "system/ascii_text.h"

namespace tessaryn {

using json = nlohmann::json;

namespace {

using Pieces = std::vector<std::pair<size_t, size_t>>;

// An LZMA-Alone item starts with its properties (5 bytes), then its unpacked size (8 bytes,
// little-endian).
constexpr size_t kLzmaHeaderBytes = 13;

// One entry of the list as found by the walk: where its item starts.
struct EntryPlace {
    std::string key;  // for a map of entries: its key, which orders the entries
    size_t offset = 0;
};

// A text field of an entry: its text, or the name of the type it has instead.
struct TextField {
    bool present = false;
    bool isText = false;
    std::string text;
    const char* typeName = "";
};

// What an entry says, as far as extraction needs it. Values of the wrong type fail with the
// JSON library's own messages, so that a bad entry reads the same to the setup and to the
// publisher tool's reader.
struct EntryFields {
    bool isMap = false;
    const char* typeName = "";  // of the entry itself
    TextField name;             // "n"
    TextField type;             // "t"
    bool hasData = false;       // "d" is a byte string
    Pieces data;                // its bytes, in place
};

// The JSON library's name for the type of an item.
const char* typeNameOf(const CborHead& head) {
    switch (head.major) {
        case 0:
        case 1:
            return "number";
        case 2:
            return "binary";
        case 3:
            return "string";
        case 4:
            return "array";
        case 5:
            return "object";
        default:
            break;
    }
    if (head.initial == 0xF4 || head.initial == 0xF5) return "boolean";
    if (head.initial == 0xF6) return "null";
    return "number";
}

// The walk of the whole document: checks every byte of it before anything is written, and lists
// the entries in the order they are extracted.
std::vector<EntryPlace> listEntries(const uint8_t* data, size_t size) {
    CborCursor cursor(data, size);
    const CborHead root = cursor.head();
    if (root.major != 5) {
        cursor.skip(root);
        if (!cursor.atEnd()) cursor.fail(110, "expected end of input; last byte: 0x" + std::to_string(data[cursor.position()]));
        throw std::runtime_error("Invalid bundle file format");
    }
    bool hasVersion = false;
    std::optional<size_t> filesAt;  // the last "files" wins, as in the library's documents
    for (uint64_t i = 0; root.indefinite ? !cursor.nextIsBreak() : i < root.value; ++i) {
        const std::string key = cursor.text(cursor.head());
        if (key == "version") hasVersion = true;
        if (key == "files") filesAt = cursor.position();
        cursor.skip(cursor.head());
    }
    if (!cursor.atEnd()) {
        cursor.fail(110, "expected end of input; last byte: 0x" + std::to_string(data[cursor.position()]));
    }
    if (!filesAt || !hasVersion) throw std::runtime_error("Invalid bundle file format");

    // Entries come as an array, as a map (values in key order) or not at all (null).
    CborCursor files(data, size, *filesAt);
    const CborHead list = files.head();
    std::vector<EntryPlace> places;
    if (list.initial == 0xF6) return places;
    if (list.major != 4 && list.major != 5) throw std::runtime_error("Invalid bundle file format");
    for (uint64_t i = 0; list.indefinite ? !files.nextIsBreak() : i < list.value; ++i) {
        EntryPlace place;
        if (list.major == 5) place.key = files.text(files.head());
        place.offset = files.position();
        files.skip(files.head());
        places.push_back(std::move(place));
    }
    if (list.major == 5) {
        // A map holds each key once, the last one given (offsets grow in the order given).
        std::sort(places.begin(), places.end(), [](const EntryPlace& a, const EntryPlace& b) {
            return a.key < b.key || (a.key == b.key && a.offset < b.offset);
        });
        std::vector<EntryPlace> unique;
        for (size_t i = 0; i < places.size(); ++i) {
            if (i + 1 < places.size() && places[i + 1].key == places[i].key) continue;
            unique.push_back(std::move(places[i]));
        }
        places.swap(unique);
    }
    return places;
}

EntryFields readEntry(const uint8_t* data, size_t size, size_t offset) {
    CborCursor cursor(data, size, offset);
    const CborHead head = cursor.head();
    EntryFields entry;
    entry.typeName = typeNameOf(head);
    if (head.major != 5) return entry;
    entry.isMap = true;
    // A key given twice counts with its last value, as in the library's maps.
    for (uint64_t i = 0; head.indefinite ? !cursor.nextIsBreak() : i < head.value; ++i) {
        const std::string key = cursor.text(cursor.head());
        const CborHead value = cursor.head();
        if (key == "d") {
            entry.hasData = value.major == 2;
            entry.data.clear();
            if (entry.hasData) {
                cursor.bytes(value, entry.data);
                continue;
            }
        } else if (key == "n" || key == "t") {
            TextField& field = key == "n" ? entry.name : entry.type;
            field.present = true;
            field.isText = value.major == 3;
            field.typeName = typeNameOf(value);
            field.text.clear();
            if (field.isText) {
                field.text = cursor.text(value);
                continue;
            }
        }
        cursor.skip(value);
    }
    return entry;
}

// The entry's text value for key: a missing key stops the extraction with a clear message.
std::string entryText(const EntryFields& entry, const char* key) {
    if (!entry.isMap) {
        throw json::type_error::create(
            305, std::string("cannot use operator[] with a string argument with ") + entry.typeName,
            nullptr);
    }
    const TextField& field = key[0] == 'n' ? entry.name : entry.type;
    if (!field.present) {
        throw std::runtime_error(std::string("Invalid bundle entry: missing \"") + key + "\"");
    }
    if (!field.isText) {
        throw json::type_error::create(
            302, std::string("type must be string, but is ") + field.typeName, nullptr);
    }
    return field.text;
}

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

// One file to write: its place in the bundle's order, its name and where its bytes lie.
struct FileJob {
    size_t index = 0;
    std::string name;
    std::string target;
    Pieces data;
};

// Decodes one entry into its file. Empty on success (or when cancelled), else the failure's
// text without the "Failed to extract file" prefix.
std::string writeEntry(const uint8_t* bundle, const FileJob& job, EntryDecoder& decoder,
                       const std::function<bool()>& cancelled) {
    // Chunked byte strings are rare (our packer never writes them): they are joined first.
    std::vector<uint8_t> joined;
    const uint8_t* input = nullptr;
    size_t inputSize = 0;
    if (job.data.size() == 1) {
        input = bundle + job.data[0].first;
        inputSize = job.data[0].second;
    } else {
        for (const auto& [at, length] : job.data)
            joined.insert(joined.end(), bundle + at, bundle + at + length);
        input = joined.data();
        inputSize = joined.size();
    }
    OutputFile file;
    bool opened = false;
    bool writeFailed = false;
    const int status = decoder.decode(input, inputSize, [&](const uint8_t* bytes, size_t size) {
        if (cancelled()) return false;
        // Opened only once there is output, so that a stream that fails at once leaves an
        // earlier file of that name as it was.
        if (!opened) {
            opened = true;
            if (!file.create(job.target)) {
                writeFailed = true;
                return false;
            }
        }
        if (!file.write(bytes, size)) {
            writeFailed = true;
            return false;
        }
        return true;
    });
    const std::string writeFailure =
        "Failed to write file: " + job.target + " (Error code: 100)";
    if (writeFailed) return writeFailure;
    if (status == kOutputRefused) return {};  // cancelled: the file goes with `file`
    if (status != 0) {
        return "Decompression failed for file: " + job.name +
               " (Status code: " + std::to_string(status) + ")";
    }
    if (!opened && !file.create(job.target)) return writeFailure;
    if (!file.finish()) return writeFailure;
    return {};
}

// Workers that write the files handed to them. The first failure in the bundle's order wins:
// entries after it are cancelled, entries before it still finish, so that the failure reported
// is the one a sequential extraction would have met first.
class WriterPool {
  public:
    WriterPool(const uint8_t* bundle, unsigned threads) : bundle_(bundle) {
        for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
    }
    // Leaving early (an exception on the calling thread) cancels what is still queued or
    // running; the workers are joined either way.
    ~WriterPool() {
        {
            std::lock_guard lock(mutex_);
            abandoned_ = true;
        }
        close();
    }

    // Hands a job over; waits while the queue is full. False once a failure has stopped the
    // pool.
    bool add(FileJob job) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return queue_.size() < kQueuedPerWorker * workers_.size() || stopped(); });
        if (stopped()) return false;
        ++busy_;
        queue_.push_back(std::move(job));
        work_.notify_one();
        return true;
    }

    // Waits until every job handed over has ended.
    void drain() {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return busy_ == 0; });
    }

    // Ends the workers (after their jobs) and returns the first failure, if any.
    std::optional<std::pair<size_t, std::string>> close() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
            work_.notify_all();
        }
        for (auto& worker : workers_) {
            if (worker.joinable()) worker.join();
        }
        return failure_;
    }

    // Stops the pool from outside at an entry that failed before reaching it.
    void failAt(size_t index) {
        std::lock_guard lock(mutex_);
        if (!firstFailed_ || index < *firstFailed_) firstFailed_ = index;
        room_.notify_all();
    }

  private:
    bool stopped() const { return firstFailed_.has_value(); }

    void work() {
        EntryDecoder decoder;
        for (;;) {
            FileJob job;
            {
                std::unique_lock lock(mutex_);
                work_.wait(lock, [&] { return !queue_.empty() || closing_; });
                if (queue_.empty()) return;
                job = std::move(queue_.front());
                queue_.pop_front();
                room_.notify_one();
            }
            std::string failure;
            if (!isCancelled(job.index)) {
                try {
                    failure = writeEntry(bundle_, job, decoder,
                                         [this, &job] { return isCancelled(job.index); });
                } catch (const std::exception& error) {
                    failure = error.what();
                }
            }
            std::lock_guard lock(mutex_);
            if (!failure.empty() && (!failure_ || job.index < failure_->first)) {
                failure_.emplace(job.index, "Failed to extract file " + job.name + ": " + failure);
                if (!firstFailed_ || job.index < *firstFailed_) firstFailed_ = job.index;
                room_.notify_all();
            }
            if (--busy_ == 0) room_.notify_all();
        }
    }

    bool isCancelled(size_t index) {
        std::lock_guard lock(mutex_);
        return abandoned_ || (firstFailed_ && index > *firstFailed_);
    }

    const uint8_t* bundle_;
    // Enough queued work that the workers rarely wait for the walk between small files.
    static constexpr size_t kQueuedPerWorker = 32;

    std::mutex mutex_;
    std::condition_variable work_;  // workers wait here for jobs
    std::condition_variable room_;  // the walk waits here for room, for an empty pool, or a stop
    std::deque<FileJob> queue_;
    size_t busy_ = 0;
    bool closing_ = false;
    bool abandoned_ = false;
    std::optional<size_t> firstFailed_;
    std::optional<std::pair<size_t, std::string>> failure_;
    std::vector<std::thread> workers_;
};

}  // namespace

unsigned defaultExtractThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 1u, 8u);
}

void extractBundle(const std::string& destination, const uint8_t* bundle, size_t size,
                   ExtractProgressCallback callback, unsigned threads) {
    if (callback) callback(0.0f, "Reading bundle file...");
    if (callback) callback(0.05f, "Parsing bundle...");
    const std::vector<EntryPlace> places = listEntries(bundle, size);
    if (callback) callback(0.1f, "Creating extraction directory...");
    makeFolder(destination);

    if (threads == 0) threads = defaultExtractThreads();
    std::optional<WriterPool> pool;
    if (threads > 1) pool.emplace(bundle, threads);
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
    // A failure met here still waits for the pool: an entry before it may have failed first.
    const auto failHere = [&](size_t index, const std::string& message) {
        if (pool) {
            pool->failAt(index);
            if (auto earlier = pool->close()) throw std::runtime_error(earlier->second);
        }
        throw std::runtime_error(message);
    };

    const size_t count = places.size();
    const bool joinsWithSlash = isPathSeparator('/') && !isPathSeparator('\\');
    std::string base = destination;
    if (!base.empty() && !isPathSeparator(base.back())) base += joinsWithSlash ? '/' : '\\';
    for (size_t index = 0; index < count; ++index) {
        std::string name;
        std::string type;
        EntryFields entry;
        try {
            entry = readEntry(bundle, size, places[index].offset);
            name = entryText(entry, "n");
            type = entryText(entry, "t");
        } catch (const std::exception& error) {
            failHere(index, error.what());
        }
        if (!name.empty() && name.front() == '/') name.erase(0, 1);
        const float fraction = static_cast<float>(index) / static_cast<float>(count) * 0.9f + 0.1f;
        if (type != "d" && type != "f") continue;

        // The bundle is signed, but a name must still never reach outside the destination.
        const std::string escape = entryNameEscapeReason(name);
        if (!escape.empty()) failHere(index, "Failed to extract file " + name + ": " + escape);
        std::string joined = name;
        if (joinsWithSlash) std::replace(joined.begin(), joined.end(), '\\', '/');
        const std::string target = base + joined;
        const std::string folded = foldedName(name);
        if (type == "d") {
            if (callback) callback(fraction, "Creating directory: " + name);
            ensureAlone(folded);
            try {
                makeFolder(target);
            } catch (const std::exception& error) {
                failHere(index, error.what());
            }
            continue;
        }
        if (callback) callback(fraction, "Extracting: " + name);
        const std::string prefix = "Failed to extract file " + name + ": ";
        if (!entry.hasData) {
            failHere(index, prefix + "Unsupported data format in bundle for file: " + name);
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
        FileJob job{index, name, target, std::move(entry.data)};
        if (!pool) {
            const std::string failure = writeEntry(bundle, job, decoder, [] { return false; });
            if (!failure.empty()) throw std::runtime_error(prefix + failure);
            continue;
        }
        pending.insert(folded);
        if (!pool->add(std::move(job))) break;  // a worker failed: its failure is reported below
    }
    if (pool) {
        if (auto failure = pool->close()) throw std::runtime_error(failure->second);
    }
}

uint64_t bundleUnpackedBytes(const uint8_t* bundle, size_t size) {
    uint64_t total = 0;
    for (const EntryPlace& place : listEntries(bundle, size)) {
        const EntryFields entry = readEntry(bundle, size, place.offset);
        if (!entry.hasData) continue;
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
        const uint64_t counted =
            held < sizeof(header) || unpacked == UINT64_MAX ? packed : unpacked;
        total = counted > UINT64_MAX - total ? UINT64_MAX : total + counted;
    }
    return total;
}

void extractBundle(const std::string& destination, const std::string& bundlePath,
                   ExtractProgressCallback callback, unsigned threads) {
    const std::optional<LockedFile> file = LockedFile::open(bundlePath);
    if (!file) {
        throw std::runtime_error("Failed to read file: " + bundlePath + " (Error code: 200)");
    }
    extractBundle(destination, file->data(), file->size(), std::move(callback), threads);
}

}  // namespace tessaryn

#include "tools/pack.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "package/path_text.h"
#include "package/signature_check.h"
#include "tools/lzma_encode.h"
#include "tools/signed_output.h"
#include "system/system_reason.h"

namespace tessaryn {

namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string name;  // relative, "/" separators
    fs::path path;
    bool directory = false;
    uint64_t size = 0;
};

// Depth first, names sorted, each directory listed before what it holds.
void collect(const fs::path& folder, const std::string& prefix, std::vector<Entry>& entries) {
    std::vector<fs::directory_entry> children;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        children.push_back(*it);
    }
    if (error) throw std::runtime_error("cannot list " + pathText(folder) + ": " + error.message());
    std::sort(children.begin(), children.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    for (const auto& child : children) {
        const std::string name = prefix + pathText(child.path().filename());
        if (child.is_symlink()) {
            throw std::runtime_error("symbolic links cannot be packed: " + pathText(child.path()));
        }
        if (child.is_directory()) {
            entries.push_back({name, child.path(), true, 0});
            collect(child.path(), name + "/", entries);
        } else if (child.is_regular_file()) {
            entries.push_back({name, child.path(), false, child.file_size()});
        } else {
            throw std::runtime_error("not a regular file: " + pathText(child.path()));
        }
    }
}

class CborWriter {
  public:
    explicit CborWriter(SignedOutput& out) : out_(out) {}
    void head(uint8_t major, uint64_t value) {
        uint8_t bytes[9];
        size_t size = 1;
        if (value < 24) {
            bytes[0] = static_cast<uint8_t>(major << 5 | value);
        } else {
            int width = value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : value <= 0xFFFFFFFF ? 4 : 8;
            bytes[0] = static_cast<uint8_t>(major << 5 | (width == 1   ? 24
                                                          : width == 2 ? 25
                                                          : width == 4 ? 26
                                                                       : 27));
            for (int i = 0; i < width; ++i) {
                bytes[1 + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
            }
            size = 1 + static_cast<size_t>(width);
        }
        out_.write(bytes, size);
    }
    void text(const std::string& value) {
        head(3, value.size());
        out_.write(value.data(), value.size());
    }
    void bytes(const std::vector<uint8_t>& value) {
        head(2, value.size());
        out_.write(value.data(), value.size());
    }

  private:
    SignedOutput& out_;
};

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) throw std::runtime_error("cannot read " + pathText(path) + ": " + errnoReason());
    const std::streamoff size = file.tellg();
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    file.seekg(0);
    if (size > 0 && !file.read(reinterpret_cast<char*>(bytes.data()), size)) {
        throw std::runtime_error("cannot read " + pathText(path) + ": " + errnoReason());
    }
    return bytes;
}

struct Packed {
    bool ready = false;
    std::vector<uint8_t> data;
    uint64_t inputBytes = 0;
    std::exception_ptr error;
};

// Compresses the files on worker threads, each on its own, while the caller takes the results
// in entry order. Workers run at most a window of entries ahead of the caller, which bounds
// the memory held by finished but unwritten entries.
class ParallelCompressor {
  public:
    ParallelCompressor(const std::vector<Entry>& entries, int level, unsigned threads)
        : entries_(entries), level_(level), results_(entries.size()),
          window_(std::max<size_t>(2, size_t{threads} * 2)) {
        for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
    }
    ParallelCompressor(const ParallelCompressor&) = delete;
    ParallelCompressor& operator=(const ParallelCompressor&) = delete;
    ~ParallelCompressor() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& worker : workers_) worker.join();
    }

    // Waits for entry index (taken in order 0, 1, 2...); rethrows its failure.
    Packed take(size_t index) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return results_[index].ready; });
        Packed result = std::move(results_[index]);
        taken_ = index + 1;
        lock.unlock();
        changed_.notify_all();
        if (result.error) std::rethrow_exception(result.error);
        return result;
    }

  private:
    void work() {
        for (;;) {
            size_t index = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return stop_ || next_ >= entries_.size() || next_ < taken_ + window_;
                });
                if (stop_ || next_ >= entries_.size()) return;
                index = next_++;
            }
            Packed result;
            const Entry& entry = entries_[index];
            if (!entry.directory) {
                try {
                    const std::vector<uint8_t> content = readFile(entry.path);
                    result.inputBytes = content.size();
                    result.data = lzmaAloneEncode(content.data(), content.size(), level_);
                } catch (...) {
                    result.error = std::current_exception();
                }
            }
            result.ready = true;
            {
                std::lock_guard lock(mutex_);
                results_[index] = std::move(result);
            }
            changed_.notify_all();
        }
    }

    const std::vector<Entry>& entries_;
    const int level_;
    std::vector<Packed> results_;
    const size_t window_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;
    size_t taken_ = 0;
    bool stop_ = false;
    std::vector<std::thread> workers_;  // last: started once everything above is ready
};

unsigned threadCount(unsigned wanted, size_t entries) {
    unsigned count = wanted != 0 ? wanted : std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::min<size_t>(count, std::max<size_t>(1, entries)));
}

}  // namespace

PackSummary packFolder(const PackOptions& options, const SecretKey& key) {
    std::error_code error;
    if (!fs::is_directory(options.folder, error)) {
        throw std::runtime_error("not a folder: " + pathText(options.folder));
    }
    std::vector<Entry> entries;
    collect(options.folder, "", entries);
    PackSummary summary;
    uint64_t total = 0;
    for (const Entry& entry : entries) total += entry.size;

    SignedOutput out(options.output, kPackageContext);
    CborWriter cbor(out);
    cbor.head(5, 2);
    cbor.text("version");
    cbor.text(options.version);
    cbor.text("files");
    cbor.head(4, entries.size());
    ParallelCompressor compressor(entries, options.level,
                                  threadCount(options.threads, entries.size()));
    for (size_t index = 0; index < entries.size(); ++index) {
        const Entry& entry = entries[index];
        Packed packed = compressor.take(index);
        cbor.head(5, entry.directory ? 2 : 3);
        cbor.text("n");
        cbor.text(entry.name);
        cbor.text("t");
        cbor.text(entry.directory ? "d" : "f");
        if (entry.directory) {
            ++summary.directories;
        } else {
            cbor.text("d");
            cbor.bytes(packed.data);
            ++summary.files;
            summary.inputBytes += packed.inputBytes;
        }
        if (options.progress) options.progress(summary.inputBytes, total, entry.name);
    }
    out.finish(key);
    summary.outputBytes = out.written() + kSignatureBytes;
    return summary;
}

}  // namespace tessaryn

#include "package/writer_pool.h"

#include <exception>

#include "package/output_file.h"

namespace tessaryn {

UnpackResult writeEntry(const uint8_t* bundle, const FileJob& job, EntryDecoder& decoder,
                       bool flush, const std::function<bool()>& cancelled) {
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
    // An arriving entry's bytes counted from its start; a cancelled job stops waiting.
    ArrivingInput arriving;
    bool cancelledWhileWaiting = false;
    if (job.arriving) {
        const size_t start = job.data[0].first;
        arriving = [&, start](size_t wanted) -> size_t {
            if (cancelled()) {
                cancelledWhileWaiting = true;
                return 0;
            }
            const size_t readable = job.arriving(start + wanted);
            return readable > start ? readable - start : 0;
        };
    }
    OutputFile file;
    bool opened = false;
    bool writeFailed = false;
    const auto sink = [&](const uint8_t* bytes, size_t size) {
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
    };
    const DecodeStatus status = decoder.decode(input, inputSize, sink, arriving);
    const auto failed = [&job](const std::string& text) {
        return UnpackResult::failed(job.index, "Failed to extract file " + job.name + ": " + text);
    };
    if (writeFailed) return failed(writeFailedText(job.target));
    // Cancelled: the file goes with `file`.
    if (status == DecodeStatus::OutputRefused) return UnpackResult::cancelled();
    if (status == DecodeStatus::InputStopped) {
        if (cancelledWhileWaiting) return UnpackResult::cancelled();
        // Not the entry's failure: the bytes stopped coming (a stop, a restart, a time limit).
        return UnpackResult::readWhole("the package's bytes stopped coming");
    }
    if (status != DecodeStatus::Ok) {
        return failed("Decompression failed for file: " + job.name + " (Status code: " +
                      std::to_string(static_cast<int>(status)) + ")");
    }
    if (!opened && !file.create(job.target)) return failed(writeFailedText(job.target));
    if (!file.finish(flush)) return failed(writeFailedText(job.target));
    return UnpackResult::done();
}

WriterPool::WriterPool(const uint8_t* bundle, unsigned threads, bool flush, size_t windowBudget)
    : bundle_(bundle), flush_(flush), windowBudget_(windowBudget),
      queueCapacity_(kQueuedPerWorker * threads) {
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
}

WriterPool::~WriterPool() {
    {
        std::lock_guard<WaitLock> lock(mutex_);
        abandoned_ = true;
        windowRoom_.notifyAll();
    }
    close();
}

bool WriterPool::add(FileJob job) {
    std::unique_lock<WaitLock> lock(mutex_);
    // A full queue is refilled once it is half empty: the walk then wakes once for every half
    // queue of files rather than once for every file.
    if (queue_.size() >= queueCapacity_)
        room_.wait(lock, [&] { return queue_.size() <= queueCapacity_ / 2 || stopped(); });
    if (stopped()) return false;
    ++busy_;
    queue_.push_back(std::move(job));
    work_.notifyOne();
    return true;
}

void WriterPool::drain() {
    std::unique_lock<WaitLock> lock(mutex_);
    room_.wait(lock, [&] { return busy_ == 0; });
}

UnpackResult WriterPool::close() {
    {
        std::lock_guard<WaitLock> lock(mutex_);
        closing_ = true;
        work_.notifyAll();
    }
    for (auto& worker : workers_) {
        if (worker.joinable()) worker.join();
    }
    if (gaveUp_) return *gaveUp_;
    return failure_ ? *failure_ : UnpackResult::done();
}

void WriterPool::failAt(size_t index) {
    std::lock_guard<WaitLock> lock(mutex_);
    stopAfterLocked(index);
}

void WriterPool::stopAfterLocked(size_t index) {
    if (!firstFailed_ || index < *firstFailed_) firstFailed_ = index;
    room_.notifyAll();
    windowRoom_.notifyAll();
}

void WriterPool::work() {
    EntryDecoder decoder;
    for (;;) {
        FileJob job;
        {
            std::unique_lock<WaitLock> lock(mutex_);
            work_.wait(lock, [&] { return !queue_.empty() || closing_; });
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
            if (queue_.size() == queueCapacity_ / 2) room_.notifyOne();
        }
        UnpackResult result = runJob(job, decoder);
        std::lock_guard<WaitLock> lock(mutex_);
        if (result.kind() == UnpackResult::Kind::ReadWhole) {
            // Stops what comes after, as a failure would; close() then tells of it.
            gaveUp_ = result;
            stopAfterLocked(job.index);
        }
        if (result.isFailed() && (!failure_ || job.index < failure_->entry())) {
            failure_ = std::move(result);
            stopAfterLocked(job.index);
        }
        if (--busy_ == 0) room_.notifyAll();
    }
}

UnpackResult WriterPool::runJob(const FileJob& job, EntryDecoder& decoder) {
    const size_t window = EntryDecoder::windowBytes(ItemHeader::of(bundle_, job.data));
    if (!reserveWindow(window, job.index)) return UnpackResult::cancelled();
    UnpackResult result = UnpackResult::cancelled();
    try {
        result = writeEntry(bundle_, job, decoder, flush_,
                            [this, &job] { return isCancelled(job.index); });
    } catch (const std::exception& error) {
        // Unexpected (no memory for a name): still the entry's failure, not the worker's end.
        result = UnpackResult::failed(job.index,
                                      "Failed to extract file " + job.name + ": " + error.what());
    }
    decoder.shrink(kKeptWindow);
    releaseWindow(window);
    return result;
}

bool WriterPool::isCancelled(size_t index) {
    std::lock_guard<WaitLock> lock(mutex_);
    return cancelledLocked(index);
}

bool WriterPool::cancelledLocked(size_t index) const {
    return abandoned_ || (firstFailed_ && index > *firstFailed_);
}

bool WriterPool::reserveWindow(size_t bytes, size_t index) {
    std::unique_lock<WaitLock> lock(mutex_);
    windowRoom_.wait(lock, [&] {
        return cancelledLocked(index) || windowsHeld_ == 0 ||
               (windowsHeld_ <= windowBudget_ && bytes <= windowBudget_ - windowsHeld_);
    });
    if (cancelledLocked(index)) return false;
    windowsHeld_ += bytes;
    return true;
}

void WriterPool::releaseWindow(size_t bytes) {
    std::lock_guard<WaitLock> lock(mutex_);
    windowsHeld_ -= bytes;
    windowRoom_.notifyAll();
}

}  // namespace tessaryn

#pragma once
// The workers that decode bundle entries straight into their files.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "package/lzma_entry.h"
#include "package/unpack_result.h"
#include "system/wait_lock.h"

namespace tessaryn {

// One file to write: its place in the bundle's order, its name and where its bytes lie.
struct FileJob {
    size_t index = 0;
    std::string name;
    std::string target;
    std::vector<std::pair<size_t, size_t>> data;  // spans of the bundle, in order
    // For an entry (one span) whose bytes are still arriving: waits until at least `wanted`
    // bytes of the bundle can be read and returns how many can (fewer: it gave up). Its first
    // 13 bytes are there before the job is handed over. Called from the workers.
    std::function<size_t(size_t wanted)> arriving;
};

// Decodes one entry into its file, written through to the disk before it is closed when flush
// is set. Failed with the whole message ("Failed to extract file ..."), Cancelled, or ReadWhole
// when the entry's bytes stopped arriving; any of them leaves no file.
UnpackResult writeEntry(const uint8_t* bundle, const FileJob& job, EntryDecoder& decoder,
                       bool flush, const std::function<bool()>& cancelled);

// Workers that write the files handed to them. The first failure in the bundle's order wins:
// entries after it are cancelled, entries before it still finish, so that the failure reported
// is the one a sequential extraction would have met first.
//
// Memory: the decoder windows that running jobs use count against windowBudget bytes; a job
// whose window does not fit waits until enough is given back (or runs alone when its window is
// larger than the whole budget). Between jobs a worker keeps a window of at most kKeptWindow
// bytes, outside the budget; a larger one is freed when its job ends.
class WriterPool {
  public:
    static constexpr size_t kKeptWindow = size_t{1} << 20;

    WriterPool(const uint8_t* bundle, unsigned threads, bool flush, size_t windowBudget);
    // Leaving early (an exception on the calling thread) cancels what is still queued or
    // running; the workers are joined either way.
    ~WriterPool();
    WriterPool(const WriterPool&) = delete;
    WriterPool& operator=(const WriterPool&) = delete;

    // Hands a job over; waits while the queue is full. False once a failure has stopped the
    // pool.
    bool add(FileJob job);

    // Waits until every job handed over has ended.
    void drain();

    // Ends the workers (after their jobs): Done, the first failure in the bundle's order, or
    // ReadWhole when an entry's bytes stopped arriving. That stops the pool like a failure but
    // is none: the bundle is then read whole, whatever else failed.
    UnpackResult close();

    // Stops the pool from outside at an entry that failed before reaching it.
    void failAt(size_t index);

  private:
    bool stopped() const { return firstFailed_.has_value(); }
    void work();
    UnpackResult runJob(const FileJob& job, EntryDecoder& decoder);
    bool isCancelled(size_t index);
    bool cancelledLocked(size_t index) const;
    // Entries after `index` are cancelled and whoever waits for room is woken; mutex_ held.
    void stopAfterLocked(size_t index);
    // Counts the job's window against the budget, waiting for room; false when the job was
    // cancelled meanwhile.
    bool reserveWindow(size_t bytes, size_t index);
    void releaseWindow(size_t bytes);

    const uint8_t* bundle_;
    const bool flush_;
    const size_t windowBudget_;
    // Enough queued work that the workers rarely wait for the walk between small files.
    static constexpr size_t kQueuedPerWorker = 32;
    const size_t queueCapacity_;

    WaitLock mutex_;
    WaitCondition work_;  // workers wait here for jobs
    WaitCondition room_;  // the walk waits here for room, for an empty pool, or a stop
    WaitCondition windowRoom_;  // jobs wait here for room in the window budget
    size_t windowsHeld_ = 0;
    std::deque<FileJob> queue_;
    size_t busy_ = 0;
    bool closing_ = false;
    bool abandoned_ = false;
    std::optional<size_t> firstFailed_;
    std::optional<UnpackResult> failure_;
    std::optional<UnpackResult> gaveUp_;
    std::vector<std::thread> workers_;
};

}  // namespace tessaryn

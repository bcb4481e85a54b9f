// The writer pool's own rules, seen from its jobs: a failure stops what comes after it, the
// decoder windows stay within their budget, and a job waiting for its bytes sees a stop there.
#include "package/writer_pool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "package/path_text.h"
#include "tests/package/package_test_support.h"
#include "xz_sample.h"

namespace tessaryn {
namespace {

using namespace test;

// A job for the item at `at` of the bundle, written to `folder`/f<index>.
FileJob jobAt(const fs::path& folder, size_t index, size_t at, size_t size) {
    const std::string name = "f" + std::to_string(index);
    return FileJob{index, name, pathText(folder / name), {{at, size}}, {}};
}

// With one worker the jobs run in order: those after a failing one are all cancelled, whether
// they were queued before it failed or handed over after.
TEST(WriterPoolTest, AFailureStopsEveryLaterEntry) {
    ScratchFolder scratch;
    std::vector<uint8_t> bundle = kXzSampleLzma;
    const std::vector<uint8_t> cut(kXzSampleLzma.begin(), kXzSampleLzma.end() - 8);  // status 1
    bundle.insert(bundle.end(), cut.begin(), cut.end());
    constexpr size_t kFailing = 3;
    size_t handed = 0;
    UnpackResult result = UnpackResult::done();
    {
        WriterPool pool(bundle.data(), 1, false, size_t{64} << 20);
        for (size_t i = 0; i < 200; ++i) {
            const bool failing = i == kFailing;
            if (!pool.add(jobAt(scratch.path(), i, failing ? kXzSampleLzma.size() : 0,
                                failing ? cut.size() : kXzSampleLzma.size())))
                break;
            ++handed;
        }
        result = pool.close();
    }
    ASSERT_TRUE(result.isFailed());
    EXPECT_EQ(result.entry(), kFailing);
    EXPECT_EQ(result.text(), "Failed to extract file f3: Decompression failed for file: f3 "
                             "(Status code: 1)");
    for (size_t i = 0; i < handed; ++i)
        EXPECT_EQ(fs::exists(scratch.path() / ("f" + std::to_string(i))), i < kFailing) << i;
}

// Jobs that report, from their first wait for bytes, how many of them are decoding at once;
// each lingers there a while, so that all the jobs the budget lets run meet there.
class Overlap {
  public:
    std::function<size_t(size_t)> arriving(size_t all) {
        return [this, all](size_t) {
            std::unique_lock lock(mutex_);
            most_ = std::max(most_, ++inside_);
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
            lingering_.wait_until(lock, until, [] { return false; });
            --inside_;
            return all;
        };
    }
    size_t most() {
        std::lock_guard lock(mutex_);
        return most_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable lingering_;
    size_t inside_ = 0;
    size_t most_ = 0;
};

// The budget counts the windows of running jobs exactly: a job starts when its window fits what
// is left, not before, and not only when the pool is idle.
TEST(WriterPoolTest, WindowsOfRunningJobsStayWithinTheBudget) {
    const std::vector<uint8_t>& item = kXzSampleLzma;
    const size_t window = EntryDecoder::windowBytes(ItemHeader::of(item.data(), item.size()));
    ASSERT_GT(window, WriterPool::kKeptWindow);
    struct Row {
        size_t budget;
        size_t most;  // jobs decoding at once
    };
    for (const Row& row : {Row{window, 1}, Row{2 * window - 1, 1}, Row{2 * window, 2},
                           Row{3 * window, 3}}) {
        SCOPED_TRACE(row.budget / window);
        ScratchFolder scratch;
        Overlap overlap;
        {
            WriterPool pool(item.data(), 4, false, row.budget);
            for (size_t i = 0; i < 6; ++i) {
                FileJob job = jobAt(scratch.path(), i, 0, item.size());
                job.arriving = overlap.arriving(item.size());
                ASSERT_TRUE(pool.add(std::move(job)));
            }
            EXPECT_TRUE(pool.close().isDone());
        }
        EXPECT_EQ(overlap.most(), row.most);
        for (size_t i = 0; i < 6; ++i)
            EXPECT_EQ(readBytes(scratch.path() / ("f" + std::to_string(i))), kXzSamplePlain);
    }
}

// A job waiting for its bytes when an earlier entry fails ends there, cancelled: bytes that
// then stop coming are no reason to read the bundle whole, and nothing is written.
TEST(WriterPoolTest, AStopIsSeenAtTheWaitForBytes) {
    ScratchFolder scratch;
    const std::vector<uint8_t>& item = kXzSampleLzma;
    std::mutex mutex;
    std::condition_variable changed;
    bool waiting = false;
    bool failed = false;
    int waits = 0;
    UnpackResult result = UnpackResult::done();
    {
        WriterPool pool(item.data(), 2, false, size_t{64} << 20);
        FileJob job = jobAt(scratch.path(), 1, 0, item.size());
        // Only the header ever arrives; the first wait holds until the stop.
        job.arriving = [&](size_t) -> size_t {
            std::unique_lock lock(mutex);
            if (++waits == 1) {
                waiting = true;
                changed.notify_all();
                changed.wait(lock, [&] { return failed; });
            }
            return kItemHeaderBytes;
        };
        ASSERT_TRUE(pool.add(std::move(job)));
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return waiting; }));
        }
        pool.failAt(0);
        {
            std::lock_guard lock(mutex);
            failed = true;
            changed.notify_all();
        }
        result = pool.close();
    }
    EXPECT_EQ(result.kind(), UnpackResult::Kind::Done);
    EXPECT_EQ(waits, 1);
    EXPECT_FALSE(fs::exists(scratch.path() / "f1"));
}

}  // namespace
}  // namespace tessaryn

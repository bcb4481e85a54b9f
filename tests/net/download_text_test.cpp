// The rules of a download that is tried again.
#include <gtest/gtest.h>

#include "net/download_retry.h"

namespace tessaryn {
namespace {

TEST(RetryRules, WaitsDoubleAndAServerMayAskForUpToAMinute) {
    const RetrySchedule shipped;
    EXPECT_EQ(shipped.triesPerSource, 5);
    EXPECT_EQ(retryWaitMs(shipped, 2, -1), 1000u);
    EXPECT_EQ(retryWaitMs(shipped, 3, -1), 2000u);
    EXPECT_EQ(retryWaitMs(shipped, 5, -1), 8000u);
    EXPECT_EQ(retryWaitMs(shipped, 9, -1), 8000u);  // the last wait repeats
    EXPECT_EQ(retryWaitMs(shipped, 2, 0), 0u);
    EXPECT_EQ(retryWaitMs(shipped, 2, 30), 30000u);
    EXPECT_EQ(retryWaitMs(shipped, 2, 3600), 60000u);
    EXPECT_EQ(retryWaitMs(RetrySchedule{3, {}, 500}, 2, -1), 0u);
    struct {
        const char* text;
        long seconds;
    } retryAfter[] = {{"5", 5}, {" 0 ", 0}, {"", -1}, {"-3", -1}, {"1.5", -1},
                      {"Wed, 21 Oct 2026 07:28:00 GMT", -1}, {"99999999999999999999", -1},
                      {"9999999", 86400}};
    for (const auto& row : retryAfter)
        EXPECT_EQ(parseRetryAfter(row.text), row.seconds) << row.text;
}

TEST(RetryRules, OnlyAnswersThatMayChangeAreTriedAgain) {
    for (long status : {200L, 206L, 416L, 408L, 429L, 500L, 502L, 503L, 599L})
        EXPECT_FALSE(isFinalStatus(status)) << status;
    for (long status : {0L, 204L, 301L, 304L, 400L, 401L, 403L, 404L, 407L, 410L, 600L})
        EXPECT_TRUE(isFinalStatus(status)) << status;
}

// A 206 continues the kept bytes only when it is exactly the rest of the same-sized file.
TEST(RetryRules, APartialAnswerContinuesOnlyAtTheKeptLength) {
    struct {
        const char* range;
        uint64_t offset, total;
        bool continues;
    } rows[] = {
        {"bytes 1000-9999/10000", 1000, 10000, true},
        {"bytes 1000-9999/10000", 1000, 0, true},        // size never announced
        {"bytes 1001-9999/10000", 1000, 10000, false},   // one byte off
        {"bytes 1000-9998/10000", 1000, 10000, false},   // not to the end
        {"bytes 1000-10999/11000", 1000, 10000, false},  // another size: another file
        {"bytes 0-9999/10000", 1000, 10000, false},
        {"bytes */10000", 1000, 10000, false},
        {"bytes 1000-999/10000", 1000, 10000, false},
        {"bytes 1000-9999/*", 1000, 10000, false},
        {"items 1000-9999/10000", 1000, 10000, false},
        {"bytes -1000-9999/10000", 1000, 10000, false},
        {"bytes 1000-99999999999999999999/10000", 1000, 10000, false},
        {"", 1000, 10000, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(continuesAt(row.range, row.offset, row.total), row.continues) << row.range;
    EXPECT_EQ(resumeValidator("\"v1\"", "Tue, 01 Dec 2026 10:00:00 GMT"), "\"v1\"");
    EXPECT_EQ(resumeValidator("W/\"v1\"", "Tue, 01 Dec 2026 10:00:00 GMT"),
              "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(resumeValidator("W/\"v1\"", ""), "");
}

// What a source announces is held to what was signed before a byte is written; the end
// returned is where an unannounced or shorter body is cut.
TEST(DownloadBounds, AnAnnouncedLengthTheFileCannotHaveIsRefused) {
    constexpr uint64_t kFour = 4ull << 30;
    struct {
        uint64_t offset, length, largest;
        bool exact, fits;
        uint64_t end;
    } rows[] = {
        {0, 0, 100, false, true, 100},      // not announced: cut at the limit
        {0, 100, 100, false, true, 100},    // exactly the limit
        {0, 101, 100, false, false, 0},     // one byte over
        {0, 50, 100, false, true, 50},      // shorter: cut at its own end
        {0, 100, 100, true, true, 100},     // the signed size
        {0, 99, 100, true, false, 0},       // one byte short of it
        {0, 101, 100, true, false, 0},
        {0, 0, 100, true, true, 100},
        {40, 60, 100, true, true, 100},     // the rest of a resumed file
        {40, 61, 100, false, false, 0},
        {1000, UINT64_MAX - 500, kFour, false, false, 0},  // wraps around to a small end
        {0, UINT64_MAX, kFour, false, false, 0},
    };
    for (const auto& row : rows) {
        uint64_t end = 0;
        EXPECT_EQ(bodyEnd(row.offset, row.length, row.largest, row.exact, end), row.fits)
            << row.offset << "+" << row.length;
        if (row.fits) {
            EXPECT_EQ(end, row.end) << row.offset << "+" << row.length;
        }
    }
}

uint64_t fakeNowMs = 0;
uint64_t fakeClock() {
    return fakeNowMs;
}

TEST(DownloadBounds, ATryHasItsTimeAndTheRunItsOwn) {
    const RetrySchedule shipped;
    const RetrySchedule slow{1, {}, 0, 20000, 1};
    struct {
        const RetrySchedule& schedule;
        uint64_t bytes, ms;
    } times[] = {
        {shipped, 0, 20000},
        {shipped, 32768, 21000},
        {shipped, 32769, 21001},  // one byte over a second: a millisecond more
        {shipped, 4ull << 30, 20000 + 131072000},
        {shipped, UINT64_MAX, 562949953421332000},  // bytes x 1000 would wrap
        {slow, 1000, 1020000},
        {slow, UINT64_MAX / 1000 - 1, UINT64_MAX},  // the allowance on top saturates
        {slow, UINT64_MAX, UINT64_MAX},
    };
    for (const auto& row : times)
        EXPECT_EQ(tryTimeMs(row.schedule, row.bytes), row.ms) << row.bytes;
    EXPECT_EQ(tryTimeMs(RetrySchedule{1, {}, 0, 5, 0}, 1), UINT64_MAX);  // no rate: no bound

    // A try of 1000 bytes may take 2 s; the run 2 x 2 s + 0.5 s from 10 s on.
    RetrySchedule schedule{1, {}, 0, 1000, 1000, 500, fakeClock};
    struct {
        uint64_t startAt, bytes, checkAt;
        DownloadFailure overdue;
    } rows[] = {
        {10000, 1000, 12000, DownloadFailure::None},  // exactly at the try's end
        {10000, 1000, 12001, DownloadFailure::Cut},   // one ms past it
        {10000, 0, 11000, DownloadFailure::None},     // nothing left: the allowance
        {10000, 0, 11001, DownloadFailure::Cut},
        {10000, UINT64_MAX, 14500, DownloadFailure::None},  // saturated, never wrapped
        {14000, 1000, 14500, DownloadFailure::None},        // exactly at the run's end
        {14000, 1000, 14501, DownloadFailure::TimedOut},    // the run's end comes first
        {10000, 1000, 20000, DownloadFailure::TimedOut},    // past both: the run's cause
    };
    for (const auto& row : rows) {
        fakeNowMs = 10000;
        DownloadDeadlines deadlines(schedule, 1000);
        fakeNowMs = row.startAt;
        deadlines.startTry(row.bytes);
        fakeNowMs = row.checkAt;
        EXPECT_EQ(deadlines.overdue(), row.overdue) << row.startAt << " " << row.checkAt;
    }
    fakeNowMs = 10000;
    // Twice a try's time for this file would wrap; the run's end saturates, no try has begun.
    const DownloadDeadlines huge(schedule, UINT64_MAX / 1000 * 600);
    fakeNowMs = UINT64_MAX - 1;
    EXPECT_EQ(huge.overdue(), DownloadFailure::None);
}

}  // namespace
}  // namespace tessaryn

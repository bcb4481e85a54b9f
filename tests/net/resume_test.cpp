// Transfers that stop early, against the test host's fault files: resumed with a range when the
// server can continue the same file, started over (and the arrival consumer told) when it
// cannot; retried after waits, then the mirrors.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "net/file_downloader.h"
#include "net/json_post_win.h"
#include "tests/support/test_env_win.h"

namespace tessaryn {
namespace {

using namespace testing;

constexpr size_t kSize = 8000000;
const RetrySchedule kShortWaits{5, {50, 100, 200, 400}, 60000};

// Serves `path` as the pattern file of kSize bytes with these faults, one per request.
void script(const std::string& path, const nlohmann::json& faults) {
    postJson(serverUrl() + "/__faults",
             nlohmann::json{{"path", path}, {"size", kSize}, {"faults", faults}}.dump());
}

nlohmann::json figures(const std::string& path) {
    FileDownloader downloader;
    const std::string file = scratchDir() + "figures.json";
    EXPECT_TRUE(downloader.downloadFile(serverUrl() + "/__faults?path=" + path, file, nullptr));
    return nlohmann::json::parse(readFile(file));
}

// What the arrival consumer saw: the bytes since its last restart notice. With `expected`, it
// refuses bytes that differ from it, as a block check does.
struct Seen {
    std::string bytes;
    int restarts = 0;
    UniqueFile kept;
    const std::string* expected = nullptr;
    FileDownloader::Arrival arrival{
        [this](const uint8_t* data, size_t size) {
            if (expected && expected->compare(bytes.size(), size,
                                              reinterpret_cast<const char*>(data), size) != 0)
                return false;
            bytes.append(data, data + size);
            return true;
        },
        [this] {
            bytes.clear();
            ++restarts;
        },
        &kept};
};

std::string changedPattern() {
    std::string bytes = patternBytes(kSize);
    for (char& c : bytes) c = static_cast<char>((static_cast<uint8_t>(c) + 1) % 256);
    return bytes;
}

struct FetchRun {
    FileDownloader::FetchResult result;
    Seen seen;
    std::vector<FileDownloader::RetryNotice> notices;
    std::vector<uint64_t> progress;
    DWORD ms = 0;
};

void fetchInto(FetchRun& run, const std::vector<std::string>& sources, const std::string& file,
               uint32_t stallLimitMs = 60000, const RetrySchedule& schedule = kShortWaits) {
    FileDownloader downloader;
    downloader.stallLimitMs = stallLimitMs;
    // The file's own size, as the settings would sign it: the download's time follows from it.
    downloader.maxDownloadBytes = kSize;
    downloader.exactSize = true;
    const DWORD start = GetTickCount();
    run.result = downloader.fetch(
        sources, file,
        [&run](const FileDownloader::ProgressInfo& info) {
            run.progress.push_back(info.downloadedBytes);
            return true;
        },
        &run.seen.arrival, schedule,
        [&run](const FileDownloader::RetryNotice& notice) { run.notices.push_back(notice); });
    run.ms = GetTickCount() - start;
}

// The `name` header of each request the host recorded for `path`, in order ("" for none).
std::vector<std::string> headersOf(const std::string& path, const char* name) {
    FileDownloader reader;
    const std::string file = scratchDir() + "requests.json";
    EXPECT_TRUE(reader.downloadFile(serverUrl() + "/__requests", file, nullptr));
    std::vector<std::string> found;
    for (const auto& request : nlohmann::json::parse(readFile(file))) {
        if (request["path"] != path) continue;
        std::string value;
        for (const auto& header : request["headers"])
            if (header[0] == name) value = header[1];
        found.push_back(value);
    }
    return found;
}

class Resume : public ServerTest {};

// Cut anywhere, the transfer continues where it stopped: the file and what the consumer saw
// are the file, and hardly more than the file crossed the wire.
TEST_F(Resume, CutTransfersContinueWhereTheyStopped) {
    int index = 0;
    for (const nlohmann::json& faults :
         {nlohmann::json{{{"cut", kSize / 10}}}, nlohmann::json{{{"cut", kSize / 2}}},
          nlohmann::json{{{"cut", kSize * 99 / 100}}},
          nlohmann::json{{{"cut", kSize / 10}}, {{"cut", kSize / 2}}, {{"cut", kSize * 9 / 10}}},
          nlohmann::json{{{"cut", kSize / 3}, {"stall", 4}}},
          nlohmann::json{{{"cut", kSize / 2}, {"reset", true}}}}) {
        const std::string path = "/resume" + std::to_string(index++);
        script(path, faults);
        FetchRun run;
        const std::string file = scratchDir() + "resumed.bin";
        fetchInto(run, {serverUrl() + path}, file, 1500);
        ASSERT_TRUE(run.result.complete) << faults;
        EXPECT_EQ(run.result.restarts, 0) << faults;
        EXPECT_EQ(run.seen.restarts, 0) << faults;
        EXPECT_EQ(run.result.tries, static_cast<int>(faults.size()) + 1) << faults;
        // Each resumed request holds the server to the first answer's file. A reset may come
        // before the client has read a byte (what was on its way is lost with the connection):
        // then the next request asks for the whole file again, as a first one.
        const std::vector<std::string> ranges = headersOf(path, "Range");
        const std::vector<std::string> ifRanges = headersOf(path, "If-Range");
        ASSERT_EQ(ranges.size(), faults.size() + 1) << faults;
        EXPECT_EQ(ranges[0], "") << faults;
        for (size_t i = 0; i < ranges.size(); ++i)
            EXPECT_EQ(ifRanges[i], ranges[i].empty() ? "" : "\"v1-8000000\"") << faults << i;
        const bool resumedLast = !ranges.back().empty();
        EXPECT_TRUE(resumedLast || faults.back().contains("reset")) << faults;
        EXPECT_EQ(run.result.status, resumedLast ? 206 : 200) << faults;
        EXPECT_TRUE(run.seen.bytes == patternBytes(kSize)) << faults;
        run.seen.kept.reset();
        EXPECT_TRUE(readFile(file) == patternBytes(kSize)) << faults;
        // A reset also loses what the client had not read yet; the host never sends more.
        if (!faults[0].contains("reset")) {
            EXPECT_LE(figures(path)["sent"].get<uint64_t>(), kSize * 105 / 100)
                << faults << figures(path);
        }
        // The count never runs backwards across the tries.
        for (size_t i = 1; i < run.progress.size(); ++i)
            EXPECT_GE(run.progress[i], run.progress[i - 1]) << faults;
        for (const auto& notice : run.notices) EXPECT_EQ(notice.cause, DownloadFailure::Cut);
    }
}

// A server that ignores the range, answers for another range, refuses it or now holds another
// file: the file starts over, the consumer is told, and never are two files spliced.
TEST_F(Resume, AnswersThatCannotContinueStartOver) {
    struct Case {
        const char* name;
        nlohmann::json faults;
        bool changed;
    } cases[] = {
        {"ignored range", {{{"cut", kSize / 2}}, {{"ignore_range", true}}}, false},
        {"wrong range", {{{"cut", kSize / 2}}, {{"wrong_range", true}}}, false},
        {"416", {{{"cut", kSize / 2}}, {{"status", 416}}}, false},
        {"file changed", {{{"cut", kSize / 2}}, {{"change", true}}}, true},
    };
    for (const Case& c : cases) {
        const std::string path = std::string("/restart-") + std::to_string(&c - cases);
        script(path, c.faults);
        FetchRun run;
        const std::string file = scratchDir() + "restarted.bin";
        fetchInto(run, {serverUrl() + path}, file);
        ASSERT_TRUE(run.result.complete) << c.name;
        EXPECT_EQ(run.result.restarts, 1) << c.name;
        EXPECT_EQ(run.seen.restarts, 1) << c.name;
        const std::string expected = c.changed ? changedPattern() : patternBytes(kSize);
        EXPECT_TRUE(run.seen.bytes == expected) << c.name;
        run.seen.kept.reset();
        EXPECT_TRUE(readFile(file) == expected) << c.name;
    }
}

TEST_F(Resume, BusyServerIsWaitedForAsItAsks) {
    script("/busy", {{{"status", 503}, {"retry_after", 1}}, {{"status", 429}}});
    FetchRun run;
    fetchInto(run, {serverUrl() + "/busy"}, scratchDir() + "busy.bin");
    ASSERT_TRUE(run.result.complete);
    ASSERT_EQ(run.notices.size(), 2u);
    EXPECT_EQ(run.notices[0].status, 503);
    EXPECT_EQ(run.notices[0].waitMs, 1000u);  // the server's, not the schedule's 50 ms
    EXPECT_EQ(run.notices[1].status, 429);
    EXPECT_EQ(run.notices[1].waitMs, 100u);
    EXPECT_EQ(run.notices[1].nextTry, 3);
    EXPECT_GE(run.ms, 1100u);
}

// After the primary has used its tries, the mirrors in order; with every source dead, a failure
// in bounded time that leaves no file.
TEST_F(Resume, MirrorsServeWhenThePrimaryIsDeadAndAllDeadFailsInTime) {
    script("/mirrored", {{{"cut", kSize / 2}}});
    FetchRun run;
    const std::string file = scratchDir() + "mirrored.bin";
    fetchInto(run, {"http://127.0.0.1:1/dead.pak", serverUrl() + "/status/404",
                    serverUrl() + "/mirrored"},
              file);
    ASSERT_TRUE(run.result.complete);
    EXPECT_EQ(run.result.source, 2u);
    EXPECT_TRUE(run.seen.bytes == patternBytes(kSize));
    ASSERT_GE(run.notices.size(), 5u);
    EXPECT_EQ(run.notices[0].source, 0u);
    EXPECT_EQ(run.notices[3].nextTry, 5);
    EXPECT_EQ(run.notices[4].source, 2u);  // the 404 was final at once

    FetchRun dead;
    const std::string none = scratchDir() + "none.bin";
    fetchInto(dead, {"http://127.0.0.1:1/a.pak", "http://127.0.0.1:1/b.pak"}, none);
    EXPECT_FALSE(dead.result.complete);
    EXPECT_EQ(dead.result.failure, DownloadFailure::NoConnection);
    EXPECT_EQ(dead.result.source, 1u);
    EXPECT_EQ(dead.notices.size(), 8u);
    EXPECT_LT(dead.ms, 15000u);
    EXPECT_FALSE(fileExists(none));
}

// Bytes the consumer refuses end their source at once, without its further tries; the next
// source serves the file from its first byte.
TEST_F(Resume, RefusedBytesEndTheirSource) {
    // Paced, so that what the host sent shows where the client stopped reading.
    script("/refused-bad", {{{"change", true}, {"trickle", {65536, 0.02}}}});
    script("/refused-good", nlohmann::json::array());
    const std::string pattern = patternBytes(kSize);
    FetchRun run;
    run.seen.expected = &pattern;
    fetchInto(run, {serverUrl() + "/refused-bad", serverUrl() + "/refused-good"},
              scratchDir() + "refused.bin");
    ASSERT_TRUE(run.result.complete);
    EXPECT_EQ(run.result.source, 1u);
    EXPECT_EQ(run.seen.restarts, 1);
    EXPECT_TRUE(run.seen.bytes == pattern);
    EXPECT_TRUE(run.notices.empty());
    const nlohmann::json bad = figures("/refused-bad");
    EXPECT_EQ(bad["requests"], 1) << bad;
    EXPECT_LT(bad["sent"].get<uint64_t>(), kSize / 2) << bad;
}

// A trickle: each try is cut at its own time (1 s + the bytes at 8 MB/s) and resumed, and the
// run's time (twice one try's for the whole file) ends the fetch with a cause of its own.
TEST_F(Resume, ATrickleIsCutAtEachTrysTimeAndEndsAtTheRunsTime) {
    script("/trickle", nlohmann::json::array_t(10, nlohmann::json{{"trickle", {1000, 0.05}}}));
    FetchRun run;
    const std::string file = scratchDir() + "trickle.bin";
    fetchInto(run, {serverUrl() + "/trickle"}, file, 60000,
              RetrySchedule{5, {50}, 0, 1000, 8000000, 0});
    EXPECT_EQ(run.result.failure, DownloadFailure::TimedOut);
    ASSERT_FALSE(run.notices.empty());
    EXPECT_EQ(run.notices[0].cause, DownloadFailure::Cut);
    EXPECT_GE(run.ms, 3900u);
    EXPECT_LT(run.ms, 8000u);
    EXPECT_FALSE(fileExists(file));
}

uint64_t clockNowMs = 0;

uint64_t testClock() {
    return clockNowMs;
}

// What happens during the wait before try 2 ends the fetch there: a cancel cuts the 30 s wait
// short, and a wait that ends past the run's time starts no further try.
TEST_F(Resume, ACancelOrTheRunsEndDuringAWaitEndsTheFetch) {
    struct {
        const char* name;
        bool cancel;
        uint64_t clockAfterWait;
        DownloadFailure failure;
    } rows[] = {
        {"cancelled", true, 0, DownloadFailure::Cancelled},
        {"past the run's end", false, 301001, DownloadFailure::TimedOut},
        {"at the run's end", false, 301000, DownloadFailure::HttpStatus},
    };
    for (const auto& row : rows) {
        FileDownloader downloader;
        downloader.maxDownloadBytes = 0;  // the run's time: two allowances and the margin
        clockNowMs = 0;
        const RetrySchedule schedule{2, {row.cancel ? 30000u : 0u}, 60000, 500, 1, 300000,
                                     testClock};
        int notices = 0;
        const DWORD start = GetTickCount();
        const auto result = downloader.fetch(
            {serverUrl() + "/status/503"}, scratchDir() + "c.bin", nullptr, nullptr, schedule,
            [&](const FileDownloader::RetryNotice&) {
                ++notices;
                if (row.cancel) downloader.cancel();
                clockNowMs = row.clockAfterWait;
            });
        EXPECT_EQ(result.failure, row.failure) << row.name;
        EXPECT_EQ(notices, 1) << row.name;
        EXPECT_LT(GetTickCount() - start, 3000u) << row.name;
    }
}

}  // namespace
}  // namespace tessaryn

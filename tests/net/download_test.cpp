// GET downloads against the test web host: bodies, progress reports, failures and their texts.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "net/file_downloader.h"
#include "tests/support/test_env_win.h"

namespace tessaryn {
namespace {

using namespace testing;
using Info = FileDownloader::ProgressInfo;

struct Report {
    Info info;
    DWORD tick;
};

// Downloads with a callback that records every report.
struct RecordingDownload {
    std::vector<Report> reports;
    bool result = false;

    RecordingDownload(const std::string& url, const std::string& path, int stopAfter = -1) {
        FileDownloader downloader;
        result = downloader.downloadFile(url, path, [&](const Info& info) {
            reports.push_back({info, GetTickCount()});
            return stopAfter < 0 || static_cast<int>(reports.size()) < stopAfter;
        });
    }
};

// A fetch with short waits between tries, as the tests give it.
const RetrySchedule kQuick{3, {50, 100}, 1500};

FileDownloader::FetchResult fetchOnce(const std::string& url, const std::string& path) {
    FileDownloader downloader;
    return downloader.fetch({url}, path, nullptr, nullptr, RetrySchedule{1, {}, 0});
}

class Download : public ServerTest {
  protected:
    std::string target(const char* name) { return scratchDir() + name; }
};

TEST_F(Download, FastBodyWithLengthGivesOnlyTheFinalReport) {
    const std::string path = target("fast.bin");
    RecordingDownload run(serverUrl() + "/bytes/100000", path);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(readFile(path), patternBytes(100000));
    ASSERT_EQ(run.reports.size(), 1u);
    const Info& last = run.reports.back().info;
    EXPECT_EQ(last.totalBytes, 100000u);
    EXPECT_EQ(last.downloadedBytes, 100000u);
    EXPECT_EQ(last.bytesPerSecond, 0u);
    EXPECT_EQ(last.percent, 100);
}

// Paths are UTF-8: a temporary folder under a user name such as "Jörg" must work.
TEST_F(Download, PathWithNonAsciiCharactersIsWrittenAndCutFilesRemoved) {
    const std::string folder = scratchDir() + "J\xC3\xB6rg \xD0\x96";
    ASSERT_TRUE(std::filesystem::create_directory(testing::utf8Path(folder)));
    const std::string path = folder + "\\setup.pak";
    RecordingDownload run(serverUrl() + "/bytes/4000", path);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(readFile(path), patternBytes(4000));
    RecordingDownload cut(serverUrl() + "/bytes/300000?chunk=1000&cut=5000", path);
    EXPECT_FALSE(cut.result);
    EXPECT_FALSE(testing::fileExists(path));
}

// A kept file is new, seen part by part as written, and stays open so that nothing else can
// write, replace or delete it; an existing file of its name is never reused.
TEST_F(Download, KeptFileIsNewSeenAsWrittenAndLockedAgainstOthers) {
    const std::string path = target("kept.bin");
    std::ofstream(testing::utf8Path(path)) << "an earlier file, perhaps open in another program";
    std::string seen;
    UniqueFile kept;
    const FileDownloader::Arrival arrival{
        [&seen](const uint8_t* bytes, size_t size) {
            seen.append(bytes, bytes + size);
            return true;
        },
        nullptr, &kept};
    FileDownloader downloader;
    ASSERT_TRUE(downloader.downloadFile(serverUrl() + "/bytes/300000?chunk=7000", path, nullptr,
                                        &arrival));
    ASSERT_TRUE(kept);
    EXPECT_EQ(seen, patternBytes(300000));
    EXPECT_EQ(readFile(path), seen);
    const std::wstring wide = testing::utf8Path(path).wstring();
    UniqueFile writer(CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer);
    EXPECT_FALSE(DeleteFileW(wide.c_str()));
    kept.reset();
    EXPECT_TRUE(DeleteFileW(wide.c_str()));
}

TEST_F(Download, WithoutContentLengthEveryReportSaysUnknownSize) {
    for (const char* query :
         {"?chunked=1&chunk=30000&delay=120", "?length=0&chunk=30000&delay=120"}) {
        const std::string path = target("unsized.bin");
        RecordingDownload run(serverUrl() + "/bytes/150000" + query, path);
        ASSERT_TRUE(run.result) << query;
        EXPECT_EQ(readFile(path), patternBytes(150000)) << query;
        ASSERT_GE(run.reports.size(), 2u) << query;
        for (const Report& r : run.reports) {
            EXPECT_EQ(r.info.totalBytes, 0u) << query;
            EXPECT_EQ(r.info.percent, -1) << query;
        }
        EXPECT_EQ(run.reports.back().info.downloadedBytes, 150000u) << query;
    }
}

TEST_F(Download, SlowBodyIsReportedEveryQuarterSecondWithItsRate) {
    // 12 writes of 20000 bytes, 150 ms apart: about 133 KB/s over about 1.8 s.
    const std::string path = target("slow.bin");
    RecordingDownload run(serverUrl() + "/bytes/240000?chunk=20000&delay=150", path);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(readFile(path), patternBytes(240000));
    ASSERT_GE(run.reports.size(), 4u);
    uint64_t previous = 0;
    for (size_t i = 0; i + 1 < run.reports.size(); ++i) {
        const Info& info = run.reports[i].info;
        EXPECT_EQ(info.totalBytes, 240000u);
        EXPECT_GE(info.downloadedBytes, previous);
        EXPECT_EQ(info.percent, static_cast<int32_t>(info.downloadedBytes * 100 / 240000));
        EXPECT_GT(info.bytesPerSecond, 20000u);
        EXPECT_LT(info.bytesPerSecond, 400000u);
        if (i > 0) {
            EXPECT_GE(run.reports[i].tick - run.reports[i - 1].tick, 240u);
        }
        previous = info.downloadedBytes;
    }
    const Info& last = run.reports.back().info;
    EXPECT_EQ(last.percent, 100);
    EXPECT_EQ(last.downloadedBytes, 240000u);
    EXPECT_EQ(last.bytesPerSecond, run.reports[run.reports.size() - 2].info.bytesPerSecond);
}

TEST_F(Download, CallbackThatStopsKeepsThePartialFile) {
    const std::string path = target("stopped.bin");
    RecordingDownload run(serverUrl() + "/bytes/240000?chunk=20000&delay=150", path, 1);
    EXPECT_FALSE(run.result);
    ASSERT_EQ(run.reports.size(), 1u);
    const uint64_t got = run.reports[0].info.downloadedBytes;
    ASSERT_GT(got, 0u);
    ASSERT_LT(got, 240000u);
    EXPECT_EQ(readFile(path), patternBytes(got));
}

TEST_F(Download, BodyShorterThanItsLengthIsACutTransfer) {
    // The host closes the connection cleanly after 1000 of the 5000 announced bytes.
    const std::string path = target("short.bin");
    RecordingDownload run(serverUrl() + "/bytes/1000?claim=5000", path);
    EXPECT_FALSE(run.result);
    EXPECT_FALSE(fileExists(path));
    EXPECT_TRUE(run.reports.empty());
}

TEST_F(Download, FailedWritesAreNotReportedAsSuccess) {
    // full.bin is a link to /dev/full: the open succeeds, every write fails.
    RecordingDownload run(serverUrl() + "/bytes/100000", target("full.bin"));
    EXPECT_FALSE(run.result);
    EXPECT_TRUE(run.reports.empty());
}

// Each way of failing is told apart; answers no further try can change end the source at once.
TEST_F(Download, FailuresAreToldApartAndFinalAnswersAreNotTriedAgain) {
    const std::string missing = scratchDir() + "no such folder\\file.bin";
    EXPECT_EQ(fetchOnce(serverUrl() + "/bytes/10", missing).failure, DownloadFailure::Disk);
    struct {
        const char* path;
        long status;
        int tries;
    } rows[] = {{"/status/404", 404, 1}, {"/status/403", 403, 1}, {"/status/204", 204, 1},
                {"/status/500", 500, 3}, {"/status/429", 429, 3}, {"/status/408", 408, 3}};
    for (const auto& row : rows) {
        FileDownloader downloader;
        const auto result = downloader.fetch({serverUrl() + row.path}, target("x.bin"), nullptr,
                                             nullptr, kQuick);
        EXPECT_EQ(result.failure, DownloadFailure::HttpStatus) << row.path;
        EXPECT_EQ(result.status, row.status) << row.path;
        EXPECT_EQ(result.tries, row.tries) << row.path;
        EXPECT_FALSE(fileExists(target("x.bin"))) << row.path;
    }
    const auto unparsable = fetchOnce("no url at all", target("x.bin"));
    EXPECT_EQ(unparsable.failure, DownloadFailure::NoConnection);
    EXPECT_EQ(fetchOnce("http://name.invalid/x", target("x.bin")).failure,
              DownloadFailure::NameNotFound);
}

TEST_F(Download, UnreachableServerIsTriedWithTheScheduleWaits) {
    FileDownloader downloader;
    std::vector<uint32_t> waits;
    const DWORD start = GetTickCount();
    const auto result = downloader.fetch(
        {"http://127.0.0.1:1/x"}, target("x.bin"), nullptr, nullptr,
        RetrySchedule{3, {300, 600}, 0},
        [&](const FileDownloader::RetryNotice& notice) { waits.push_back(notice.waitMs); });
    EXPECT_EQ(result.failure, DownloadFailure::NoConnection);
    EXPECT_EQ(result.tries, 3);
    EXPECT_EQ(waits, (std::vector<uint32_t>{300, 600}));
    EXPECT_GE(GetTickCount() - start, 880u);
}

TEST_F(Download, RedirectsAreFollowedByThePlatform) {
    const std::string path = target("redirected.json");
    for (const char* chain :
         {"/chain/absolute/3/end", "/chain/rooted/3/end", "/chain/relative/3/end",
          "/chain/rooted/2/end?status=301", "/chain/rooted/2/end?status=307"}) {
        FileDownloader downloader;
        ASSERT_TRUE(downloader.downloadFile(serverUrl() + chain, path, nullptr)) << chain;
        const auto echo = nlohmann::json::parse(readFile(path));
        EXPECT_EQ(echo["method"], "GET");
        EXPECT_EQ(echo["path"].get<std::string>().rfind("/chain/", 0), 0u);
        EXPECT_NE(echo["path"].get<std::string>().find("/0/end"), std::string::npos) << chain;
    }
}

TEST_F(Download, SendsAgentAndCacheHeadersToTheNonDefaultPort) {
    const std::string path = target("echo.json");
    FileDownloader downloader;
    downloader.userAgent = "Setup/1.1 (Test System 42)";
    ASSERT_TRUE(downloader.downloadFile(serverUrl() + "/echo", path, nullptr));
    const auto echo = nlohmann::json::parse(readFile(path));
    std::map<std::string, std::string> headers;
    for (const auto& pair : echo["headers"]) headers[pair[0]] = pair[1];
    EXPECT_EQ(headers["User-Agent"], "Setup/1.1 (Test System 42)");
    EXPECT_EQ(headers["Cache-Control"], "no-cache, no-store, must-revalidate");
    EXPECT_EQ(headers["Pragma"], "no-cache");
    EXPECT_EQ(headers["Expires"], "0");
    // The port of the URL, not 80, reached the host.
    EXPECT_EQ("http://" + headers["Host"], serverUrl());
}

TEST_F(Download, CertificateForAnotherNameOrOutOfDateIsRefused) {
    for (const char* name : {"TESSARYN_TEST_SERVER_HTTPS_OTHER_NAME",
                             "TESSARYN_TEST_SERVER_HTTPS_EXPIRED"}) {
        ASSERT_FALSE(testing::testEnv(name).empty()) << name;
        FileDownloader downloader;
        const auto result = downloader.fetch({testing::testEnv(name) + "/bytes/10"},
                                             target("refused.bin"), nullptr, nullptr, kQuick);
        EXPECT_EQ(result.failure, DownloadFailure::Certificate) << name;
        EXPECT_EQ(result.tries, 1) << name;  // a refused certificate stays refused
    }
}

// Bodies that trickle, never end or outgrow what was announced are cut, and nothing is kept.
TEST_F(Download, StalledEndlessAndOverlongBodiesAreCut) {
    struct Case {
        const char* path;
        uint64_t limit;
    } cases[] = {
        {"/bytes/100000?chunk=1&delay=200", 0},           // a byte now and then
        {"/bytes/100000?length=0&chunk=1&delay=200", 0},  // the same, unannounced length
        {"/endless?chunk=65536", 1000000},                // never ends
        {"/bytes/200000", 100000},                        // announced above the limit
        {"/bytes/200000?length=0", 100000},               // passes the limit unannounced
    };
    for (const Case& c : cases) {
        FileDownloader downloader;
        downloader.stallLimitMs = 1500;
        if (c.limit) downloader.maxDownloadBytes = c.limit;
        const std::string path = target("cut.bin");
        const auto start = GetTickCount();
        EXPECT_FALSE(downloader.downloadFile(serverUrl() + c.path, path, nullptr)) << c.path;
        EXPECT_LT(GetTickCount() - start, 15000u) << c.path;
        EXPECT_FALSE(fileExists(path)) << c.path;
    }
    // A steady download under the same short stall limit is not cut.
    FileDownloader downloader;
    downloader.stallLimitMs = 1500;
    const std::string path = target("steady.bin");
    ASSERT_TRUE(downloader.downloadFile(serverUrl() + "/bytes/300000?chunk=30000&delay=300",
                                        path, nullptr));
    EXPECT_EQ(readFile(path), patternBytes(300000));
}

// A body longer than its announced length: the system's HTTP layer may stop at the length or
// hand on what came with it, by the timing of the packets; either way no byte past the
// announced length is kept.
TEST_F(Download, NothingPastTheAnnouncedLengthIsKept) {
    FileDownloader downloader;
    const std::string path = target("longer.bin");
    if (downloader.downloadFile(serverUrl() + "/bytes/1000?claim=500", path, nullptr))
        EXPECT_EQ(readFile(path), patternBytes(500));
    else
        EXPECT_FALSE(fileExists(path));
}

TEST_F(Download, CancelFromAnotherThreadStopsATransferThatTrickles) {
    FileDownloader downloader;
    std::thread canceller([&] {
        Sleep(500);
        downloader.cancel();
    });
    const auto start = GetTickCount();
    EXPECT_FALSE(downloader.downloadFile(serverUrl() + "/bytes/100000?chunk=1&delay=100",
                                         target("cancelled.bin"), nullptr));
    canceller.join();
    EXPECT_LT(GetTickCount() - start, 5000u);
}

// The second host is the secure one, with the right name and a trusted authority.
TEST_F(Download, ObjectCanBeReusedForAnotherHost) {
    FileDownloader downloader;
    const std::string path = target("reuse.bin");
    ASSERT_TRUE(downloader.downloadFile(serverUrl() + "/bytes/10", path, nullptr));
    ASSERT_TRUE(downloader.downloadFile(secureServerUrl() + "/bytes/20", path, nullptr));
    EXPECT_EQ(readFile(path), patternBytes(20));
}

}  // namespace
}  // namespace tessaryn

// The rules of a download that is tried again, and the texts the download job shows.
#include <gtest/gtest.h>

#include <set>

#include "net/download_retry.h"
#include "net/download_status.h"

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

TEST(RetryRules, EachCauseHasItsOwnWords) {
    EXPECT_EQ(retryStatusLine(DownloadFailure::Cut, 0, 4000, 2, 5),
              "Connection lost. Retrying in 4 s (try 2 of 5)...");
    EXPECT_EQ(retryStatusLine(DownloadFailure::HttpStatus, 503, 1500, 3, 5),
              "The server is busy (HTTP 503). Retrying in 2 s (try 3 of 5)...");
    EXPECT_EQ(retryStatusLine(DownloadFailure::NoConnection, 0, 0, 5, 5),
              "No connection to the server. Retrying in 0 s (try 5 of 5)...");
    std::set<std::string> messages;
    for (DownloadFailure cause :
         {DownloadFailure::NoConnection, DownloadFailure::NameNotFound,
          DownloadFailure::Certificate, DownloadFailure::HttpStatus, DownloadFailure::ProxySignIn,
          DownloadFailure::Cut, DownloadFailure::Disk, DownloadFailure::Cancelled}) {
        const std::string text = downloadFailureMessage(cause, 404, "h.example", 5);
        EXPECT_TRUE(messages.insert(text).second) << text;
    }
    EXPECT_EQ(downloadFailureMessage(DownloadFailure::HttpStatus, 404, "h.example", 1),
              "The server h.example answered with HTTP status 404.");
    EXPECT_EQ(downloadFailureMessage(DownloadFailure::ProxySignIn, 407, "proxy.lan:3128", 1),
              "The proxy server proxy.lan:3128 requires a sign-in.");
}

TEST(DownloadStatusLine, ShowsPercentOrKilobytesWithTheRate) {
    EXPECT_EQ(downloadStatusLine("Downloading setup files... ", 1000, 524288, 45),
              "Downloading setup files... 45% - 512 KB/s");
    EXPECT_EQ(downloadStatusLine("Initializing setup... ", 5000, 1023, 0),
              "Initializing setup... 0% - 0 KB/s");
    EXPECT_EQ(downloadStatusLine("Downloading setup files... ", 1536 * 1024 + 1023, 2047, -1),
              "Downloading setup files... 1536 KB - 1 KB/s");
    EXPECT_EQ(downloadStatusLine("P ", 0, 0, -1), "P 0 KB - 0 KB/s");
    EXPECT_EQ(downloadStatusLine("", 1ull << 40, 1ull << 40, 100), "100% - 1073741824 KB/s");
}

TEST(DownloadFailureText, NamesTheWebHost) {
    EXPECT_EQ(downloadFailureText("downloads.example"),
              "Download failed!\nPlease try later, or visit downloads.example to contact support.");
    EXPECT_EQ(downloadFailureText("d.example", "The server d.example answered with HTTP status 4."),
              "Download failed!\nThe server d.example answered with HTTP status 4.\n"
              "Please try later, or visit d.example to contact support.");
}

}  // namespace
}  // namespace tessaryn

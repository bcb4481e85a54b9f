#pragma once
// One try of a download: one request to one source, its answer, and its body written on after
// what the file already holds.
#include <optional>
#include <string>
#include <vector>

#include "net/file_downloader.h"
#include "net/wininet_parts_win.h"

namespace tessaryn {

// What follows a try.
enum class Next { Done, Retry, NextSource, Stop };

struct Step {
    Next next = Next::Retry;
    DownloadFailure cause = DownloadFailure::None;
    long status = 0;
    long retryAfter = -1;
};

// The file a fetch writes and what it knows of it across its tries.
struct FetchTarget {
    // How much, how large, and which answer the bytes came from.
    struct Kept {
        uint64_t offset = 0;
        uint64_t total = 0;        // 0 while unknown
        std::string validator;     // If-Range of a resumed request
        std::string etag;          // strong tags only: the one kind that holds across sources
        size_t source = SIZE_MAX;  // the source whose answer the bytes came from
    };
    HANDLE file;
    const FileDownloader::Arrival* arrival;
    FileDownloader::FetchResult& result;
    Kept kept{};
    // The bytes kept are of another file, or of an answer that cannot be continued: they go.
    // False when the file cannot be emptied.
    bool startOver();
};

class TransferAttempt {
  public:
    TransferAttempt(const FileDownloader& downloader, FetchTarget& target,
                    DownloadDeadlines& deadlines, const FileDownloader::ProgressCallback& callback)
        : downloader_(downloader), target_(target), deadlines_(deadlines), callback_(callback) {}
    TransferAttempt(const TransferAttempt&) = delete;
    TransferAttempt& operator=(const TransferAttempt&) = delete;

    Step run(const std::string& url, size_t source);

  private:
    // Each gives the try's end, or nothing when it goes on.
    std::optional<Step> open(const UrlParts& url);
    std::optional<Step> send();
    std::optional<Step> takeAnswer();
    std::optional<Step> readSome(DWORD& received, const char*& wrong);
    std::optional<Step> watch(DWORD received);
    Step receive();
    bool report(int32_t percent) const;
    Step logged(Step step, const char* how) const;

    const FileDownloader& downloader_;
    FetchTarget& target_;
    DownloadDeadlines& deadlines_;
    const FileDownloader::ProgressCallback& callback_;
    const std::string* url_ = nullptr;
    size_t source_ = 0;
    wininet_parts::Connection link_;
    UniqueInternet request_;  // closed before its connection
    long status_ = 0;
    uint64_t length_ = 0;  // announced; 0 when not
    bool resuming_ = false;
    // The body's road: where it began, its limit, the rate and the stall window.
    std::vector<char> buffer_;
    uint64_t sizeLimit_ = 0;
    uint64_t startedAt_ = 0;
    DWORD started_ = 0;
    uint64_t bytesSinceReport_ = 0;
    uint64_t lastRate_ = 0;
    DWORD lastTick_ = 0;
    DWORD stallWindowStart_ = 0;
    uint64_t stallWindowBytes_ = 0;
};

}  // namespace tessaryn

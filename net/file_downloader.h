#pragma once
// The program's GET into a file (WinINet), with progress reports, resuming cut transfers and
// trying further sources. One try is a TransferAttempt (transfer_attempt_win.h); the JSON POST
// has a file of its own (json_post_win.h).
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/download_retry.h"

#include "net/url.h"
#include "system/handles_win.h"

namespace tessaryn {

class FileDownloader {
  public:
    struct ProgressInfo {
        uint64_t totalBytes = 0;
        uint64_t downloadedBytes = 0;
        uint64_t bytesPerSecond = 0;
        int32_t percent = -1;
    };
    // Returns false to stop the download.
    using ProgressCallback = std::function<bool(const ProgressInfo&)>;

    explicit FileDownloader(std::string agent = "Setup/1.0", uint32_t timeout = 30000);
    FileDownloader(const FileDownloader&) = delete;
    FileDownloader& operator=(const FileDownloader&) = delete;
    // What a download may do besides writing its file: see each part as it is written, and
    // keep the file open once it is complete.
    struct Arrival {
        // The single place where the file's bytes are seen, in order, each once; false when
        // they cannot be the file's (a block failed its hash): that source is done.
        std::function<bool(const uint8_t*, size_t)> received;
        // Everything `received` saw so far is void: the file starts over from its first byte
        // (the server ignored the range asked for, or the file changed between tries).
        std::function<void()> restarted;
        // When set, the file is made new (never one that exists), opened for reading too with
        // read sharing only, and handed over here still open when complete: nothing but this
        // download can have written to it.
        UniqueFile* keep = nullptr;
        // With keep: told the file's handle once it is made, before its first byte is written.
        std::function<void(HANDLE)> opened = nullptr;
    };
    // Told before each wait between tries (on the download's thread).
    struct RetryNotice {
        DownloadFailure cause = DownloadFailure::None;
        long status = 0;
        uint32_t waitMs = 0;
        int nextTry = 0;
        int tries = 0;
        size_t source = 0;
    };
    using RetryCallback = std::function<void(const RetryNotice&)>;
    struct FetchResult {
        bool complete = false;
        DownloadFailure failure = DownloadFailure::None;
        long status = 0;             // of the last answer; 0 when there was none
        size_t source = 0;           // the source that served the file, or the last one tried
        std::string host;            // of that source, or the proxy for a sign-in failure
        int tries = 0;               // tries of that source
        uint64_t bytesReceived = 0;  // body bytes that came over the wire, kept or not
        int restarts = 0;            // times the file started over from its first byte
    };
    // Fetches the file from the first of `sources` (full addresses of the same file) that gives
    // it: each source gets schedule.triesPerSource tries with the schedule's waits between
    // them; a transfer that stops early continues with a range request (If-Range: the first
    // answer's validator) and starts over when the server answers with the whole file or a
    // range that does not continue it. A try is cut past its time and the fetch ends past the
    // schedule's run time. A length or bytes that cannot be the file's (maxDownloadBytes,
    // exactSize, `received`) end that source and start the file over. A failed fetch removes
    // its file; a cancelled one keeps what arrived. Never throws.
    FetchResult fetch(const std::vector<std::string>& sources, const std::string& filePath,
                      ProgressCallback callback, const Arrival* arrival,
                      const RetrySchedule& schedule, RetryCallback onRetry = nullptr);
    // One source, one try.
    bool downloadFile(const std::string& url, const std::string& filePath,
                      ProgressCallback callback, const Arrival* arrival = nullptr);
    // From any thread: the running download stops at its next read and returns false.
    void cancel() noexcept;

    std::string userAgent;
    uint32_t timeoutMs;
    bool disableCache = true;
    // A transfer that gets less than 16 KiB within this time (or nothing) counts as cut.
    uint32_t stallLimitMs = 60000;
    // An answer announcing more than this is refused before a byte is written, a body running
    // past it, or past its announced length, is cut. With exactSize the file has exactly this
    // size (the signed one): any other announced length is refused, a shorter body is cut.
    uint64_t maxDownloadBytes = TESSARYN_MAX_DOWNLOAD_BYTES;
    bool exactSize = false;
    // When set, a proxy's 407 shows the system's sign-in prompt owned by this window, and the
    // request goes again with what was entered; unset (silent runs), a 407 ends the fetch.
    HWND signInOwner = nullptr;
    std::atomic<bool> cancelled{false};
};

}  // namespace tessaryn

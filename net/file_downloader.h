#pragma once
// The program's only HTTP client (WinINet): GET into a file with progress reports, JSON POST
// with redirects followed by hand.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

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
    ~FileDownloader();

    static bool parseUrl(const std::string& url, std::string& host, std::string& path,
                         uint16_t& port, bool& secure);
    bool connect(const std::string& url);
    UniqueInternet openGetRequest(const std::string& url, const std::string& path);
    // What a download may do besides writing its file: see each part as it is written, and
    // keep the file open once it is complete.
    struct Arrival {
        std::function<void(const uint8_t*, size_t)> received;
        // When set, the file is made new (never one that exists), opened for reading too with
        // read sharing only, and handed over here still open when complete: nothing but this
        // download can have written to it.
        UniqueFile* keep = nullptr;
    };
    bool receiveToFile(HINTERNET request, const std::string& filePath, ProgressCallback callback,
                       const Arrival* arrival = nullptr);
    bool downloadFile(const std::string& url, const std::string& filePath,
                      ProgressCallback callback, const Arrival* arrival = nullptr);
    // Answers over maxAnswerBytes are refused (throws). When `headerName` is given, the final
    // answer's header of that name goes to `headerValue` (empty when it has none).
    std::string postJson(const std::string& url, const std::string& body,
                         const char* headerName = nullptr, std::string* headerValue = nullptr);
    // From any thread: the running download stops at its next read and returns false.
    void cancel() noexcept;

    UniqueInternet session;
    UniqueInternet connection;
    std::string userAgent;
    uint32_t timeoutMs;
    bool disableCache = true;
    // A transfer that gets less than 16 KiB within this time (or nothing) counts as cut.
    uint32_t stallLimitMs = 60000;
    // A body longer than this, or than its announced length, is cut.
    uint64_t maxDownloadBytes = TESSARYN_MAX_DOWNLOAD_BYTES;
    size_t maxAnswerBytes = 65536;
    std::atomic<bool> cancelled{false};
};

}  // namespace tessaryn

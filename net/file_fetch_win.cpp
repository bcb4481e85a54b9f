// The resumable GET of FileDownloader: tries, waits, sources, ranges and the body loop.
#include "net/file_downloader.h"

#include "net/wininet_parts_win.h"
#include "system/run_log.h"
#include "system/unicode_win.h"

#include <algorithm>
#include <vector>

namespace tessaryn {

using namespace wininet_parts;

namespace {

// Prompts shown for one request before a 407 counts as a refusal.
constexpr int kSignInPrompts = 3;
// What is read of an answer that is not the file, before the request goes again.
constexpr DWORD kDrainLimit = 65536;

enum class Next { Done, Retry, NextSource, Stop };

struct Step {
    Next next = Next::Retry;
    DownloadFailure cause = DownloadFailure::None;
    long status = 0;
    long retryAfter = -1;
};

// What the downloader knows of the file it keeps: how much, how large, and which answer.
struct Kept {
    uint64_t offset = 0;
    uint64_t total = 0;         // 0 while unknown
    std::string validator;      // If-Range of a resumed request
    std::string etag;           // strong tags only: the one kind that holds across sources
    size_t source = SIZE_MAX;   // the source whose answer the bytes came from
};

DownloadFailure sendFailure(DWORD error) {
    if (isCertificateError(error)) return DownloadFailure::Certificate;
    switch (error) {
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
            return DownloadFailure::NameNotFound;
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_INTERNET_CONNECTION_ABORTED:
            return DownloadFailure::Cut;
        default:
            return DownloadFailure::NoConnection;
    }
}

std::string hostOf(const std::string& url) {
    std::string host;
    std::string path;
    uint16_t port = 0;
    bool secure = false;
    if (!splitUrl(url, host, path, port, secure)) return url;
    return host;
}

// The proxy the session goes through, as the system's settings name it.
std::string proxyName(HINTERNET session) {
    alignas(INTERNET_PROXY_INFO) char buffer[2048] = {};
    DWORD length = sizeof(buffer) - 1;
    if (!InternetQueryOptionA(session, INTERNET_OPTION_PROXY, buffer, &length)) return "(proxy)";
    const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer);
    if (!info->lpszProxy || !*info->lpszProxy) return "(proxy)";
    std::string name = reinterpret_cast<const char*>(info->lpszProxy);
    // A sign-in written into the setting stays out of logs and messages.
    const size_t scheme = name.find("://");
    const size_t at = name.rfind('@');
    if (at != std::string::npos)
        name.erase(scheme == std::string::npos ? 0 : scheme + 3,
                   at + 1 - (scheme == std::string::npos ? 0 : scheme + 3));
    return name.substr(0, 256);
}

bool truncateTo(HANDLE file, uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Reads and drops a short answer body so that the request can be sent again.
void drain(HINTERNET request) {
    char buffer[4096];
    DWORD total = 0;
    DWORD received = 0;
    while (total < kDrainLimit && InternetReadFile(request, buffer, sizeof(buffer), &received) &&
           received > 0)
        total += received;
}

}  // namespace

FileDownloader::FetchResult FileDownloader::fetch(const std::vector<std::string>& sources,
                                                  const std::string& filePath,
                                                  ProgressCallback callback,
                                                  const Arrival* arrival,
                                                  const RetrySchedule& schedule,
                                                  RetryCallback onRetry) {
    FetchResult result;
    // The path is UTF-8 like every text of the program: the temporary folder of a user with a
    // non-ASCII name cannot be named in the ANSI code page.
    const std::wstring widePath = toWide(filePath);
    const bool keep = arrival && arrival->keep;
    // A file kept for use is a new one: one that existed could be open elsewhere for writing.
    if (keep) DeleteFileW(widePath.c_str());
    const DWORD access = keep ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    UniqueFile file(CreateFileW(widePath.c_str(), access, FILE_SHARE_READ, nullptr,
                                keep ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        logLine("Cannot create " + filePath + " (error " + std::to_string(GetLastError()) + ")");
        result.failure = DownloadFailure::Disk;
        return result;
    }
    if (keep && arrival->opened) arrival->opened(file.get());

    Kept kept;
    // The bytes kept so far are of another file, or of an answer that cannot be continued.
    auto startOver = [&]() -> bool {
        const bool anyBytes = kept.offset > 0;
        kept = Kept{};
        if (!anyBytes) return true;
        ++result.restarts;
        if (arrival && arrival->restarted) arrival->restarted();
        logLine("Download starts over from its first byte");
        return truncateTo(file.get(), 0);
    };
    DownloadDeadlines deadlines(schedule, maxDownloadBytes);

    auto attempt = [&](size_t source) -> Step {
        const std::string& url = sources[source];
        std::string host;
        std::string path;
        uint16_t port = 0;
        bool secure = false;
        if (!splitUrl(url, host, path, port, secure))
            return {Next::NextSource, DownloadFailure::NoConnection};
        try {
            connect(url);
        } catch (const std::exception&) {
            return {Next::Retry, DownloadFailure::NoConnection};
        }
        UniqueInternet request(HttpOpenRequestA(connection.get(), "GET", path.c_str(), "HTTP/1.1",
                                                nullptr, nullptr, requestFlags(secure), 0));
        if (!request) return {Next::Retry, DownloadFailure::NoConnection};
        if (disableCache)
            HttpAddRequestHeadersA(request.get(), kCacheHeaders, kCacheHeadersLength,
                                   kAddOrReplace);
        // A range only of the answer the bytes came from, or one whose strong tag any source
        // must honour; anything else is asked for whole.
        const bool resuming = kept.offset > 0 && !kept.validator.empty() &&
                              (kept.source == source || !kept.etag.empty());
        if (kept.offset > 0 && !resuming && !startOver())
            return {Next::Stop, DownloadFailure::Disk};
        if (resuming) {
            const std::string range = "Range: bytes=" + std::to_string(kept.offset) +
                                      "-\r\nIf-Range: " +
                                      (kept.source == source ? kept.validator : kept.etag) +
                                      "\r\n";
            HttpAddRequestHeadersA(request.get(), range.c_str(),
                                   static_cast<DWORD>(range.size()), kAddOrReplace);
        }

        long status = 0;
        for (int prompts = 0;; ++prompts) {
            if (!HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) {
                const DownloadFailure cause = sendFailure(GetLastError());
                // A refused certificate stays refused: no point in asking again.
                return {cause == DownloadFailure::Certificate ? Next::NextSource : Next::Retry,
                        cause};
            }
            queryStatus(request.get(), status);
            if (status != HTTP_STATUS_PROXY_AUTH_REQ) break;
            result.host = proxyName(session.get());
            logLine("GET " + url + ": HTTP 407, the proxy " + result.host + " asks for a sign-in");
            if (!signInOwner || prompts >= kSignInPrompts)
                return {Next::Stop, DownloadFailure::ProxySignIn, status};
            drain(request.get());
            const DWORD answer = InternetErrorDlg(
                signInOwner, request.get(), ERROR_INTERNET_INCORRECT_PASSWORD,
                FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA |
                    FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS,
                nullptr);
            if (answer != ERROR_INTERNET_FORCE_RETRY)
                return {Next::Stop, DownloadFailure::ProxySignIn, status};
        }
        result.host = host;

        const uint64_t length = queryContentLength(request.get());
        if (status == HTTP_STATUS_OK) {
            if (kept.offset > 0 && !startOver()) return {Next::Stop, DownloadFailure::Disk};
            const std::string etag = queryHeader(request.get(), HTTP_QUERY_ETAG);
            kept.validator = resumeValidator(etag, queryHeader(request.get(),
                                                               HTTP_QUERY_LAST_MODIFIED));
            kept.etag = kept.validator == etag ? etag : std::string();
            kept.total = exactSize ? maxDownloadBytes : length;
            kept.source = source;
        } else if (status == HTTP_STATUS_PARTIAL_CONTENT) {
            const std::string etag = queryHeader(request.get(), HTTP_QUERY_ETAG);
            const bool sameTag = etag.empty() || kept.etag.empty() || etag == kept.etag;
            if (!resuming || !sameTag ||
                !continuesAt(queryHeader(request.get(), HTTP_QUERY_CONTENT_RANGE), kept.offset,
                             kept.total)) {
                logLine("GET " + url + ": HTTP 206 for another range or file");
                return {startOver() ? Next::Retry : Next::Stop, DownloadFailure::Cut, status};
            }
            kept.source = source;
        } else if (status == 416) {
            logLine("GET " + url + ": HTTP 416");
            return {startOver() ? Next::Retry : Next::Stop, DownloadFailure::Cut, status};
        } else {
            logLine("GET " + url + ": HTTP " + std::to_string(status));
            if (isFinalStatus(status))
                return {Next::NextSource, DownloadFailure::HttpStatus, status};
            return {Next::Retry, DownloadFailure::HttpStatus, status,
                    parseRetryAfter(queryHeader(request.get(), HTTP_QUERY_RETRY_AFTER))};
        }

        // Neither a longer body than announced nor one past the file's limit is taken in; with
        // its exact size known, a body that ends short of it is a cut one.
        uint64_t sizeLimit = 0;
        const char* wrong = bodyEnd(kept.offset, length, maxDownloadBytes, exactSize, sizeLimit)
                                ? nullptr
                                : ", another length announced";
        const uint64_t end = exactSize || length != 0 ? sizeLimit : 0;
        deadlines.startTry(sizeLimit - kept.offset);
        const uint64_t startedAt = kept.offset;
        const DWORD started = GetTickCount();
        ProgressInfo info;
        info.totalBytes = kept.total;
        std::vector<char> buffer(kReadBufferSize);
        uint64_t bytesSinceReport = 0;
        uint64_t lastRate = 0;
        DWORD lastTick = started;
        DWORD stallWindowStart = started;
        uint64_t stallWindowBytes = 0;
        auto logged = [&](Step step, const char* how) {
            logLine("GET " + url + ": HTTP " + std::to_string(status) + ", " +
                    std::to_string(kept.offset - startedAt) + " bytes from byte " +
                    std::to_string(startedAt) + " in " +
                    std::to_string((GetTickCount() - started) / 1000.0) + " s" + how);
            return step;
        };
        while (!wrong) {
            if (cancelled)
                return logged({Next::Stop, DownloadFailure::Cancelled, status}, ", cancelled");
            // Asking what is there first lets a read return with what came instead of waiting
            // for a full buffer, so that stalls and cancels are seen.
            DWORD available = 0;
            if (!InternetQueryDataAvailable(request.get(), &available, 0, 0))
                return logged({Next::Retry, DownloadFailure::Cut, status}, ", cut off");
            DWORD received = 0;
            if (available > 0 &&
                !InternetReadFile(request.get(), buffer.data(),
                                  std::min<DWORD>(available, static_cast<DWORD>(buffer.size())),
                                  &received))
                return logged({Next::Retry, DownloadFailure::Cut, status}, ", cut off");
            if (received > 0) {
                result.bytesReceived += received;
                if (received > sizeLimit - kept.offset) {
                    wrong = ", too long";
                    break;
                }
                DWORD written = 0;
                // A full disk must not pass for a finished download.
                if (!WriteFile(file.get(), buffer.data(), received, &written, nullptr) ||
                    written != received)
                    return logged({Next::Stop, DownloadFailure::Disk, status}, ", not written");
                kept.offset += received;
                if (arrival && arrival->received &&
                    !arrival->received(reinterpret_cast<const uint8_t*>(buffer.data()),
                                       received)) {
                    wrong = ", bad bytes";
                    break;
                }
                bytesSinceReport += received;
                stallWindowBytes += received;
            }
            const DWORD now = GetTickCount();
            if (stallWindowBytes >= kProgressBytesPerStallLimit) {
                stallWindowStart = now;
                stallWindowBytes = 0;
            } else if (received != 0 && now - stallWindowStart >= stallLimitMs) {
                return logged({Next::Retry, DownloadFailure::Cut, status}, ", stalled");
            }
            // Past its time a try is cut like a stalled one; past the download's, it ends.
            const DownloadFailure late =
                received != 0 ? deadlines.overdue() : DownloadFailure::None;
            if (late != DownloadFailure::None)
                return logged({late == DownloadFailure::Cut ? Next::Retry : Next::Stop, late,
                               status},
                              ", past its time");
            const DWORD elapsed = now - lastTick;  // modulo 2^32: a wrap does no harm
            if (elapsed >= kReportIntervalMs) {
                lastRate = bytesSinceReport * 1000 / elapsed;
                bytesSinceReport = 0;
                lastTick = now;
                if (callback) {
                    info.downloadedBytes = kept.offset;
                    info.bytesPerSecond = lastRate;
                    info.percent = percentOf(kept.offset, kept.total);
                    if (!callback(info))
                        return logged({Next::Stop, DownloadFailure::Cancelled, status},
                                      ", cancelled");
                }
            }
            if (received == 0) break;
        }
        // A length or bytes the file cannot have: the source serves another file, and would
        // serve it again (a stale mirror, a poisoned cache on the way), so its further tries are
        // spared for the next source; nothing it sent is kept or resumed.
        if (wrong) {
            logged({}, wrong);
            return {startOver() ? Next::NextSource : Next::Stop, DownloadFailure::WrongFile,
                    status};
        }
        // A connection that ends before the announced length is a cut transfer, however it
        // ended.
        if (end != 0 && kept.offset < end)
            return logged({Next::Retry, DownloadFailure::Cut, status}, ", cut off");
        if (callback) {
            info.downloadedBytes = kept.offset;
            info.bytesPerSecond = lastRate;
            info.percent = kept.total != 0 ? 100 : -1;
            callback(info);
        }
        return logged({Next::Done, DownloadFailure::None, status}, "");
    };

    Step step;
    for (size_t source = 0; source < sources.size() && step.next != Next::Stop; ++source) {
        result.source = source;
        if (source > 0) logLine("Trying source " + std::to_string(source) + ": " + sources[source]);
        for (int attemptNo = 1; attemptNo <= schedule.triesPerSource; ++attemptNo) {
            result.tries = attemptNo;
            if (attemptNo > 1) {
                const uint32_t wait = retryWaitMs(schedule, attemptNo, step.retryAfter);
                logLine(retryStatusLine(step.cause, step.status, wait, attemptNo,
                                        schedule.triesPerSource));
                if (onRetry)
                    onRetry({step.cause, step.status, wait, attemptNo, schedule.triesPerSource,
                             source});
                const DWORD waitStart = GetTickCount();
                while (!cancelled && GetTickCount() - waitStart < wait) Sleep(20);
            }
            // A wait (a minute at most) may end past the download's time: no try follows then.
            const DownloadFailure over =
                cancelled ? DownloadFailure::Cancelled : deadlines.overdue();
            if (over == DownloadFailure::Cancelled || over == DownloadFailure::TimedOut) {
                step = {Next::Stop, over};
                break;
            }
            try {
                step = attempt(source);
            } catch (...) {
                step = {Next::Retry, DownloadFailure::NoConnection};
            }
            result.status = step.status;
            if (step.next != Next::Retry) break;
        }
        if (step.next == Next::Done) {
            result.complete = true;
            if (keep) *arrival->keep = std::move(file);
            return result;
        }
        if (step.next != Next::Stop) result.host = hostOf(sources[source]);
    }
    result.failure = step.cause == DownloadFailure::None ? DownloadFailure::NoConnection
                                                         : step.cause;
    if (result.failure != DownloadFailure::Cancelled) {
        // A failed download leaves nothing behind that could pass for one.
        file.reset();
        DeleteFileW(widePath.c_str());
    }
    return result;
}

}  // namespace tessaryn

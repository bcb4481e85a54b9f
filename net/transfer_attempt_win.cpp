#include "net/transfer_attempt_win.h"

#include "system/run_log.h"

#include <algorithm>

namespace tessaryn {

using namespace wininet_parts;

namespace {

// Prompts shown for one request before a 407 counts as a refusal.
constexpr int kSignInPrompts = 3;
// What is read of an answer that is not the file, before the request goes again.
constexpr DWORD kDrainLimit = 65536;

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

bool FetchTarget::startOver() {
    const bool anyBytes = kept.offset > 0;
    kept = Kept{};
    if (!anyBytes) return true;
    ++result.restarts;
    if (arrival && arrival->restarted) arrival->restarted();
    logLine("Download starts over from its first byte");
    return truncateTo(file, 0);
}

Step TransferAttempt::run(const std::string& url, size_t source) {
    url_ = &url;
    source_ = source;
    const std::optional<UrlParts> parts = splitUrl(url);
    if (!parts) return {Next::NextSource, DownloadFailure::NoConnection};
    if (std::optional<Step> failed = open(*parts)) return *failed;
    if (std::optional<Step> failed = send()) return *failed;
    target_.result.host = parts->host;
    if (std::optional<Step> failed = takeAnswer()) return *failed;
    return receive();
}

std::optional<Step> TransferAttempt::open(const UrlParts& url) {
    // A silent server is a stalled one: no wait for data outlasts the stall limit.
    link_ = openConnection(url, downloader_.userAgent, downloader_.timeoutMs,
                           std::min<DWORD>(downloader_.timeoutMs, downloader_.stallLimitMs));
    if (!link_.connection) return Step{Next::Retry, DownloadFailure::NoConnection};
    request_.reset(HttpOpenRequestA(link_.connection.get(), "GET", url.path.c_str(), "HTTP/1.1",
                                    nullptr, nullptr, requestFlags(url.secure), 0));
    if (!request_) return Step{Next::Retry, DownloadFailure::NoConnection};
    if (downloader_.disableCache)
        HttpAddRequestHeadersA(request_.get(), kCacheHeaders, kCacheHeadersLength, kAddOrReplace);
    // A range only of the answer the bytes came from, or one whose strong tag any source must
    // honour; anything else is asked for whole.
    const FetchTarget::Kept& kept = target_.kept;
    resuming_ = kept.offset > 0 && !kept.validator.empty() &&
                (kept.source == source_ || !kept.etag.empty());
    if (kept.offset > 0 && !resuming_ && !target_.startOver())
        return Step{Next::Stop, DownloadFailure::Disk};
    if (resuming_) {
        const std::string range = "Range: bytes=" + std::to_string(kept.offset) +
                                  "-\r\nIf-Range: " +
                                  (kept.source == source_ ? kept.validator : kept.etag) + "\r\n";
        HttpAddRequestHeadersA(request_.get(), range.c_str(), static_cast<DWORD>(range.size()),
                               kAddOrReplace);
    }
    return std::nullopt;
}

std::optional<Step> TransferAttempt::send() {
    for (int prompts = 0;; ++prompts) {
        if (!HttpSendRequestA(request_.get(), nullptr, 0, nullptr, 0)) {
            const DownloadFailure cause = sendFailure(GetLastError());
            // A refused certificate stays refused: no point in asking again.
            return Step{cause == DownloadFailure::Certificate ? Next::NextSource : Next::Retry,
                        cause};
        }
        queryStatus(request_.get(), status_);
        if (status_ != HTTP_STATUS_PROXY_AUTH_REQ) return std::nullopt;
        std::string& proxy = target_.result.host;
        proxy = proxyName(link_.session.get());
        logLine("GET " + *url_ + ": HTTP 407, the proxy " + proxy + " asks for a sign-in");
        if (!downloader_.signInOwner || prompts >= kSignInPrompts)
            return Step{Next::Stop, DownloadFailure::ProxySignIn, status_};
        drain(request_.get());
        const DWORD answer = InternetErrorDlg(
            downloader_.signInOwner, request_.get(), ERROR_INTERNET_INCORRECT_PASSWORD,
            FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA |
                FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS,
            nullptr);
        if (answer != ERROR_INTERNET_FORCE_RETRY)
            return Step{Next::Stop, DownloadFailure::ProxySignIn, status_};
    }
}

std::optional<Step> TransferAttempt::takeAnswer() {
    FetchTarget::Kept& kept = target_.kept;
    length_ = queryContentLength(request_.get());
    if (status_ == HTTP_STATUS_OK) {
        if (kept.offset > 0 && !target_.startOver()) return Step{Next::Stop, DownloadFailure::Disk};
        const std::string etag = queryHeader(request_.get(), HTTP_QUERY_ETAG);
        kept.validator =
            resumeValidator(etag, queryHeader(request_.get(), HTTP_QUERY_LAST_MODIFIED));
        kept.etag = kept.validator == etag ? etag : std::string();
        kept.total = downloader_.exactSize ? downloader_.maxDownloadBytes : length_;
        kept.source = source_;
        return std::nullopt;
    }
    if (status_ == HTTP_STATUS_PARTIAL_CONTENT) {
        const std::string etag = queryHeader(request_.get(), HTTP_QUERY_ETAG);
        const bool sameTag = etag.empty() || kept.etag.empty() || etag == kept.etag;
        if (resuming_ && sameTag &&
            continuesAt(queryHeader(request_.get(), HTTP_QUERY_CONTENT_RANGE), kept.offset,
                        kept.total)) {
            kept.source = source_;
            return std::nullopt;
        }
        logLine("GET " + *url_ + ": HTTP 206 for another range or file");
        return Step{target_.startOver() ? Next::Retry : Next::Stop, DownloadFailure::Cut, status_};
    }
    logLine("GET " + *url_ + ": HTTP " + std::to_string(status_));
    if (status_ == 416)
        return Step{target_.startOver() ? Next::Retry : Next::Stop, DownloadFailure::Cut, status_};
    if (isFinalStatus(status_)) return Step{Next::NextSource, DownloadFailure::HttpStatus, status_};
    return Step{Next::Retry, DownloadFailure::HttpStatus, status_,
                parseRetryAfter(queryHeader(request_.get(), HTTP_QUERY_RETRY_AFTER))};
}

Step TransferAttempt::receive() {
    const FetchTarget::Kept& kept = target_.kept;
    // Neither a longer body than announced nor one past the file's limit is taken in; with its
    // exact size known, a body that ends short of it is a cut one.
    const char* wrong = bodyEnd(kept.offset, length_, downloader_.maxDownloadBytes,
                                downloader_.exactSize, sizeLimit_)
                            ? nullptr
                            : ", another length announced";
    const uint64_t end = downloader_.exactSize || length_ != 0 ? sizeLimit_ : 0;
    deadlines_.startTry(sizeLimit_ - kept.offset);
    startedAt_ = kept.offset;
    started_ = lastTick_ = stallWindowStart_ = GetTickCount();
    buffer_.resize(kReadBufferSize);
    while (!wrong) {
        DWORD received = 0;
        if (std::optional<Step> stop = readSome(received, wrong)) return *stop;
        if (wrong) break;
        if (std::optional<Step> stop = watch(received)) return *stop;
        if (received == 0) break;
    }
    // A length or bytes the file cannot have: the source serves another file, and would serve
    // it again (a stale mirror, a poisoned cache on the way), so its further tries are spared
    // for the next source; nothing it sent is kept or resumed.
    if (wrong) {
        logged({}, wrong);
        return {target_.startOver() ? Next::NextSource : Next::Stop, DownloadFailure::WrongFile,
                status_};
    }
    // A connection that ends before the announced length is a cut transfer, however it ended.
    if (end != 0 && kept.offset < end)
        return logged({Next::Retry, DownloadFailure::Cut, status_}, ", cut off");
    if (callback_) report(kept.total != 0 ? 100 : -1);
    return logged({Next::Done, DownloadFailure::None, status_}, "");
}

std::optional<Step> TransferAttempt::readSome(DWORD& received, const char*& wrong) {
    if (downloader_.cancelled)
        return logged({Next::Stop, DownloadFailure::Cancelled, status_}, ", cancelled");
    // Asking what is there first lets a read return with what came instead of waiting for a
    // full buffer, so that stalls and cancels are seen.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request_.get(), &available, 0, 0) ||
        (available > 0 &&
         !InternetReadFile(request_.get(), buffer_.data(),
                           std::min<DWORD>(available, static_cast<DWORD>(buffer_.size())),
                           &received)))
        return logged({Next::Retry, DownloadFailure::Cut, status_}, ", cut off");
    if (received == 0) return std::nullopt;
    FetchTarget::Kept& kept = target_.kept;
    target_.result.bytesReceived += received;
    if (received > sizeLimit_ - kept.offset) {
        wrong = ", too long";
        return std::nullopt;
    }
    DWORD written = 0;
    // A full disk must not pass for a finished download.
    if (!WriteFile(target_.file, buffer_.data(), received, &written, nullptr) ||
        written != received)
        return logged({Next::Stop, DownloadFailure::Disk, status_}, ", not written");
    kept.offset += received;
    const FileDownloader::Arrival* arrival = target_.arrival;
    if (arrival && arrival->received &&
        !arrival->received(reinterpret_cast<const uint8_t*>(buffer_.data()), received)) {
        wrong = ", bad bytes";
        return std::nullopt;
    }
    bytesSinceReport_ += received;
    stallWindowBytes_ += received;
    return std::nullopt;
}

// After each read: a stall, the try's and the run's time, and the progress report.
std::optional<Step> TransferAttempt::watch(DWORD received) {
    const DWORD now = GetTickCount();
    if (stallWindowBytes_ >= kProgressBytesPerStallLimit) {
        stallWindowStart_ = now;
        stallWindowBytes_ = 0;
    } else if (received != 0 && now - stallWindowStart_ >= downloader_.stallLimitMs) {
        return logged({Next::Retry, DownloadFailure::Cut, status_}, ", stalled");
    }
    // Past its time a try is cut like a stalled one; past the download's, it ends.
    const DownloadFailure late = received != 0 ? deadlines_.overdue() : DownloadFailure::None;
    if (late != DownloadFailure::None)
        return logged({late == DownloadFailure::Cut ? Next::Retry : Next::Stop, late, status_},
                      ", past its time");
    const DWORD elapsed = now - lastTick_;  // modulo 2^32: a wrap does no harm
    if (elapsed < kReportIntervalMs) return std::nullopt;
    lastRate_ = bytesSinceReport_ * 1000 / elapsed;
    bytesSinceReport_ = 0;
    lastTick_ = now;
    const FetchTarget::Kept& kept = target_.kept;
    if (callback_ && !report(percentOf(kept.offset, kept.total)))
        return logged({Next::Stop, DownloadFailure::Cancelled, status_}, ", cancelled");
    return std::nullopt;
}

bool TransferAttempt::report(int32_t percent) const {
    FileDownloader::ProgressInfo info;
    info.totalBytes = target_.kept.total;
    info.downloadedBytes = target_.kept.offset;
    info.bytesPerSecond = lastRate_;
    info.percent = percent;
    return callback_(info);
}

Step TransferAttempt::logged(Step step, const char* how) const {
    logLine("GET " + *url_ + ": HTTP " + std::to_string(status_) + ", " +
            std::to_string(target_.kept.offset - startedAt_) + " bytes from byte " +
            std::to_string(startedAt_) + " in " +
            std::to_string((GetTickCount() - started_) / 1000.0) + " s" + how);
    return step;
}

}  // namespace tessaryn

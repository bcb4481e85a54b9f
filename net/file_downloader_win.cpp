#include "net/file_downloader.h"

#include "system/run_log.h"
#include "system/unicode_win.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace tessaryn {

namespace {

// Always from the origin, never into the cache, never a dialog.
constexpr DWORD kPlainRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                     INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;
#ifdef TESSARYN_INSECURE_TLS
// Only a build made for a staging host whose certificate is for another name or out of date.
constexpr DWORD kCertificateLeniency =
    INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
#else
// Anyone on the path holding some trusted certificate could otherwise answer for the host.
constexpr DWORD kCertificateLeniency = 0;
#endif
constexpr DWORD kSecureRequestFlags = kPlainRequestFlags | INTERNET_FLAG_SECURE |
                                      kCertificateLeniency;
static_assert(kPlainRequestFlags == 0x84000300);

constexpr char kCacheHeaders[] =
    "Cache-Control: no-cache, no-store, must-revalidate\r\nPragma: no-cache\r\nExpires: 0\r\n";
constexpr DWORD kCacheHeadersLength = sizeof(kCacheHeaders) - 1;
static_assert(kCacheHeadersLength == 82);
constexpr char kContentTypeHeader[] = "Content-Type: application/json\r\n";
static_assert(sizeof(kContentTypeHeader) - 1 == 32);
constexpr DWORD kAddOrReplace = HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE;

constexpr size_t kReadBufferSize = 65536;
constexpr DWORD kReportIntervalMs = 250;
constexpr int kSendAttempts = 3;
constexpr int kMaxRequestsPerPost = 10;
// Less than this within the stall limit is no progress: a byte now and then must not hold the
// setup for ever.
constexpr uint64_t kProgressBytesPerStallLimit = 16384;

DWORD requestFlags(bool secure) {
    return secure ? kSecureRequestFlags : kPlainRequestFlags;
}

// The status code as the platform gives it in text; 0 when it gives none.
bool queryStatus(HINTERNET request, long& status) {
    char text[16] = {};
    DWORD length = sizeof(text);
    DWORD index = 0;
    const BOOL ok = HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, text, &length, &index);
    status = std::strtol(text, nullptr, 10);
    return ok != FALSE;
}

uint64_t queryContentLength(HINTERNET request) {
    char text[64] = {};
    DWORD length = sizeof(text);
    DWORD index = 0;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, &index)) return 0;
    return std::strtoull(text, nullptr, 10);
}

bool isCertificateError(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
            return true;
        default:
            return false;
    }
}

int32_t percentOf(uint64_t done, uint64_t total) {
    return total == 0 ? -1 : static_cast<int32_t>(done * 100 / total);
}

}  // namespace

FileDownloader::FileDownloader(std::string agent, uint32_t timeout)
    : userAgent(std::move(agent)), timeoutMs(timeout) {}

void FileDownloader::cancel() noexcept {
    cancelled = true;
}

FileDownloader::~FileDownloader() {
    connection.reset();
    session.reset();
}

bool FileDownloader::parseUrl(const std::string& url, std::string& host, std::string& path,
                              uint16_t& port, bool& secure) {
    return splitUrl(url, host, path, port, secure);
}

bool FileDownloader::connect(const std::string& url) {
    connection.reset();
    session.reset();

    std::string host;
    std::string path;
    uint16_t port = 0;
    bool secure = false;
    if (!parseUrl(url, host, path, port, secure))
        throw std::runtime_error("Failed to parse URL: " + url);

    session.reset(
        InternetOpenA(userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) throw std::runtime_error("Failed to initialize WinINet");

    DWORD timeout = timeoutMs;
    InternetSetOptionW(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
    // A silent server is a stalled one: no wait for data outlasts the stall limit.
    DWORD receiveTimeout = std::min<DWORD>(timeoutMs, stallLimitMs);
    InternetSetOptionW(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout,
                       sizeof(receiveTimeout));
    InternetSetOptionW(session.get(), INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout));

    connection.reset(InternetConnectA(session.get(), host.c_str(), port, nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) throw std::runtime_error("Failed to connect to server: " + host);
    return true;
}

UniqueInternet FileDownloader::openGetRequest(const std::string& url, const std::string& path) {
    std::string host;
    std::string ignoredPath;
    uint16_t port = 0;
    bool secure = false;
    if (!parseUrl(url, host, ignoredPath, port, secure)) return UniqueInternet();
    return UniqueInternet(HttpOpenRequestA(connection.get(), "GET", path.c_str(), "HTTP/1.1",
                                           nullptr, nullptr, requestFlags(secure), 0));
}

bool FileDownloader::receiveToFile(HINTERNET request, const std::string& filePath,
                                   ProgressCallback callback, const Arrival* arrival) {
    // The path is UTF-8 like every text of the program: the temporary folder of a user with a
    // non-ASCII name cannot be named in the ANSI code page.
    const std::wstring widePath = toWide(filePath);
    const bool kept = arrival && arrival->keep;
    // A file kept for use is a new one: one that existed could be open elsewhere for writing.
    if (kept) DeleteFileW(widePath.c_str());
    const DWORD access = kept ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    UniqueFile file(CreateFileW(widePath.c_str(), access, FILE_SHARE_READ, nullptr,
                                kept ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error("Failed to open file for writing: " + filePath);

    // A cut transfer leaves nothing behind that could pass for a download.
    auto discardFile = [&] {
        file.reset();
        DeleteFileW(widePath.c_str());
        return false;
    };

    ProgressInfo info;
    info.totalBytes = queryContentLength(request);
    // Neither a longer body than announced nor one past the build's limit is taken in.
    const uint64_t sizeLimit =
        info.totalBytes != 0 ? std::min(info.totalBytes, maxDownloadBytes) : maxDownloadBytes;
    if (info.totalBytes > maxDownloadBytes) return discardFile();
    std::vector<char> buffer(kReadBufferSize);
    uint64_t bytesSinceReport = 0;
    uint64_t lastRate = 0;
    DWORD lastTick = GetTickCount();
    DWORD stallWindowStart = lastTick;
    uint64_t stallWindowBytes = 0;

    for (;;) {
        if (cancelled) return false;  // the file keeps what arrived
        // Asking what is there first lets a read return with what came instead of waiting for a
        // full buffer, so that stalls and cancels are seen.
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) return discardFile();
        DWORD received = 0;
        if (available > 0 &&
            !InternetReadFile(request, buffer.data(),
                              std::min<DWORD>(available, static_cast<DWORD>(buffer.size())),
                              &received))
            return discardFile();
        if (received > 0) {
            if (received > sizeLimit - info.downloadedBytes) return discardFile();
            DWORD written = 0;
            // A full disk must not pass for a finished download.
            if (!WriteFile(file.get(), buffer.data(), received, &written, nullptr) ||
                written != received)
                return discardFile();
            if (arrival && arrival->received)
                arrival->received(reinterpret_cast<const uint8_t*>(buffer.data()), received);
            info.downloadedBytes += received;
            bytesSinceReport += received;
            stallWindowBytes += received;
        }

        const DWORD now = GetTickCount();
        if (stallWindowBytes >= kProgressBytesPerStallLimit) {
            stallWindowStart = now;
            stallWindowBytes = 0;
        } else if (received != 0 && now - stallWindowStart >= stallLimitMs) {
            return discardFile();
        }
        const DWORD elapsed = now - lastTick;  // modulo 2^32: a wrap of the counter does no harm
        if (elapsed >= kReportIntervalMs) {
            lastRate = bytesSinceReport * 1000 / elapsed;
            bytesSinceReport = 0;
            lastTick = now;
            if (callback) {
                info.bytesPerSecond = lastRate;
                info.percent = percentOf(info.downloadedBytes, info.totalBytes);
                if (!callback(info)) return false;  // the file keeps what arrived
            }
        }
        if (received == 0) break;
    }
    // A connection that ends before the announced length is a cut transfer, however it ended.
    if (info.totalBytes != 0 && info.downloadedBytes < info.totalBytes) return discardFile();

    if (callback) {
        info.bytesPerSecond = lastRate;
        info.percent = info.totalBytes != 0 ? 100 : -1;
        callback(info);
    }
    if (kept) *arrival->keep = std::move(file);
    return true;
}

bool FileDownloader::downloadFile(const std::string& url, const std::string& filePath,
                                  ProgressCallback callback, const Arrival* arrival) {
    try {
        connect(url);
        std::string host;
        std::string path;
        uint16_t port = 0;
        bool secure = false;
        parseUrl(url, host, path, port, secure);

        UniqueInternet request = openGetRequest(url, path);
        if (!request) throw std::runtime_error("Failed to create HTTP request");
        if (disableCache)
            HttpAddRequestHeadersA(request.get(), kCacheHeaders, kCacheHeadersLength,
                                   kAddOrReplace);

        bool sent = false;
        for (int attempt = 1; attempt <= kSendAttempts && !sent; ++attempt) {
            sent = HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0) != FALSE;
            // A refused certificate stays refused: no point in asking again.
            if (!sent && isCertificateError(GetLastError())) break;
            if (!sent) Sleep(static_cast<DWORD>(attempt) * 1000);
        }
        if (!sent) throw std::runtime_error("Failed to send HTTP request");

        long status = 0;
        queryStatus(request.get(), status);
        if (status != 200) {
            logLine("GET " + url + ": HTTP " + std::to_string(status));
            throw std::runtime_error("HTTP error: " + std::to_string(status));
        }

        const DWORD started = GetTickCount();
        uint64_t bytes = 0;
        ProgressCallback reports = [&bytes, callback](const ProgressInfo& info) {
            bytes = info.downloadedBytes;
            return !callback || callback(info);
        };
        const bool complete =
            receiveToFile(request.get(), filePath, std::move(reports), arrival);
        logLine("GET " + url + ": HTTP 200, " + std::to_string(bytes) + " bytes in " +
                std::to_string((GetTickCount() - started) / 1000.0) + " s" +
                (complete ? "" : ", cut off"));
        return complete;
    } catch (const std::exception&) {
        throw;
    } catch (...) {
        throw std::runtime_error("Unknown error during download");
    }
}

std::string FileDownloader::postJson(const std::string& url, const std::string& body,
                                     const char* headerName, std::string* headerValue) {
    try {
        std::string currentUrl = url;
        for (int hop = 0; hop < kMaxRequestsPerPost; ++hop) {
            connect(currentUrl);
            std::string host;
            std::string path;
            uint16_t port = 0;
            bool secure = false;
            if (!parseUrl(currentUrl, host, path, port, secure))
                throw std::runtime_error("Failed to parse URL");

            // Redirects are followed here, not by the platform, so that the body goes to every
            // hop as a POST and the hops are counted.
            UniqueInternet request(HttpOpenRequestA(
                connection.get(), "POST", path.c_str(), "HTTP/1.1", nullptr, nullptr,
                requestFlags(secure) | INTERNET_FLAG_NO_AUTO_REDIRECT, 0));
            if (!request) throw std::runtime_error("Failed to create HTTP request");

            const std::string agentHeader = "User-Agent: " + userAgent + "\r\n";
            if (!HttpAddRequestHeadersA(request.get(), agentHeader.c_str(),
                                        static_cast<DWORD>(agentHeader.size()), kAddOrReplace))
                throw std::runtime_error("Failed to add User-Agent header");
            if (!HttpAddRequestHeadersA(request.get(), kContentTypeHeader,
                                        sizeof(kContentTypeHeader) - 1, kAddOrReplace))
                throw std::runtime_error("Failed to add Content-Type header");
            if (disableCache && !HttpAddRequestHeadersA(request.get(), kCacheHeaders,
                                                        kCacheHeadersLength, kAddOrReplace))
                throw std::runtime_error("Failed to add cache headers");

            if (!HttpSendRequestA(request.get(), nullptr, 0, const_cast<char*>(body.data()),
                                  static_cast<DWORD>(body.size())))
                throw std::runtime_error("Failed to send POST request");

            long status = 0;
            if (!queryStatus(request.get(), status))
                throw std::runtime_error("Failed to get status code");

            if (status == 200) {
                if (headerName && headerValue) {
                    // HTTP_QUERY_CUSTOM takes the name in the buffer and gives back the value.
                    char value[512] = {};
                    const size_t nameLength = std::strlen(headerName);
                    if (nameLength >= sizeof value) throw std::runtime_error("Header name too long");
                    std::memcpy(value, headerName, nameLength + 1);
                    DWORD length = sizeof value - 1;
                    headerValue->clear();
                    if (HttpQueryInfoA(request.get(), HTTP_QUERY_CUSTOM, value, &length, nullptr))
                        headerValue->assign(value, length);
                }
                std::string answer;
                std::vector<char> buffer(kReadBufferSize);
                DWORD received = 0;
                while (InternetReadFile(request.get(), buffer.data(),
                                        static_cast<DWORD>(buffer.size()), &received) &&
                       received > 0) {
                    // An answer is a few hundred bytes; a larger one is not kept at all.
                    if (received > maxAnswerBytes - answer.size())
                        throw std::runtime_error("Answer too large");
                    answer.append(buffer.data(), received);
                }
                return answer;
            }
            if (status < 300 || status >= 400)
                throw std::runtime_error("HTTP error: " + std::to_string(status));

            char location[2048] = {};
            DWORD length = sizeof(location);
            if (!HttpQueryInfoA(request.get(), HTTP_QUERY_LOCATION, location, &length, nullptr))
                throw std::runtime_error("Redirect without Location header");
            request.reset();
            currentUrl = resolveLocation(currentUrl, location);
        }
        throw std::runtime_error("Too many redirects");
    } catch (const std::exception&) {
        throw;
    } catch (...) {
        throw std::runtime_error("Unknown error during POST request");
    }
}

}  // namespace tessaryn

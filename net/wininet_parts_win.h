#pragma once
// Request flags, headers and answer queries that every WinINet request of the downloader shares.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/url.h"
#include "system/handles_win.h"

namespace tessaryn::wininet_parts {

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
constexpr int kMaxRequestsPerPost = 10;
// Less than this within the stall limit is no progress: a byte now and then must not hold the
// setup for ever.
constexpr uint64_t kProgressBytesPerStallLimit = 16384;

// A session and its connection to one host, closed together.
struct Connection {
    UniqueInternet session;
    UniqueInternet connection;
};

// A session with these timeouts (no wait for data outlasts `receiveTimeoutMs`) connected to the
// address's host; null handles (the error in GetLastError) when either cannot be made.
Connection openConnection(const UrlParts& url, const std::string& userAgent, DWORD timeoutMs,
                          DWORD receiveTimeoutMs);

inline DWORD requestFlags(bool secure) {
    return secure ? kSecureRequestFlags : kPlainRequestFlags;
}

// The status code as the platform gives it in text; 0 when it gives none.
inline bool queryStatus(HINTERNET request, long& status) {
    char text[16] = {};
    DWORD length = sizeof(text);
    DWORD index = 0;
    const BOOL ok = HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, text, &length, &index);
    status = std::strtol(text, nullptr, 10);
    return ok != FALSE;
}

inline uint64_t queryContentLength(HINTERNET request) {
    char text[64] = {};
    DWORD length = sizeof(text);
    DWORD index = 0;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, &index)) return 0;
    return std::strtoull(text, nullptr, 10);
}

inline bool isCertificateError(DWORD error) {
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

inline int32_t percentOf(uint64_t done, uint64_t total) {
    return total == 0 ? -1 : static_cast<int32_t>(done * 100 / total);
}

// One header of the answer as text; empty when absent or longer than 1 KiB.
inline std::string queryHeader(HINTERNET request, DWORD which) {
    char text[1024] = {};
    DWORD length = sizeof(text) - 1;
    DWORD index = 0;
    if (!HttpQueryInfoA(request, which, text, &length, &index)) return {};
    return std::string(text, length);
}

}  // namespace tessaryn::wininet_parts

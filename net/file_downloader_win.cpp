#include "net/file_downloader.h"

#include "net/wininet_parts_win.h"

#include "system/run_log.h"
#include "system/unicode_win.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace tessaryn {

using namespace wininet_parts;

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

bool FileDownloader::downloadFile(const std::string& url, const std::string& filePath,
                                  ProgressCallback callback, const Arrival* arrival) {
    RetrySchedule once;
    once.triesPerSource = 1;
    return fetch({url}, filePath, std::move(callback), arrival, once).complete;
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

#include "net/json_post_win.h"

#include "net/wininet_parts_win.h"

#include <cstring>
#include <stdexcept>
#include <vector>

namespace tessaryn {

using namespace wininet_parts;

namespace {

void addHeader(HINTERNET request, const char* text, size_t length, const char* what) {
    if (!HttpAddRequestHeadersA(request, text, static_cast<DWORD>(length), kAddOrReplace))
        throw std::runtime_error(std::string("Failed to add ") + what + " header");
}

UniqueInternet sendPost(const Connection& to, const UrlParts& url, const std::string& body,
                        const JsonPost& how) {
    // Redirects are followed here, not by the platform, so that the body goes to every hop as a
    // POST and the hops are counted.
    UniqueInternet request(HttpOpenRequestA(to.connection.get(), "POST", url.path.c_str(),
                                            "HTTP/1.1", nullptr, nullptr,
                                            requestFlags(url.secure) |
                                                INTERNET_FLAG_NO_AUTO_REDIRECT,
                                            0));
    if (!request) throw std::runtime_error("Failed to create HTTP request");
    const std::string agentHeader = "User-Agent: " + how.userAgent + "\r\n";
    addHeader(request.get(), agentHeader.c_str(), agentHeader.size(), "User-Agent");
    addHeader(request.get(), kContentTypeHeader, sizeof(kContentTypeHeader) - 1, "Content-Type");
    if (how.disableCache) addHeader(request.get(), kCacheHeaders, kCacheHeadersLength, "cache");
    if (!HttpSendRequestA(request.get(), nullptr, 0, const_cast<char*>(body.data()),
                          static_cast<DWORD>(body.size())))
        throw std::runtime_error("Failed to send POST request");
    return request;
}

JsonAnswer readAnswer(HINTERNET request, const JsonPost& how) {
    JsonAnswer answer;
    if (how.headerName) {
        // HTTP_QUERY_CUSTOM takes the name in the buffer and gives back the value.
        char value[512] = {};
        const size_t nameLength = std::strlen(how.headerName);
        if (nameLength >= sizeof value) throw std::runtime_error("Header name too long");
        std::memcpy(value, how.headerName, nameLength + 1);
        DWORD length = sizeof value - 1;
        if (HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, value, &length, nullptr))
            answer.header.assign(value, length);
    }
    std::vector<char> buffer(kReadBufferSize);
    DWORD received = 0;
    while (InternetReadFile(request, buffer.data(), static_cast<DWORD>(buffer.size()),
                            &received) &&
           received > 0) {
        // An answer is a few hundred bytes; a larger one is not kept at all.
        if (received > how.maxAnswerBytes - answer.body.size())
            throw std::runtime_error("Answer too large");
        answer.body.append(buffer.data(), received);
    }
    return answer;
}

}  // namespace

JsonAnswer postJson(const std::string& url, const std::string& body, const JsonPost& how) {
    std::string currentUrl = url;
    for (int hop = 0; hop < kMaxRequestsPerPost; ++hop) {
        const std::optional<UrlParts> parts = splitUrl(currentUrl);
        if (!parts) throw std::runtime_error("Failed to parse URL: " + currentUrl);
        const Connection to = openConnection(*parts, how.userAgent, how.timeoutMs, how.timeoutMs);
        if (!to.session) throw std::runtime_error("Failed to initialize WinINet");
        if (!to.connection) throw std::runtime_error("Failed to connect to server: " + parts->host);
        const UniqueInternet request = sendPost(to, *parts, body, how);
        long status = 0;
        if (!queryStatus(request.get(), status))
            throw std::runtime_error("Failed to get status code");
        if (status == 200) return readAnswer(request.get(), how);
        if (status < 300 || status >= 400)
            throw std::runtime_error("HTTP error: " + std::to_string(status));
        char location[2048] = {};
        DWORD length = sizeof(location);
        if (!HttpQueryInfoA(request.get(), HTTP_QUERY_LOCATION, location, &length, nullptr))
            throw std::runtime_error("Redirect without Location header");
        currentUrl = resolveLocation(currentUrl, location);
    }
    throw std::runtime_error("Too many redirects");
}

}  // namespace tessaryn

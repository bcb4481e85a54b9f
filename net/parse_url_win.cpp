#include <windows.h>
#include <wininet.h>

#include "net/url.h"

namespace tessaryn {

bool splitUrl(const std::string& url, std::string& host, std::string& path, uint16_t& port,
              bool& secure) {
    char hostBuffer[256] = {};
    char pathBuffer[2048] = {};
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = hostBuffer;
    parts.dwHostNameLength = sizeof(hostBuffer);
    parts.lpszUrlPath = pathBuffer;
    parts.dwUrlPathLength = sizeof(pathBuffer);
    if (!InternetCrackUrlA(url.c_str(), 0, 0, &parts)) return false;
    host = hostBuffer;
    path = pathBuffer;
    port = parts.nPort;
    secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

}  // namespace tessaryn

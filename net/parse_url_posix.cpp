// Stands in for the WinINet splitter where there is none: http and https URLs only, the scheme
// name in any case, the query kept as part of the path as the platform splitter does.
#include <cstdlib>

#include "net/url.h"
#include "system/ascii_text.h"

namespace tessaryn {

bool splitUrl(const std::string& url, std::string& host, std::string& path, uint16_t& port,
              bool& secure) {
    bool isSecure = false;
    size_t rest = 0;
    if (startsWithIgnoringAsciiCase(url, "https://")) {
        isSecure = true;
        rest = 8;
    } else if (startsWithIgnoringAsciiCase(url, "http://")) {
        rest = 7;
    } else {
        return false;
    }
    const size_t authorityEnd = url.find_first_of("/?#", rest);
    const std::string authority = url.substr(
        rest, authorityEnd == std::string::npos ? std::string::npos : authorityEnd - rest);
    std::string hostPart = authority;
    uint16_t portNumber = isSecure ? 443 : 80;
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos) {
        hostPart = authority.substr(0, colon);
        const std::string digits = authority.substr(colon + 1);
        if (!digits.empty()) {
            if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
                return false;
            const unsigned long value = std::strtoul(digits.c_str(), nullptr, 10);
            if (value > 65535) return false;
            portNumber = static_cast<uint16_t>(value);
        }
    }
    if (hostPart.empty() || hostPart.size() >= 256) return false;
    std::string pathPart = authorityEnd == std::string::npos ? "" : url.substr(authorityEnd);
    if (pathPart.size() >= 2048) return false;

    host = hostPart;
    path = pathPart;
    port = portNumber;
    secure = isSecure;
    return true;
}

}  // namespace tessaryn

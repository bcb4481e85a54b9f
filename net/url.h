#pragma once
// URL splitting and redirect resolution, portable and with no platform splitter behind them, so
// that every platform reads an address the same way.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessaryn {

// An http or https address as a request needs it.
struct UrlParts {
    std::string host;  // as written; a bracketed IPv6 literal keeps its brackets
    std::string path;  // from the first '/', '?' or '#' on, query and fragment kept; may be empty
    uint16_t port = 0;  // explicit, else the scheme's default; never 0
    bool secure = false;  // https
};

// Nothing for anything but an http or https URL (scheme in any case) with a host of fewer than
// 256 characters, a port from 1 to 65535 and a path of fewer than 2048 characters. A user name
// or password in the address is refused: the download hosts take none, and "a.example@b.example"
// names b.example, not the host a reader sees first.
std::optional<UrlParts> splitUrl(std::string_view url);

// The URL's host, or the URL itself when it cannot be split.
std::string hostOf(const std::string& url);

// The absolute URL to request after a redirect from `requestedUrl` to `location`.
std::string resolveLocation(const std::string& requestedUrl, const std::string& location);

}  // namespace tessaryn

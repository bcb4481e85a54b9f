#pragma once
// URL splitting and redirect resolution. Portable: the splitter has a WinINet twin
// (parse_url_win.cpp) and a plain one (parse_url_posix.cpp) with the same contract.
#include <cstdint>
#include <string>

namespace tessaryn {

// Splits an http or https URL into host, path (with any query), port (explicit, else the scheme's
// default) and whether the scheme is https. Returns false, leaving the outputs alone, when the URL
// cannot be split.
[[nodiscard]]
bool splitUrl(const std::string& url, std::string& host, std::string& path, uint16_t& port,
              bool& secure);

// The absolute URL to request after a redirect from `requestedUrl` to `location`.
std::string resolveLocation(const std::string& requestedUrl, const std::string& location);

}  // namespace tessaryn

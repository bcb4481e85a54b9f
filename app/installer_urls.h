#pragma once
// The addresses of one run, formed from the product name and the server origin.
#include <string>
#include <vector>

#include "app/setup_settings.h"

namespace tessaryn {

struct InstallerUrls {
    std::string dat;      // origin + "/installers/" + product name in lower case + ".dat"
    std::string pak;      // the same with ".pak"
    std::string metrics;  // origin + "/installers/metrics"
};

// `origin` (scheme and host, a closing slash dropped) + "/installers/" + the product name with A-Z
// lower-cased byte by byte + extension, for example ".../installers/tessaryn.pak".
std::string buildDownloadUrl(std::string origin, const std::string& productName,
                             const std::string& extension);

InstallerUrls installerUrls(const std::string& origin, const std::string& productName);

// At most this many mirrors are used, each at most kLongestMirror bytes long.
inline constexpr size_t kMostMirrors = 8;
inline constexpr size_t kLongestMirror = 2048;

// The settings' "mirrors": full http or https addresses of the same package, in order. Entries
// that are no such address (another scheme, no host, a space or control character, too long,
// not a string) and those past kMostMirrors are left out, each with a log line.
std::vector<std::string> packageMirrors(const SetupSettings& settings);

}  // namespace tessaryn

#pragma once
// The addresses of one run, formed from the product name and the server origin.
#include <string>

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

// Sets datUrl, pakUrl and metricsUrl of the process-wide state. Called after the command line
// has been read, so that a "/URL:" override reaches every address.
void formInstallerUrls();

}  // namespace tessaryn

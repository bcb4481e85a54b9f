#pragma once
// The addresses of one run, formed from the product name and the server origin.
#include <string>

namespace tessaryn {

// Server origin + "/installers/" + product name in lower case + extension (".dat", ".pak").
std::string makeInstallerUrl(const std::string& extension);

// Server origin + "/installers/metrics".
std::string makeMetricsUrl();

// Sets datUrl, pakUrl and metricsUrl of the process-wide state. Called after the command line
// has been read, so that a "/URL:" override reaches every address.
void formInstallerUrls();

}  // namespace tessaryn

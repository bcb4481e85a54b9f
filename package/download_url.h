#pragma once
// Addresses of the files that setup fetches from the web host.
#include <string>

namespace tessaryn {

// `origin` (scheme and host, a closing slash dropped) + "/installers/" + the product name with A-Z
// lower-cased byte by byte + extension, for example ".../installers/tessaryn.pak".
std::string buildDownloadUrl(std::string origin, const std::string& productName,
                             const std::string& extension);

}  // namespace tessaryn

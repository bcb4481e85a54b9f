#include "package/download_url.h"

#include "system/ascii_text.h"

namespace tessaryn {

std::string buildDownloadUrl(std::string origin, const std::string& productName,
                             const std::string& extension) {
    // An override written with a closing slash must not give "//installers".
    while (!origin.empty() && origin.back() == '/') origin.pop_back();
    return origin + "/installers/" + lowerCaseAscii(productName) + extension;
}

}  // namespace tessaryn

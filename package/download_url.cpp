#include "package/download_url.h"

namespace tessaryn {

std::string buildDownloadUrl(std::string origin, const std::string& productName,
                             const std::string& extension) {
    // An override written with a closing slash must not give "//installers".
    while (!origin.empty() && origin.back() == '/') origin.pop_back();
    return origin + "/installers/" + lowerCaseAscii(productName) + extension;
}

std::string lowerCaseAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace tessaryn

#include "app/installer_urls.h"

#include <algorithm>

#include "system/ascii_text.h"
#include "system/run_log.h"
#include "system/web_address.h"

namespace tessaryn {

std::string buildDownloadUrl(std::string origin, const std::string& productName,
                             const std::string& extension) {
    // An override written with a closing slash must not give "//installers".
    while (!origin.empty() && origin.back() == '/') origin.pop_back();
    return origin + "/installers/" + lowerCaseAscii(productName) + extension;
}

InstallerUrls installerUrls(const std::string& origin, const std::string& productName) {
    // The event address lives beside the installer files: ".../installers/metrics".
    return {buildDownloadUrl(origin, productName, ".dat"),
            buildDownloadUrl(origin, productName, ".pak"), buildDownloadUrl(origin, "metrics", "")};
}

std::vector<std::string> packageMirrors(const SetupSettings& settings) {
    std::vector<std::string> mirrors;
    const nlohmann::json* list = settings.find("mirrors");
    if (!list) return mirrors;
    if (!list->is_array()) {
        logLine("Setting \"mirrors\" is not a list: ignored");
        return mirrors;
    }
    size_t index = 0;
    for (const nlohmann::json& entry : *list) {
        ++index;
        // get_ptr, which never throws: nothing of the parser's exceptions in the setup.
        const std::string* address = entry.get_ptr<const std::string*>();
        // Goes into a request line: a space or control character could end it early.
        const bool plain = address && address->size() <= kLongestMirror &&
                           std::none_of(address->begin(), address->end(), [](char c) {
                               return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
                           });
        if (!plain || !isWebAddress(*address)) {
            logLine("Mirror " + std::to_string(index) +
                    " is no usable http or https address: ignored");
        } else if (mirrors.size() == kMostMirrors) {
            logLine("Mirror " + std::to_string(index) + " is past the first " +
                    std::to_string(kMostMirrors) + ": ignored");
        } else {
            mirrors.push_back(*address);
        }
    }
    return mirrors;
}

}  // namespace tessaryn

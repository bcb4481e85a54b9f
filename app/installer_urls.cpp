#include "app/installer_urls.h"

#include "app/setup_state.h"
#include "system/ascii_text.h"

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

void formInstallerUrls() {
    SetupState& state = setupState();
    InstallerUrls urls = installerUrls(serverOrigin(), state.productName);
    state.datUrl = std::move(urls.dat);
    state.pakUrl = std::move(urls.pak);
    state.metricsUrl = std::move(urls.metrics);
}

}  // namespace tessaryn

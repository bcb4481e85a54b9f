#include "app/installer_urls.h"

#include "app/setup_state.h"
#include "package/download_url.h"

namespace tessaryn {

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

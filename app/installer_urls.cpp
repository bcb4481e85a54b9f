#include "app/installer_urls.h"

#include "app/setup_state.h"
#include "package/download_url.h"

namespace tessaryn {

std::string makeInstallerUrl(const std::string& extension) {
    const SetupState state = setupState();
    return buildDownloadUrl(serverOrigin(), state.productName, extension);
}

// The event address lives beside the installer files: ".../installers/metrics".
std::string makeMetricsUrl() {
    return buildDownloadUrl(serverOrigin(), "metrics", "");
}

void formInstallerUrls() {
    std::string dat = makeInstallerUrl(".dat");
    std::string pak = makeInstallerUrl(".pak");
    SetupState& state = setupState();
    state.datUrl = std::move(dat);
    state.pakUrl = std::move(pak);
    state.metricsUrl = makeMetricsUrl();
}

}  // namespace tessaryn

#include "app/installer_urls.h"

#include "app/setup_state.h"

namespace tessaryn {

std::string makeInstallerUrl(const std::string& extension) {
    const SetupState state = setupState();
    std::string name = state.productName;
    // Byte by byte and ASCII only: UTF-8 sequences pass through unchanged.
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return serverOrigin() + "/installers/" + name + extension;
}

std::string makeMetricsUrl() {
    return serverOrigin() + "/installers/metrics";
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

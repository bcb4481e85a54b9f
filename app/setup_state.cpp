#include "app/setup_state.h"

#ifndef TESSARYN_WEB_HOST
#error "TESSARYN_WEB_HOST must name the product's web host"
#endif

namespace tessaryn {

SetupState& setupState() {
    static SetupState state;
    return state;
}

std::string& serverOverride() {
    static std::string value;
    return value;
}

const std::string& webHostName() {
    static const std::string host = TESSARYN_WEB_HOST;
    return host;
}

std::string serverOrigin() {
    const std::string& override = serverOverride();
    if (override.empty()) return "https://" + webHostName();
    if (override.rfind("http://", 0) == 0 || override.rfind("https://", 0) == 0) return override;
    return "https://" + override;
}

}  // namespace tessaryn

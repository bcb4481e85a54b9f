#include "app/web_origin.h"

#include "system/web_address.h"

#ifndef TESSARYN_WEB_HOST
#error "TESSARYN_WEB_HOST must name the product's web host"
#endif

namespace tessaryn {

const std::string& webHostName() {
    static const std::string host = TESSARYN_WEB_HOST;
    return host;
}

std::string originFor(const std::string& override) {
    if (override.empty()) return "https://" + webHostName();
    return withWebScheme(override);
}

}  // namespace tessaryn

#include "net/url.h"

#include <vector>

namespace tessaryn {

namespace {

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Joins a base folder and a relative reference, dropping empty and "." pieces and letting ".."
// remove the piece before it (never climbing above the root).
std::string walkRelative(const std::string& baseFolder, const std::string& location) {
    const std::string joined = baseFolder + location;
    std::vector<std::string> kept;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t slash = joined.find('/', start);
        if (slash == std::string::npos) slash = joined.size();
        std::string piece = joined.substr(start, slash - start);
        if (piece == "..") {
            if (!kept.empty()) kept.pop_back();
        } else if (!piece.empty() && piece != ".") {
            kept.push_back(std::move(piece));
        }
        start = slash + 1;
    }
    if (kept.empty()) return "/";
    std::string path;
    for (const std::string& piece : kept) path += "/" + piece;
    return path;
}

}  // namespace

std::string resolveLocation(const std::string& requestedUrl, const std::string& location) {
    if (startsWith(location, "http://") || startsWith(location, "https://")) return location;

    std::string host;
    std::string path;
    uint16_t port = 0;
    bool secure = false;
    // The requested address was fetched, so it splits.
    (void)splitUrl(requestedUrl, host, path, port, secure);

    std::string origin = (secure ? "https://" : "http://") + host;
    if (port != (secure ? 443 : 80)) origin += ":" + std::to_string(port);

    if (!location.empty() && location[0] == '/') return origin + location;

    const size_t lastSlash = path.rfind('/');
    const std::string baseFolder =
        lastSlash == std::string::npos ? "/" : path.substr(0, lastSlash + 1);
    return origin + walkRelative(baseFolder, location);
}

}  // namespace tessaryn

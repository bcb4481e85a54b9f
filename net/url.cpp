#include "net/url.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "system/ascii_text.h"

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

// "[literal]" or "[literal]:port" for a bracketed host, else "name" or "name:port"; an empty port
// is the default one.
bool splitAuthority(std::string_view authority, UrlParts& parts) {
    size_t hostEnd = authority.find(':');
    if (!authority.empty() && authority.front() == '[') {
        hostEnd = authority.find(']');
        if (hostEnd == std::string_view::npos || hostEnd == 1) return false;
        ++hostEnd;
        if (hostEnd < authority.size() && authority[hostEnd] != ':') return false;
    }
    const std::string_view host = authority.substr(0, hostEnd);
    if (host.empty() || host.size() >= 256) return false;
    parts.host = std::string(host);
    if (hostEnd >= authority.size() || hostEnd + 1 == authority.size()) return true;
    const std::string_view digits = authority.substr(hostEnd + 1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.size() > 5 ||
        value == 0 || value > 65535)
        return false;
    parts.port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

std::optional<UrlParts> splitUrl(std::string_view url) {
    UrlParts parts;
    if (startsWithIgnoringAsciiCase(url, "https://")) {
        parts.secure = true;
        url.remove_prefix(8);
    } else if (startsWithIgnoringAsciiCase(url, "http://")) {
        url.remove_prefix(7);
    } else {
        return std::nullopt;
    }
    parts.port = parts.secure ? 443 : 80;
    const size_t authorityEnd = std::min(url.find_first_of("/?#"), url.size());
    const std::string_view authority = url.substr(0, authorityEnd);
    if (authority.find('@') != std::string_view::npos || !splitAuthority(authority, parts))
        return std::nullopt;
    parts.path = std::string(url.substr(authorityEnd));
    if (parts.path.size() >= 2048) return std::nullopt;
    return parts;
}

std::string hostOf(const std::string& url) {
    const std::optional<UrlParts> parts = splitUrl(url);
    return parts ? parts->host : url;
}

std::string resolveLocation(const std::string& requestedUrl, const std::string& location) {
    if (startsWith(location, "http://") || startsWith(location, "https://")) return location;

    // The requested address was fetched, so it splits.
    const UrlParts requested = splitUrl(requestedUrl).value_or(UrlParts{});
    const std::string& path = requested.path;
    const bool secure = requested.secure;
    const uint16_t port = requested.port;
    std::string origin = (secure ? "https://" : "http://") + requested.host;
    if (port != (secure ? 443 : 80)) origin += ":" + std::to_string(port);

    if (!location.empty() && location[0] == '/') return origin + location;

    const size_t lastSlash = path.rfind('/');
    const std::string baseFolder =
        lastSlash == std::string::npos ? "/" : path.substr(0, lastSlash + 1);
    return origin + walkRelative(baseFolder, location);
}

}  // namespace tessaryn

#include "system/web_address.h"

#include <cctype>

namespace tessaryn {

namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

bool isWebAddress(std::string_view address) {
    size_t rest;
    if (startsWithIgnoringCase(address, "https://")) {
        rest = 8;
    } else if (startsWithIgnoringCase(address, "http://")) {
        rest = 7;
    } else {
        return false;
    }
    // A host must follow, and no control character may ride along to the shell.
    if (rest >= address.size() || address[rest] == '/' || address[rest] == '\\') return false;
    for (char c : address) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    }
    return true;
}

bool isPlainWebAddress(std::string_view address) {
    if (!isWebAddress(address)) return false;
    for (char c : address) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') ||
                           std::string_view("-._~:/?#[]@=+").find(c) != std::string_view::npos;
        if (!plain) return false;
    }
    return true;
}

}  // namespace tessaryn

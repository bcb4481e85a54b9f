#include "system/web_address.h"

#include "system/ascii_text.h"

namespace tessaryn {

bool isWebAddress(std::string_view address) {
    size_t rest;
    if (startsWithIgnoringAsciiCase(address, "https://")) {
        rest = 8;
    } else if (startsWithIgnoringAsciiCase(address, "http://")) {
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

std::string withWebScheme(std::string_view value) {
    if (value.rfind("http://", 0) == 0 || value.rfind("https://", 0) == 0)
        return std::string(value);
    return "https://" + std::string(value);
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

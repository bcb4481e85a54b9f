#include "system/ascii_text.h"

namespace tessaryn {

namespace {

std::string hexOf(const uint8_t* bytes, size_t size, const char (&digits)[17]) {
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowerCaseAscii(std::string text) {
    for (char& c : text) c = lowerAscii(c);
    return text;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

std::string upperHex(const uint8_t* bytes, size_t size) {
    return hexOf(bytes, size, "0123456789ABCDEF");
}

std::string lowerHex(const uint8_t* bytes, size_t size) {
    return hexOf(bytes, size, "0123456789abcdef");
}

}  // namespace tessaryn

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

namespace {

template <typename Char>
Char lowered(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename Char>
bool startsFolded(std::basic_string_view<Char> text, std::basic_string_view<Char> prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (lowered(text[i]) != lowered(prefix[i])) return false;
    }
    return true;
}

}  // namespace

char lowerAscii(char c) {
    return lowered(c);
}

std::string lowerCaseAscii(std::string text) {
    for (char& c : text) c = lowerAscii(c);
    return text;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsFolded(a, b);
}

bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    return startsFolded(text, prefix);
}

bool startsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view prefix) {
    return startsFolded(text, prefix);
}

std::string upperHex(const uint8_t* bytes, size_t size) {
    return hexOf(bytes, size, "0123456789ABCDEF");
}

std::string lowerHex(const uint8_t* bytes, size_t size) {
    return hexOf(bytes, size, "0123456789abcdef");
}

bool decodeHex(std::string_view text, uint8_t* bytes, size_t size, HexLetters letters) {
    const auto digit = [letters](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (letters == HexLetters::AnyCase && c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text.size() != 2 * size) return false;
    for (size_t i = 0; i < size; ++i) {
        const int high = digit(text[2 * i]);
        const int low = digit(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

}  // namespace tessaryn

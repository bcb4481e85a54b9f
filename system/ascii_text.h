#pragma once
// Byte-wise text helpers for the ASCII parts of UTF-8 text: switches, schemes, names. Bytes
// outside A-Z / a-z (UTF-8 sequences too) are never changed and compare only to themselves.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaryn {

char lowerAscii(char c);

// A-Z lower-cased byte by byte.
std::string lowerCaseAscii(std::string text);

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);
// The same over UTF-16 file names: only A-Z and a-z compare alike.
bool startsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view prefix);

// Two hex digits per byte, leading zeros kept.
std::string upperHex(const uint8_t* bytes, size_t size);
std::string lowerHex(const uint8_t* bytes, size_t size);

enum class HexLetters { AnyCase, LowerOnly };
// Exactly 2 * size hex digits into size bytes; any other length or character gives false (and
// bytes of no meaning). LowerOnly is for texts whose one written form is compared as text.
bool decodeHex(std::string_view text, uint8_t* bytes, size_t size,
               HexLetters letters = HexLetters::AnyCase);

}  // namespace tessaryn

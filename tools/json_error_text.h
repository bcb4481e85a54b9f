#pragma once
// The JSON parser's error, told in a publisher's words: where, what was expected, what was found.
#include <cstddef>
#include <string>

namespace tessaryn {

// parserMessage is the parser's own text and byte its 1-based position of the failing read
// (nlohmann::json::parse_error::byte). Returns "line L, column C: expected ..., found ...".
std::string jsonErrorText(const std::string& text, size_t byte, const std::string& parserMessage);

}  // namespace tessaryn

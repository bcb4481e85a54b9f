#pragma once
// Which addresses the program hands to the shell's browser: web pages only.
#include <string>
#include <string_view>

namespace tessaryn {

// True for "http://" and "https://" addresses with a host (scheme compared case-insensitively).
// Everything else - a program path, "file:", a share, "javascript:" - is not a web address.
bool isWebAddress(std::string_view address);

// A "/URL:" value as the origin of every address: as given when it starts with "http://" or
// "https://" (matched exactly), else "https://" + the value (a bare host).
std::string withWebScheme(std::string_view value);

}  // namespace tessaryn

#pragma once
// Which addresses the program hands to the shell's browser: web pages only.
#include <string_view>

namespace tessaryn {

// True for "http://" and "https://" addresses with a host (scheme compared case-insensitively).
// Everything else - a program path, "file:", a share, "javascript:" - is not a web address.
bool isWebAddress(std::string_view address);

}  // namespace tessaryn

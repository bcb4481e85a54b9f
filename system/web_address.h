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

// A web address made only of the characters of addresses that no command processor or argument
// splitter treats specially: letters, digits and - . _ ~ : / ? # [ ] @ = +. Passed on to another
// program only when it is such an address.
bool isPlainWebAddress(std::string_view address);

}  // namespace tessaryn

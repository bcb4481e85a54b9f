#pragma once
// Texts of the demonstration product's window, made from the files the setup installed beside it.
#include <string>
#include <string_view>

namespace tessaryn {

// The version named by the first line of "version.txt": a byte-order mark, surrounding blanks and
// the line end are dropped. Anything but a short run of printable ASCII yields an empty text, so
// that a damaged file cannot put arbitrary bytes into the window's title.
std::string versionFromFile(std::string_view content);

// "Tessaryn 1.0", or "Tessaryn" alone when the version is unknown.
std::string productTitle(std::string_view version);

// The body of the window: what the product is, where it lives and what its first run prepared.
std::string productMessage(std::string_view version, std::string_view installDir,
                           std::string_view firstRunNote);

}  // namespace tessaryn

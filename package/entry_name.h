#pragma once
// Confinement of bundle entry names to the destination folder.
#include <string>
#include <string_view>

namespace tessaryn {

// Why the entry name (already without its one optional leading "/") would place the entry
// outside the destination folder; empty when it stays inside.
std::string entryNameEscapeReason(const std::string& name);

// True for a name that Windows maps to a device whatever extension follows: CON, PRN, AUX, NUL,
// COM0-COM9 and LPT0-LPT9, also with the superscript digits 1, 2 and 3 (UTF-8), in any case of
// ASCII letters and with blanks before the extension.
bool isReservedDeviceName(std::string_view name);

}  // namespace tessaryn

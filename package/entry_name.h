#pragma once
// Confinement of bundle entry names to the destination folder.
#include <string>

namespace tessaryn {

// Why the entry name (already without its one optional leading "/") would place the entry
// outside the destination folder; empty when it stays inside.
std::string entryNameEscapeReason(const std::string& name);

}  // namespace tessaryn

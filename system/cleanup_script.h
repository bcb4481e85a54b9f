#pragma once
// The batch script with which the uninstaller removes itself and its folder after it has ended.
#include <string>

namespace tessaryn {

// The script's text with CR LF line ends: wait until the program's file is deleted, then
// remove the installation folder, then the script itself. The paths are inserted as given.
std::string cleanupScriptText(const std::string& programPath, const std::string& installDir);

}  // namespace tessaryn

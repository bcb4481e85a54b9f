#pragma once
// The string work behind the paths of a run: the role chosen by the program's name and the names
// of the setup information file and the package beside the executable.
#include <string>

namespace tessaryn {

// The uninstaller role is chosen by the exact base name "unins000".
bool isUninstallerBaseName(const std::wstring& baseName);

// productName + "-" when the name is longer than 2 bytes, else empty.
std::string localFilePrefix(const std::string& productName);

// "unins000.dat" in the uninstaller role, else the prefix + "setup.dat".
std::string localDatFileName(const std::string& productName, bool uninstallMode);

// The prefix + "setup.pak".
std::string localPakFileName(const std::string& productName);

}  // namespace tessaryn

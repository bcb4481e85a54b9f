#pragma once
// The string work behind the paths of a run: module path pieces and the names of the setup
// information file and the package beside the executable.
#include <string>

namespace tessaryn {

// The path up to, not including, the last "\" or "/"; the whole path when there is none.
std::wstring directoryOfPath(const std::wstring& path);

// The file name after the last separator, up to, not including, its first ".".
std::wstring baseNameOfPath(const std::wstring& path);

// The uninstaller role is chosen by the exact base name "unins000".
bool isUninstallerBaseName(const std::wstring& baseName);

// productName + "-" when the name is longer than 2 bytes, else empty.
std::string localFilePrefix(const std::string& productName);

// "unins000.dat" in the uninstaller role, else the prefix + "setup.dat".
std::string localDatFileName(const std::string& productName, bool uninstallMode);

// The prefix + "setup.pak".
std::string localPakFileName(const std::string& productName);

}  // namespace tessaryn

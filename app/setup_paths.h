#pragma once
// The string work behind the paths of a run: the role chosen by the program's name and the names
// of the setup information file and the package beside the executable.
#include <string>

namespace tessaryn {

// The uninstaller is the setup program copied into the install folder under this base name, with
// its setup information file beside it.
#define TESSARYN_UNINSTALLER_BASE_NAME "unins000"
inline constexpr wchar_t kUninstallerBaseName[] = L"" TESSARYN_UNINSTALLER_BASE_NAME;
inline constexpr wchar_t kUninstallerFileName[] = L"" TESSARYN_UNINSTALLER_BASE_NAME ".exe";
inline constexpr char kUninstallerDatFileName[] = TESSARYN_UNINSTALLER_BASE_NAME ".dat";
inline constexpr char kUninstallerFileNameUtf8[] = TESSARYN_UNINSTALLER_BASE_NAME ".exe";

// The uninstaller role is chosen by the exact base name kUninstallerBaseName.
bool isUninstallerBaseName(const std::wstring& baseName);

// productName + "-" when the name is longer than 2 bytes, else empty.
std::string localFilePrefix(const std::string& productName);

// kUninstallerDatFileName in the uninstaller role, else the prefix + "setup.dat".
std::string localDatFileName(const std::string& productName, bool uninstallMode);

// The machine-wide mutex of one product's setup and uninstaller runs: "Global\<product>.Setup".
std::string setupMutexName(const std::string& productName);

// The prefix + "setup.pak".
std::string localPakFileName(const std::string& productName);

}  // namespace tessaryn

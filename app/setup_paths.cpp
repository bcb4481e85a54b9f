#include "app/setup_paths.h"

namespace tessaryn {

std::wstring directoryOfPath(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

std::wstring baseNameOfPath(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    return name.substr(0, name.find(L'.'));
}

bool isUninstallerBaseName(const std::wstring& baseName) {
    return baseName == L"unins000";
}

std::string localFilePrefix(const std::string& productName) {
    return productName.size() > 2 ? productName + "-" : std::string();
}

std::string localDatFileName(const std::string& productName, bool uninstallMode) {
    return uninstallMode ? std::string("unins000.dat") : localFilePrefix(productName) + "setup.dat";
}

std::string localPakFileName(const std::string& productName) {
    return localFilePrefix(productName) + "setup.pak";
}

}  // namespace tessaryn

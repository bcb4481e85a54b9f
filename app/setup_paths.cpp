#include "app/setup_paths.h"

namespace tessaryn {

bool isUninstallerBaseName(const std::wstring& baseName) {
    return baseName == kUninstallerBaseName;
}

std::string localFilePrefix(const std::string& productName) {
    return productName.size() > 2 ? productName + "-" : std::string();
}

std::string localDatFileName(const std::string& productName, bool uninstallMode) {
    return uninstallMode ? std::string(kUninstallerDatFileName) : localFilePrefix(productName) + "setup.dat";
}

std::string localPakFileName(const std::string& productName) {
    return localFilePrefix(productName) + "setup.pak";
}

}  // namespace tessaryn

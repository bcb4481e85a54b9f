#include "app/setup_paths.h"

namespace tessaryn {

bool isUninstallerBaseName(const std::wstring& baseName) {
    return baseName == kUninstallerBaseName;
}

std::string localFilePrefix(const std::string& productName) {
    return productName.size() > 2 ? productName + "-" : std::string();
}

std::string localDatFileName(const std::string& productName, bool uninstallMode) {
    if (uninstallMode) return kUninstallerDatFileName;
    return localFilePrefix(productName) + "setup.dat";
}

std::string localPakFileName(const std::string& productName) {
    return localFilePrefix(productName) + "setup.pak";
}

std::string setupMutexName(const std::string& productName) {
    return "Global\\" + productName + ".Setup";
}

}  // namespace tessaryn

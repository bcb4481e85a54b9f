#include "ui/theme_win.h"

#include "system/handles_win.h"

namespace tessaryn {

bool isDarkModeEnabled() {
    DWORD useLight = 0;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize", 0,
                      KEY_READ, key.put()) == ERROR_SUCCESS) {
        DWORD size = sizeof(useLight);
        RegQueryValueExW(key.get(), L"AppsUseLightTheme", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&useLight), &size);
    }
    return useLight == 0;
}

}  // namespace tessaryn

#include <windows.h>

#include "app/setup_settings.h"
#include "system/unicode_win.h"

namespace tessaryn {

std::string executableDirectory() {
    wchar_t buffer[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::string path = toUtf8(std::wstring(buffer, length));
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace tessaryn

#include "system/system_folder_win.h"

#include <stdexcept>

namespace tessaryn {

bool limitLibrarySearchToSystemFolder() {
    return ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

HMODULE loadSystemLibrary(const wchar_t* fileName) {
    return ::LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::wstring systemFolder() {
    wchar_t folder[MAX_PATH] = {};
    UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) throw std::runtime_error("The system folder is unknown");
    return std::wstring(folder, length);
}

std::wstring systemCommandProcessor() {
    return systemFolder() + L"\\cmd.exe";
}

}  // namespace tessaryn

// Stands in for the product in end-to-end runs: records that it was started, and where, then
// ends at once so that the run can be checked and the prefix shut down.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring marker(path);
    marker = marker.substr(0, marker.find_last_of(L'\\') + 1) + L"launched.txt";
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, folder, static_cast<DWORD>(wcslen(folder) * sizeof(wchar_t)), &written,
              nullptr);
    CloseHandle(file);
    return 0;
}

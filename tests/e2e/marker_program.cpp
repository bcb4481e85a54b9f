// Stands in for an old version's uninstaller (or any program the setup must not start): run, it
// appends its own path to C:\marker-ran.txt and ends.
#include <windows.h>

int wmain() {
    wchar_t self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    HANDLE marker = CreateFileW(L"C:\\marker-ran.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(marker, self, length * sizeof(wchar_t), &written, nullptr);
    CloseHandle(marker);
    return 0;
}

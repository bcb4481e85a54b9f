#pragma once
// What a planted stand-in does when it runs: appends its own path to C:\planted-ran.txt, so that
// a test sees any library or program of its that was loaded or started.
#include <windows.h>

inline void recordPlantedRun(HMODULE self) {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    HANDLE file = CreateFileW(L"C:\\planted-ran.txt", FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, path, length * sizeof(wchar_t), &written, nullptr);
    WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
}

// Stands in for a system library (dwmapi.dll, Msftedit.dll, ...) or program (cmd.exe) planted
// beside the setup or in its working folder. Loaded or started, it appends its own path to
// C:\planted-ran.txt, so that a test sees any of them that the setup used.
#include <windows.h>

namespace {

void recordPlantedRun(HMODULE self) {
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

}  // namespace

#ifdef TESSARYN_PLANTED_LIBRARY
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) recordPlantedRun(self);
    return TRUE;
}
#else
int main() {
    recordPlantedRun(nullptr);
    return 0;
}
#endif

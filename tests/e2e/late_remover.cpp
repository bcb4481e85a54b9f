// Stands in for an old version's uninstaller whose clean-up outlives it. Run as unins000.exe in
// the install folder, it starts a script and ends at once; the script removes the folder, then a
// few seconds later whatever has that name again, as a clean-up script still at work would.
#include <windows.h>

#include <string>

int wmain() {
    wchar_t self[MAX_PATH] = {};
    wchar_t system[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring folder = self;
    folder.erase(folder.find_last_of(L'\\'));
    const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
    const std::wstring removal = L"rmdir /s /q \"" + folder + L"\"";
    std::wstring line = L"cmd.exe /d /s /c \"ping -n 2 127.0.0.1 >nul & " + removal +
                        L" & ping -n 5 127.0.0.1 >nul & " + removal + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, system, &startup, &info))
        return 1;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
}

#include "app/terminate_processes_win.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwctype>

#include "system/handles_win.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

std::wstring lowerCase(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The first module of a process is its executable; empty when its modules cannot be read.
std::wstring executableOf(DWORD processId) {
    UniqueFile modules(
        CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId));
    if (!modules) return {};
    MODULEENTRY32W module{};
    module.dwSize = sizeof(module);
    if (!Module32FirstW(modules.get(), &module)) return {};
    return module.szExePath;
}

}  // namespace

void terminateProcessesInDirectory(const std::string& directory) {
    std::wstring prefix = toWide(directory);
    if (prefix.empty() || (prefix.back() != L'\\' && prefix.back() != L'/')) prefix += L'\\';
    prefix = lowerCase(prefix);

    UniqueFile processes(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!processes) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32FirstW(processes.get(), &entry); more;
         more = Process32NextW(processes.get(), &entry)) {
        // A setup started from inside the product's folder must not end itself.
        if (entry.th32ProcessID == self || entry.th32ProcessID == 0) continue;
        std::wstring exe = lowerCase(executableOf(entry.th32ProcessID));
        if (exe.empty() || exe.compare(0, prefix.size(), prefix) != 0) continue;
        UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
        if (process) TerminateProcess(process.get(), 0);
    }
}

}  // namespace tessaryn

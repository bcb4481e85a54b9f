#include "system/process_win.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cwctype>

#include "system/handles_win.h"
#include "system/path_parts.h"
#include "system/program_tree_win.h"
#include "system/run_log.h"
#include "system/system_folder_win.h"
#include "system/unicode_win.h"

namespace tessaryn {

std::wstring getModulePath() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(path, length);
}

std::wstring getModuleBaseName() {
    return baseNameOf(getModulePath());
}

std::wstring getModuleDirectory() {
    return directoryOf(getModulePath());
}

bool runHidden(const std::string& command, const std::wstring& workingFolder,
               const std::wstring& environment, std::chrono::milliseconds limit) {
    // The command processor by full path: a "cmd.exe" beside the program or in the working
    // folder would be found first. /d keeps the user's AutoRun commands out of this process.
    ProgramTree tree;
    if (!tree.start(systemCommandProcessor(), L"/d /c " + toWide(command), workingFolder,
                    environment)) {
        logLine("Command not started (error " + std::to_string(GetLastError()) + "): " + command);
        return false;
    }
    // A command that never ends (one waiting for input nobody can give) must not hold the run:
    // past the limit it is ended with all it started. What it starts and leaves running within
    // the limit stays.
    if (::WaitForSingleObject(tree.program(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
        tree.end();
        logLine("Command ended after " + std::to_string(limit.count() / 1000) + " s: " + command);
        return false;
    }
    DWORD exitCode = 1;
    if (!::GetExitCodeProcess(tree.program(), &exitCode)) return false;
    logLine("Command ended with exit code " + std::to_string(static_cast<int>(exitCode)) + ": " +
            command);
    return exitCode == 0;
}

void runCommands(const std::vector<std::string>& commands, const std::wstring& workingFolder,
                 const std::wstring& environment) {
    for (const std::string& command : commands)
        (void)runHidden(command, workingFolder, environment);
}

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

void terminateProcessesInDirectory(const std::wstring& directory) {
    std::wstring prefix = directory;
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

#include "system/removal_win.h"

#include <windows.h>

#include "system/cleanup_script.h"
#include "system/file_bytes_win.h"
#include "system/handles_win.h"
#include "system/process_end_win.h"
#include "system/process_win.h"
#include "system/system_folder_win.h"
#include "system/unicode_win.h"

namespace tessaryn {

namespace {

constexpr size_t kMaxTreePath = 256;
constexpr size_t kMaxChildPath = 260;

void clearReadOnly(const std::wstring& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

// A junction or symbolic link goes as the link itself; following it could delete data outside
// the tree being removed.
bool removeLink(const std::wstring& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return ::RemoveDirectoryW(path.c_str()) || ::DeleteFileW(path.c_str());
    }
    return ::DeleteFileW(path.c_str()) != FALSE;
}

std::wstring withoutTrailingSeparator(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

}  // namespace

bool deleteDirectoryTree(const std::wstring& path) {
    if (path.empty() || path.size() > kMaxTreePath) return false;
    DWORD own = ::GetFileAttributesW(path.c_str());
    if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT))
        return removeLink(path, own);

    WIN32_FIND_DATAW entry{};
    UniqueFind find(::FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (find) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            if (child.size() > kMaxChildPath) continue;
            DWORD attributes = entry.dwFileAttributes;
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                removeLink(child, attributes);
            } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                (void)deleteDirectoryTree(child);
            } else {
                clearReadOnly(child, attributes);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find.get(), &entry));
        find.reset();
    }
    if (own != INVALID_FILE_ATTRIBUTES) clearReadOnly(path, own);
    return ::RemoveDirectoryW(path.c_str()) != FALSE;
}

namespace {

// Starts the script that deletes the program's file once the process has ended, then the
// installation folder and the work folder. False when it could not be started.
bool startCleanupScript(const std::string& installDir, const std::wstring& workDir) {
    const std::wstring program = getModulePath();
    const std::wstring script = workDir + L"cleanup.cmd";
    bool started = false;
    if (writeFileBytes(script, cleanupScriptText())) {
        // The paths reach the script through its environment (see cleanupScriptText).
        const std::wstring system = systemFolder();
        ::SetEnvironmentVariableW(L"TESSARYN_CLEANUP_SCRIPT", script.c_str());
        ::SetEnvironmentVariableW(L"TESSARYN_PROGRAM", program.c_str());
        ::SetEnvironmentVariableW(L"TESSARYN_INSTALL_DIR",
                                  withoutTrailingSeparator(toWide(installDir)).c_str());
        ::SetEnvironmentVariableW(L"TESSARYN_WORK_DIR", withoutTrailingSeparator(workDir).c_str());
        ::SetEnvironmentVariableW(L"TESSARYN_PING", (system + L"\\PING.EXE").c_str());
        // /v:on: paths are read as "!NAME!", taken literally; /s /c ""..."": the quotes inside
        // stay. After the script the work folder goes, which the script cannot remove while cmd
        // reads it. It all runs in the system folder: never inside a folder it removes, and never
        // where a user could put a program of a name it calls.
        std::wstring line =
            L"cmd.exe /d /v:on /s /c \"\"!TESSARYN_CLEANUP_SCRIPT!\" & rmdir /s /q "
            L"\"!TESSARYN_WORK_DIR!\"\"";
        const std::wstring processor = systemCommandProcessor();
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION info{};
        started = ::CreateProcessW(processor.c_str(), line.data(), nullptr, nullptr, FALSE,
                                   CREATE_NO_WINDOW, nullptr, system.c_str(), &startup, &info);
        UniqueKernelHandle process(info.hProcess);
        UniqueKernelHandle thread(info.hThread);
    }
    return started;
}

}  // namespace

void selfRemove(const std::string& installDir, const std::wstring& workDir) {
    // The script waits for the program's file to be free, so what must finish first still can.
    if (startCleanupScript(installDir, workDir))
        endProcess(0, "a clean-up script removes " + installDir);
    endProcess(-1, "the clean-up script did not start");
}

}  // namespace tessaryn

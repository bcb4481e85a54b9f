#include "system/removal_win.h"

#include <windows.h>

#include <vector>

#include "system/cleanup_script.h"
#include "system/file_bytes_win.h"
#include "system/handles_win.h"
#include "system/machine_environment_win.h"
#include "system/nt_files_win.h"
#include "system/path_parts.h"
#include "system/process_end_win.h"
#include "system/process_win.h"
#include "system/system_folder_win.h"
#include "system/unicode_win.h"

namespace tessaryn {

namespace {

constexpr size_t kMaxTreePath = 256;
// Deeper than this, a tree is not one the program made.
constexpr int kMaxDepth = 64;
constexpr ACCESS_MASK kRemovalAccess =
    DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

void clearReadOnly(HANDLE item, DWORD attributes) {
    if (!(attributes & FILE_ATTRIBUTE_READONLY)) return;
    FILE_BASIC_INFO basic{};  // times of zero stay as they are
    basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(item, FileBasicInfo, &basic, sizeof basic);
}

// Marks what `item` holds for deletion when it is closed, a folder after everything in it.
// `expected` is the path the item was reached by: a handle whose object has another path came
// through a link the system followed (Wine cannot open a link as itself), or the entry was
// swapped since; it is left alone. A link opened as itself goes as a link.
bool removeHeld(const UniqueFile& item, const std::wstring& expected, int depth) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(item.get(), &info)) return false;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!samePath(finalPathOf(item.get()), expected)) return false;
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth >= kMaxDepth) return false;
            for (const FolderEntry& entry : listFolder(item.get())) {
                const std::wstring& name = entry.name;
                // Each entry is opened inside this folder's handle, not by a path: a folder
                // renamed and replaced by a link meanwhile does not lead the removal elsewhere.
                const UniqueFile child =
                    openBeneath(item.get(), name, kRemovalAccess, kShareAll, FILE_OPEN, 0);
                if (child) (void)removeHeld(child, expected + L"\\" + name, depth + 1);
            }
        }
        clearReadOnly(item.get(), info.dwFileAttributes);
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(item.get(), FileDispositionInfo, &disposition,
                                        sizeof disposition) != FALSE;
}

}  // namespace

bool deleteDirectoryTree(const std::wstring& path) {
    if (path.empty() || path.size() > kMaxTreePath) return false;
    wchar_t full[MAX_PATH + 1] = {};
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH + 1, full, nullptr);
    if (length == 0 || length > MAX_PATH) return false;
    const std::wstring folder = withoutTrailingSeparator(full);
    bool marked = false;
    {
        const UniqueFile root(::CreateFileW(
            folder.c_str(), kRemovalAccess, kShareAll, nullptr, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!root) return false;
        if (!reachedByPath(root.get(), folder)) return false;
        marked = removeHeld(root, finalPathOf(root.get()), 0);
    }
    return marked && ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

namespace {

// Starts the script that deletes the program's file once the process has ended, then the
// installation folder and the work folder. False when it could not be started.
bool startCleanupScript(const std::wstring& installDir, const std::wstring& workDir) {
    const std::wstring program = getModulePath();
    const std::wstring script = workDir + L"cleanup.cmd";
    bool started = false;
    if (writeFileBytes(script, cleanupScriptText())) {
        // The paths reach the script through its environment (see cleanupScriptText), the
        // machine's, never this process's.
        const std::wstring system = systemFolder();
        std::wstring paths;
        setValue(paths, L"TESSARYN_CLEANUP_SCRIPT", script);
        setValue(paths, L"TESSARYN_PROGRAM", program);
        setValue(paths, L"TESSARYN_INSTALL_DIR", withoutTrailingSeparator(installDir));
        setValue(paths, L"TESSARYN_WORK_DIR", withoutTrailingSeparator(workDir));
        setValue(paths, L"TESSARYN_PING", system + L"\\PING.EXE");
        std::wstring environment = machineEnvironment(workDir, paths);
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
                                   CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                                   environment.data(), system.c_str(), &startup, &info);
        UniqueKernelHandle process(info.hProcess);
        UniqueKernelHandle thread(info.hThread);
    }
    return started;
}

}  // namespace

void selfRemove(const std::wstring& installDir, const std::wstring& workDir) {
    // The script waits for the program's file to be free, so what must finish first still can.
    if (startCleanupScript(installDir, workDir))
        endProcess(0, "a clean-up script removes " + toUtf8(installDir));
    endProcess(-1, "the clean-up script did not start");
}

}  // namespace tessaryn

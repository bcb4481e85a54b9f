#include "system/removal_win.h"

#include <windows.h>

#include <shellapi.h>

#include "system/cleanup_script.h"
#include "system/file_bytes_win.h"
#include "system/handles_win.h"
#include "system/process_end_win.h"
#include "system/process_win.h"
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

// The script deletes the program's file once the process has ended, then the folder.
void startCleanupScript(const std::string& installDir) {
    const std::wstring program = getModulePath();
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring script = std::wstring(temp) + L"cleanup.bat";

    // cmd.exe reads batch files in the OEM code page.
    (void)writeFileBytes(script, cleanupScriptText(toCodePage(program, CP_OEMCP),
                                                   toCodePage(toWide(installDir), CP_OEMCP)));

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = script.c_str();
    // The script must not run inside the folder it removes: a folder that is some process's
    // current folder cannot be deleted, and the uninstaller is often started from its own.
    info.lpDirectory = temp;
    info.nShow = SW_HIDE;
    if (::ShellExecuteExW(&info) && info.hProcess) ::CloseHandle(info.hProcess);
}

}  // namespace

void selfRemove(const std::string& installDir) {
    // Started last, after what must finish first: the script waits for the file to be free.
    endProcess(0, "a clean-up script removes " + installDir,
               [&installDir] { startCleanupScript(installDir); });
}

}  // namespace tessaryn

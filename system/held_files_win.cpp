#include "system/held_files.h"

#include <windows.h>
#include <restartmanager.h>

#include "system/file_tree_win.h"
#include "system/handles_win.h"
#include "system/system_folder_win.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

// The files asked about: a folder's holders are found through the files in it.
constexpr size_t kAskedFiles = 256;
constexpr UINT kListed = 8;

using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT,
                                         LPCWSTR*);
using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
using EndSession = DWORD(WINAPI*)(DWORD);

template <typename F>
F entry(HMODULE library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

}  // namespace

std::vector<FileHolder> folderHolders(const std::wstring& folder) {
    // Loaded on use (once, by a run that fails), from the system folder only: the import table
    // names no more.
    const UniqueModule module(loadSystemLibrary(L"Rstrtmgr.dll"));
    const HMODULE library = module.get();
    if (!library) return {};
    const auto start = entry<StartSession>(library, "RmStartSession");
    const auto add = entry<RegisterResources>(library, "RmRegisterResources");
    const auto list = entry<GetList>(library, "RmGetList");
    const auto end = entry<EndSession>(library, "RmEndSession");
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (!start || !add || !list || !end || start(&session, 0, key) != ERROR_SUCCESS) return {};
    size_t asked = 0;
    for (const TreeFile& file : listFiles(folder)) {
        const std::wstring path = folder + L"\\" + toWide(file.name);
        LPCWSTR name = path.c_str();
        if (++asked > kAskedFiles || add(session, 1, &name, 0, nullptr, 0, nullptr) != ERROR_SUCCESS)
            break;
    }
    // A longer list than this is answered with ERROR_MORE_DATA and names nobody.
    RM_PROCESS_INFO found[kListed] = {};
    UINT needed = 0;
    UINT count = kListed;
    DWORD reasons = 0;
    if (list(session, &needed, &count, found, &reasons) != ERROR_SUCCESS) count = 0;
    std::vector<FileHolder> holders(count < kListed ? count : kListed);
    for (size_t i = 0; i < holders.size(); ++i)
        holders[i] = {toUtf8(found[i].strAppName), found[i].Process.dwProcessId};
    end(session);
    return holders;
}

}  // namespace tessaryn

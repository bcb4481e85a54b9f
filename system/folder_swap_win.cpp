#include "system/folder_swap_win.h"

#include <windows.h>
// RtlGenRandom comes from advapi32, which the program links already.
#include <ntsecapi.h>

#include "system/path_parts.h"
#include "system/removal_win.h"

namespace tessaryn {
namespace {

constexpr int kCreateAttempts = 8;

bool isFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// What deleteDirectoryTree left: each entry, children before their folder, is handed to the
// system for deletion at the next restart. Links are marked as themselves, never followed.
void markTreeForRestart(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (find) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = folder + L"\\" + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                markTreeForRestart(child);
            else
                ::MoveFileExW(child.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        } while (::FindNextFileW(find.get(), &entry));
    }
    ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// A folder that another running setup holds (holdFolder) cannot be opened for deletion.
bool heldByAnotherRun(const std::wstring& folder) {
    UniqueFile probe(::CreateFileW(folder.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
    return !probe && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

std::wstring withoutTrailingSeparator(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

std::wstring parentFolder(const std::wstring& folder) {
    return directoryOf(withoutTrailingSeparator(folder));
}

std::wstring freshSideFolderPath(const std::wstring& folder, const std::wstring& product,
                                 SideFolderKind kind) {
    unsigned char random[kSideFolderRandomDigits / 2] = {};
    if (!RtlGenRandom(random, sizeof(random))) return {};
    return parentFolder(folder) + L"\\" +
           sideFolderName(product, kind, hexDigits(random, sizeof(random)));
}

std::wstring createStagingFolder(const std::wstring& folder, const std::wstring& product) {
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const std::wstring path = freshSideFolderPath(folder, product, SideFolderKind::Staging);
        if (path.empty()) return {};
        // CreateDirectoryW fails on an existing name, so a planted folder is never taken over.
        if (::CreateDirectoryW(path.c_str(), nullptr)) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
            return path;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

UniqueFile holdFolder(const std::wstring& folder) {
    return UniqueFile(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

bool moveFolder(const std::wstring& from, const std::wstring& to) {
    // Without MOVEFILE_COPY_ALLOWED the move is one rename or nothing.
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool removeFolderNowOrAtRestart(const std::wstring& folder) {
    if (deleteDirectoryTree(folder)) return true;
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    else
        markTreeForRestart(folder);
    return false;
}

void removeLeftoverSideFolders(const std::wstring& folder, const std::wstring& product) {
    const std::wstring parent = parentFolder(folder);
    WIN32_FIND_DATAW entry{};
    // The product name holds no wildcard (the settings check refuses them).
    UniqueFind find(::FindFirstFileW((parent + L"\\." + product + L"-*").c_str(), &entry));
    if (!find) return;
    do {
        const auto kind = sideFolderKindOf(entry.cFileName, product);
        if (!isFolder(entry.dwFileAttributes) || !kind) continue;
        const std::wstring path = parent + L"\\" + entry.cFileName;
        if (heldByAnotherRun(path)) continue;
        if (*kind == SideFolderKind::Backup &&
            !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES &&
            moveFolder(path, folder))
            continue;
        (void)removeFolderNowOrAtRestart(path);
    } while (::FindNextFileW(find.get(), &entry));
}

}  // namespace tessaryn

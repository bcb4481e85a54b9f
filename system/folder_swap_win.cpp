#include "system/folder_swap_win.h"

#include <windows.h>
// RtlGenRandom comes from advapi32, which the program links already.
#include <ntsecapi.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <memory>
#include <vector>

#include "system/nt_files_win.h"
#include "system/path_parts.h"
#include "system/private_folder_win.h"
#include "system/removal_win.h"

namespace tessaryn {
namespace {

constexpr int kCreateAttempts = 8;
constexpr ACCESS_MASK kStagingAccess =
    DELETE | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

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

UniqueFile createStagingFolder(const std::wstring& folder, const std::wstring& product,
                               std::wstring& path, bool privateAccess) {
    path.clear();
    const UniqueFile parent(::CreateFileW(
        parentFolder(folder).c_str(), FILE_LIST_DIRECTORY | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!parent || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                       kPrivateFolderAccess, SDDL_REVISION_1, &raw, nullptr))
        return UniqueFile();
    const UniqueLocalMemory descriptor(raw);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const std::wstring fresh = freshSideFolderPath(folder, product, SideFolderKind::Staging);
        if (fresh.empty()) return UniqueFile();
        // Made and opened in one step, inside the parent's handle; an existing name fails, so a
        // planted folder is never taken over. No delete sharing: from here to its final rename
        // no other program can hold the folder in a way that would stop that rename.
        UniqueFile held = openBeneath(parent.get(), fresh.substr(fresh.find_last_of(L'\\') + 1),
                                      kStagingAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      FILE_CREATE, FILE_DIRECTORY_FILE,
                                      privateAccess ? descriptor.get() : nullptr);
        if (held) {
            FILE_BASIC_INFO basic{};
            basic.FileAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN;
            ::SetFileInformationByHandle(held.get(), FileBasicInfo, &basic, sizeof basic);
            path = fresh;
            return held;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS && ::GetLastError() != ERROR_FILE_EXISTS)
            return UniqueFile();
    }
    return UniqueFile();
}

bool renameHeldFolder(HANDLE folder, const std::wstring& to) {
    const size_t bytes = to.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(rename->FileName, to.data(), bytes);
    return ::SetFileInformationByHandle(folder, FileRenameInfo, buffer.data(),
                                        static_cast<DWORD>(buffer.size())) != FALSE;
}

UniqueFile holdFolder(const std::wstring& folder) {
    return UniqueFile(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

UniqueFile openFolderToMove(const std::wstring& folder) {
    return UniqueFile(::CreateFileW(folder.c_str(), kStagingAccess,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

bool inheritParentAccess(const std::wstring& folder) {
    // An empty list that is not protected: the entries inherited are the only ones, and the
    // system hands them on to every file and folder below.
    ACL empty{};
    if (!::InitializeAcl(&empty, sizeof empty, ACL_REVISION)) return false;
    return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, &empty, nullptr) == ERROR_SUCCESS;
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

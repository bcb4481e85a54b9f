// Removing folder trees: read-only files, nesting, over-long paths and links that lead outside.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "system/folder_swap_win.h"
#include "system/handles_win.h"
#include "tests/support/file_checks_win.h"
#include "system/path_parts.h"
#include "system/removal_win.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

using testing::exists;

void writeFile(const std::wstring& path, bool readOnly = false) {
    { std::ofstream(path.c_str(), std::ios::binary) << "data"; }
    ASSERT_TRUE(exists(path));
    if (readOnly) ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

std::wstring scratchFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + name;
    (void)deleteDirectoryTree(folder);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool isLink(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Runs a program and waits for it; true on exit code 0.
bool run(std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        return false;
    }
    UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    ::WaitForSingleObject(process.get(), 10000);
    DWORD code = 1;
    ::GetExitCodeProcess(process.get(), &code);
    return code == 0;
}

// Wine's translation of a Windows path to a host path; null on Windows itself.
using UnixName = char*(__cdecl*)(const wchar_t*);
UnixName wineUnixName() {
    FARPROC found =
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    return reinterpret_cast<UnixName>(reinterpret_cast<void*>(found));
}

// Makes a folder link: a symbolic link where the system allows one, else (under Wine, which
// shows host symbolic links as reparse points) a host link made with the host's ln.
bool makeFolderLink(const std::wstring& link, const std::wstring& target) {
    ::CreateSymbolicLinkW(
        link.c_str(), target.c_str(),
        SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    if (isLink(link)) return true;
    ::RemoveDirectoryW(link.c_str());
    auto unixName = wineUnixName();
    if (!unixName) return false;
    char* unixLink = unixName(link.c_str());
    char* unixTarget = unixName(target.c_str());
    // Wine neither waits for a host program nor passes on its exit code: watch for the link.
    if (unixLink && unixTarget)
        run(L"Z:\\bin\\ln -s \"" + toWide(unixTarget) + L"\" \"" + toWide(unixLink) + L"\"");
    ::HeapFree(::GetProcessHeap(), 0, unixLink);
    ::HeapFree(::GetProcessHeap(), 0, unixTarget);
    for (int i = 0; i < 50 && !isLink(link); ++i) ::Sleep(100);
    return isLink(link);
}

// Clean-up for a host link that Wine cannot remove from inside.
void removeHostLink(const std::wstring& link) {
    auto unixName = wineUnixName();
    if (!unixName) return;
    char* unixLink = unixName(link.c_str());
    if (unixLink) run(L"Z:\\bin\\rm -f \"" + toWide(unixLink) + L"\"");
    ::HeapFree(::GetProcessHeap(), 0, unixLink);
    for (int i = 0; i < 50 && isLink(link); ++i) ::Sleep(100);
}

// The same folder written with "." and ".." pieces so that the text is `length` long.
std::wstring samePathWithLength(const std::wstring& folder, size_t length) {
    std::wstring name = folder.substr(folder.find_last_of(L'\\') + 1);
    std::wstring tail = L"\\..\\" + name;
    std::wstring path = folder;
    if ((length - folder.size() - tail.size()) % 2 != 0) path += L"\\a\\..";
    while (path.size() + tail.size() < length) path += L"\\.";
    return path + tail;
}

TEST(DeleteDirectoryTree, RemovesNestedFoldersAndReadOnlyFiles) {
    std::wstring root = scratchFolder(L"tessaryn-tree");
    ::CreateDirectoryW((root + L"\\a").c_str(), nullptr);
    ::CreateDirectoryW((root + L"\\a\\b").c_str(), nullptr);
    ::CreateDirectoryW((root + L"\\empty").c_str(), nullptr);
    writeFile(root + L"\\top.txt");
    writeFile(root + L"\\a\\locked.dll", true);
    writeFile(root + L"\\a\\b\\deep.txt", true);
    writeFile(root + L"\\a\\b\\name with spaces \x00e9.txt");
    ::SetFileAttributesW((root + L"\\a\\b").c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_TRUE(deleteDirectoryTree(root));
    EXPECT_FALSE(exists(root));
}

TEST(DeleteDirectoryTree, RefusesEmptyAndOverlongPathsWithoutTouchingAnything) {
    EXPECT_FALSE(deleteDirectoryTree(L""));

    std::wstring root = scratchFolder(L"tessaryn-long");
    writeFile(root + L"\\keep.txt");
    std::wstring padded = samePathWithLength(root, 257);
    ASSERT_EQ(padded.size(), 257u);
    ASSERT_TRUE(exists(padded + L"\\keep.txt"));

    EXPECT_FALSE(deleteDirectoryTree(padded));
    EXPECT_TRUE(exists(root + L"\\keep.txt"));

    // One character less passes the length check (children of so long a path would exceed the
    // 260-character limit and be skipped, so the folder is emptied first).
    ::DeleteFileW((root + L"\\keep.txt").c_str());
    std::wstring accepted = samePathWithLength(root, 256);
    ASSERT_EQ(accepted.size(), 256u);
    EXPECT_TRUE(deleteDirectoryTree(accepted));
    EXPECT_FALSE(exists(root));
}

TEST(DeleteDirectoryTree, MissingFolderGivesFalse) {
    EXPECT_FALSE(deleteDirectoryTree(L"C:\\tessaryn-no-such-folder-here"));
}

TEST(DeleteDirectoryTree, LinkInsideIsRemovedButItsTargetSurvives) {
    std::wstring outside = scratchFolder(L"tessaryn-user-data");
    writeFile(outside + L"\\precious.txt");
    ::CreateDirectoryW((outside + L"\\sub").c_str(), nullptr);
    writeFile(outside + L"\\sub\\more.txt", true);

    std::wstring root = scratchFolder(L"tessaryn-with-link");
    writeFile(root + L"\\own.txt");
    if (!makeFolderLink(root + L"\\linked", outside)) GTEST_SKIP() << "no folder links here";
    ASSERT_TRUE(exists(root + L"\\linked\\precious.txt")) << "the link must lead to the data";

    bool removed = deleteDirectoryTree(root);

    EXPECT_TRUE(exists(outside + L"\\precious.txt"));
    EXPECT_TRUE(exists(outside + L"\\sub\\more.txt"));
    EXPECT_FALSE(exists(root + L"\\own.txt"));
    // Some systems (Wine) cannot remove a host link from inside; then the tree stays and says so.
    EXPECT_EQ(removed, !exists(root));
    if (!removed) {
        EXPECT_TRUE(isLink(root + L"\\linked"));
    }

    // The link itself given as the tree is not followed either.
    if (exists(root + L"\\linked")) {
        (void)deleteDirectoryTree(root + L"\\linked");
        EXPECT_TRUE(exists(outside + L"\\precious.txt"));
    }
    if (isLink(root + L"\\linked")) removeHostLink(root + L"\\linked");
    (void)deleteDirectoryTree(root);
    ::SetFileAttributesW((outside + L"\\sub\\more.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    (void)deleteDirectoryTree(outside);
}

// What killed runs left beside an install folder: only this product's own names go, a folder a
// running setup holds stays, and a backup whose install folder is gone takes its place again.
TEST(LeftoverSideFolders, OwnNamesGoHeldOnesStayAndALoneBackupReturns) {
    const std::wstring parent = scratchFolder(L"tessaryn-side-folders");
    const std::wstring install = parent + L"\\Tessaryn";
    const std::wstring digits = L"0123456789abcdef0123456789abcdef";
    const std::wstring backup = parent + L"\\.Tessaryn-backup-" + digits;
    const std::wstring staging = parent + L"\\.Tessaryn-staging-" + digits;
    const std::wstring others[] = {parent + L"\\.Tessaryn-staging-12345",
                                   parent + L"\\.Other-staging-" + digits,
                                   parent + L"\\.Tessaryn-backup-" + digits + L"-copy"};
    for (const std::wstring& folder : {backup, staging, others[0], others[1], others[2]})
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    writeFile(backup + L"\\old.txt");
    writeFile(staging + L"\\new.txt");

    std::wstring live;
    UniqueFile hold = createStagingFolder(install, L"Tessaryn", live);
    ASSERT_TRUE(hold);
    EXPECT_EQ(directoryOf(live), parent);
    EXPECT_TRUE(sideFolderKindOf(live.substr(parent.size() + 1), L"Tessaryn"));
    // No other program can hold the staging folder against its rename: an open without delete
    // sharing is refused; one with it does not stop the rename through the held handle.
    const auto openLive = [&](DWORD share) {
        return UniqueFile(::CreateFileW(live.c_str(), FILE_LIST_DIRECTORY, share, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    };
    EXPECT_FALSE(openLive(FILE_SHARE_READ | FILE_SHARE_WRITE));
    UniqueFile sharing = openLive(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    std::wstring moved = live;
    moved.back() = moved.back() == L'0' ? L'1' : L'0';  // another name of the product's kind
    ASSERT_TRUE(renameHeldFolder(hold.get(), moved));
    EXPECT_FALSE(exists(live));
    live = moved;
    EXPECT_TRUE(exists(live));

    removeLeftoverSideFolders(install, L"Tessaryn");

    EXPECT_TRUE(exists(install + L"\\old.txt")) << "the lone backup must be moved back";
    EXPECT_FALSE(exists(backup));
    EXPECT_FALSE(exists(staging));
    EXPECT_TRUE(exists(live)) << "a folder held by a running setup must stay";
    for (const std::wstring& folder : others) EXPECT_TRUE(exists(folder));

    // With the install folder in place, a backup is removed like any leftover.
    ASSERT_TRUE(::CreateDirectoryW(backup.c_str(), nullptr));
    hold.reset();
    sharing.reset();
    removeLeftoverSideFolders(install, L"Tessaryn");
    EXPECT_FALSE(exists(backup));
    EXPECT_FALSE(exists(live));
    EXPECT_TRUE(exists(install + L"\\old.txt"));
    (void)deleteDirectoryTree(parent);
}

}  // namespace
}  // namespace tessaryn

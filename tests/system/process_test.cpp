// The program's own location, hidden commands, the shell, and the system description.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>

#include <aclapi.h>

#include <sddl.h>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "system/handles_win.h"
#include "tests/support/file_checks_win.h"
#include "system/private_folder_win.h"
#include "system/process_win.h"
#include "system/program_file_win.h"
#include "system/program_tree_win.h"
#include "system/removal_win.h"
#include "system/shell_launch_win.h"
#include "system/system_folder_win.h"
#include "system/system_info_win.h"
#include "system/unicode_win.h"

namespace tessaryn {
namespace {

using testing::exists;

std::string readText(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::wstring tempFolder() {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return temp;
}

// A fresh folder whose name has non-ASCII letters, as a product folder may.
std::wstring scratchFolder() {
    std::wstring folder = tempFolder() +
                          L"tessaryn-r\x00fc"
                          L"n \x0416";
    (void)deleteDirectoryTree(folder);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::wstring machine() {
    return machineEnvironment(windowsTempFolder());
}

TEST(ModulePath, NameAndFolderOfThisProgram) {
    std::wstring path = getModulePath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(exists(path));
    EXPECT_EQ(getModuleBaseName(), L"system_process_test");
    EXPECT_EQ(getModuleDirectory() + L"\\system_process_test.exe", path);
}

// The held program file must be the mapped image itself: a file of the same bytes (as a
// replacement under the program's name would be, at best) is not.
TEST(ProgramFile, OnlyTheRunningImageCounts) {
    const UniqueFile program = openProgramFile();
    EXPECT_TRUE(isRunningImage(program.get()));
    const std::wstring folder = scratchFolder();
    const std::wstring copy = folder + L"\\copy.exe";
    ASSERT_TRUE(::CopyFileW(getModulePath().c_str(), copy.c_str(), FALSE));
    {
        const UniqueFile other(::CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(other);
        EXPECT_FALSE(isRunningImage(other.get()));
    }
    (void)deleteDirectoryTree(folder);
}

bool sidIs(PSID sid, WELL_KNOWN_SID_TYPE type) {
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof known;
    return ::CreateWellKnownSid(type, nullptr, known, &size) && ::EqualSid(sid, known);
}

bool underWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Whom the folder's access list lets in: never the user. (Wine keeps a folder's access list only
// as far as the Linux permissions can hold it, and reads back an entry for the file's owner, the
// user, where Windows has Administrators.)
void expectOnlySystemAndAdministrators(const std::wstring& folder) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &dacl, nullptr, &descriptor),
              ERROR_SUCCESS);
    const UniqueLocalMemory ownedDescriptor(descriptor);
    ASSERT_NE(dacl, nullptr);
    UniqueKernelHandle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
    BYTE user[256];
    DWORD size = sizeof user;
    ASSERT_TRUE(::GetTokenInformation(token.get(), TokenUser, user, size, &size));
    bool self = false;
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        PSID sid = &ace->SidStart;
        const bool isSelf = ::EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
        self |= isSelf;
        LocalMemoryOf<wchar_t> text;
        ::ConvertSidToStringSidW(sid, text.put());
        EXPECT_TRUE(isSelf || sidIs(sid, WinLocalSystemSid) ||
                    sidIs(sid, WinBuiltinAdministratorsSid))
            << "entry for " << (text ? toUtf8(text.get()) : "?");
    }
    EXPECT_TRUE(!self || underWine());
}

TEST(PrivateFolder, FreshNameOpenOnlyToSystemAndAdministrators) {
    const std::wstring parent = scratchFolder();
    // The first name is taken: it is skipped, never used.
    ::CreateDirectoryW((parent + L"\\taken").c_str(), nullptr);
    std::vector<std::wstring> names = {L"taken", L"fresh"};
    size_t next = 0;
    const std::wstring work = createPrivateFolder(parent, [&] { return names.at(next++); });
    EXPECT_EQ(work, parent + L"\\fresh\\");
    expectOnlySystemAndAdministrators(work);
    EXPECT_EQ(randomFolderName().size(), 32u);
    EXPECT_NE(randomFolderName(), randomFolderName());
    EXPECT_THROW(createPrivateFolder(parent, [] { return std::wstring(L"taken"); }),
                 std::runtime_error);
    (void)deleteDirectoryTree(parent);
}

TEST(RunHidden, SuccessOnlyOnExitCodeZero) {
    EXPECT_TRUE(runHidden("exit 0", L"", machine()));
    EXPECT_FALSE(runHidden("exit 1", L"", machine()));
    EXPECT_FALSE(runHidden("exit 7", L"", machine()));
}

TEST(RunHidden, CommandThatCannotStartGivesFalse) {
    EXPECT_FALSE(runHidden("exit 0", L"C:\\tessaryn\\no such folder", machine()));
}

// Under Wine the first process that needs the desktop starts the desktop's own process (the
// shell that LaunchAsUser goes through): started from here, it is never one of the trees that
// these tests end.
void startDesktopOutsideTheTrees() {
    ASSERT_NE(GetDesktopWindow(), nullptr);
}

TEST(RunHidden, ACommandPastItsLimitIsEnded) {
    startDesktopOutsideTheTrees();
    std::wstring folder = scratchFolder();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(runHidden("ping -n 4 127.0.0.1 >nul & echo late> late.txt", folder, machine(),
                           std::chrono::milliseconds(300)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    Sleep(5000);
    EXPECT_FALSE(exists(folder + L"\\late.txt"));
    (void)deleteDirectoryTree(folder);
}

TEST(RunHidden, RunsInTheNonAsciiWorkingFolder) {
    std::wstring folder = scratchFolder();
    ASSERT_TRUE(runHidden("echo made> marker.txt", folder, machine()));
    EXPECT_EQ(readText(folder + L"\\marker.txt"), "made\r\n");
    (void)deleteDirectoryTree(folder);
}

bool endsWithin(const ProgramTree& tree, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!tree.ended() && std::chrono::steady_clock::now() < end) Sleep(20);
    return tree.ended();
}

TEST(ProgramTree, ExitCodeAndWhatTheProgramLeftRunning) {
    const std::wstring cmd = systemCommandProcessor();
    startDesktopOutsideTheTrees();
    ProgramTree done, failed, parent, missing;
    ASSERT_TRUE(done.start(cmd, L"/d /c exit 0", L"", machine()));
    ASSERT_TRUE(failed.start(cmd, L"/d /c exit 4", L"", machine()));
    EXPECT_TRUE(endsWithin(done, std::chrono::seconds(30)) && done.succeeded());
    EXPECT_TRUE(endsWithin(failed, std::chrono::seconds(30)) && !failed.succeeded());
    EXPECT_FALSE(missing.start(L"C:\\tessaryn\\missing.exe", L"", L"", machine()));

    // A grandchild that outlives the program keeps the tree going until it is ended.
    ASSERT_TRUE(parent.start(cmd, L"/d /c start \"\" ping -n 60 127.0.0.1 & exit 0", L"", machine()));
    ASSERT_EQ(WaitForSingleObject(parent.program(), 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(parent.succeeded());
    ASSERT_TRUE(parent.tracksWhatItStarts());
    Sleep(500);
    EXPECT_FALSE(parent.ended());
    parent.end();
    EXPECT_TRUE(endsWithin(parent, std::chrono::seconds(10)));
}

TEST(RunCommands, GoesOnAfterAFailedCommand) {
    std::wstring folder = scratchFolder();
    runCommands(
        {"echo first> first.txt", "exit 3", "no-such-program-tessaryn.exe", "echo last> last.txt"},
        folder, machine());
    EXPECT_TRUE(exists(folder + L"\\first.txt"));
    EXPECT_TRUE(exists(folder + L"\\last.txt"));
    (void)deleteDirectoryTree(folder);
}

// Copies the probe into the folder, starts it by `name` (full path or bare file name) in
// `directory` and gives
// the road taken with the id of the process that started the probe.
std::pair<LaunchRoad, DWORD> launchProbe(
    const std::wstring& folder, const std::wstring& name, const std::wstring& directory,
    const std::function<LaunchRoad(const std::wstring&, const std::wstring&)>& launch) {
    const std::wstring probe = folder + L"\\probe \x00e9.exe";
    const std::wstring marker = folder + L"\\launched.txt";
    ::DeleteFileW(marker.c_str());
    EXPECT_TRUE(::CopyFileW((getModuleDirectory() + L"\\launch_parent_probe.exe").c_str(),
                            probe.c_str(), FALSE));
    const LaunchRoad road = launch(name, directory);
    for (int i = 0; i < 100 && readText(marker).find('\n') == std::string::npos; ++i)
        ::Sleep(100);
    return {road, static_cast<DWORD>(std::strtoul(readText(marker).c_str(), nullptr, 10))};
}

// Both ways: the shell reached at the start, and the shell reached ahead (whose second start
// takes the whole way).
TEST(LaunchAsUser, StartsThroughTheDesktopShellOnly) {
    const std::wstring folder = scratchFolder();
    for (const bool prepared : {false, true}) {
        SCOPED_TRACE(prepared ? "prepared" : "at once");
        PreparedLaunch ahead;
        const auto launch = [&](const std::wstring& file, const std::wstring& directory) {
            return prepared ? ahead.launch(file, directory) : launchAsUser(file, directory);
        };
        // The shell starts it: its parent is the shell's process, not this one.
        auto [road, parent] =
            launchProbe(folder, folder + L"\\probe \x00e9.exe", folder, launch);
        EXPECT_EQ(road, LaunchRoad::DesktopShell);
        EXPECT_NE(parent, 0u);
        EXPECT_NE(parent, ::GetCurrentProcessId());

        // A name the shell cannot find (relative to this process's folder only): this elevated
        // process never starts it itself, so nothing runs.
        wchar_t previous[MAX_PATH] = {};
        ::GetCurrentDirectoryW(MAX_PATH, previous);
        ::SetCurrentDirectoryW(folder.c_str());
        std::tie(road, parent) = launchProbe(folder, L"probe \x00e9.exe", L"", launch);
        ::SetCurrentDirectoryW(previous);
        EXPECT_EQ(road, LaunchRoad::Failed);
        EXPECT_EQ(parent, 0u);

        EXPECT_EQ(launch(folder + L"\\missing.exe", L""), LaunchRoad::Failed);
    }
    // Prepared and never used: it ends without starting anything.
    { PreparedLaunch unused; }
    (void)deleteDirectoryTree(folder);
}

std::wstring registryBuild() {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                        KEY_READ, key.put()) != ERROR_SUCCESS) {
        return {};
    }
    wchar_t build[64] = {};
    DWORD size = sizeof(build) - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), L"CurrentBuild", nullptr, nullptr,
                           reinterpret_cast<BYTE*>(build), &size) != ERROR_SUCCESS) {
        return {};
    }
    return build;
}

TEST(SystemDescription, NamesVersionArchitectureAndLocale) {
    std::wstring build = registryBuild();
    std::wstring version = build.empty() ? L"10" : L"10 Build " + build;
    EXPECT_EQ(getOsVersion(), version);

    wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
    ASSERT_GT(::GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH), 0);
    EXPECT_EQ(getSystemDescription(), L"Windows " + version + L"; x64; " + locale);
}

}  // namespace
}  // namespace tessaryn

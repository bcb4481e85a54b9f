// Shortcuts, read back through the shell's own link reader and byte for byte.
#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "system/handles_win.h"
#include "tests/support/file_checks_win.h"
#include "system/shortcuts_win.h"

namespace tessaryn {
namespace {

struct LinkProperties {
    std::wstring path, arguments, workingFolder, iconPath, description;
    int iconIndex = -1;
    int showCommand = -1;
};

LinkProperties readLink(const std::wstring& linkPath) {
    LinkProperties properties;
    ComPtr<IShellLinkW> link;
    EXPECT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IShellLinkW, link.putVoid()));
    if (!link) return properties;
    ComPtr<IPersistFile> file;
    EXPECT_HRESULT_SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.putVoid()));
    if (!file) return properties;
    EXPECT_HRESULT_SUCCEEDED(file->Load(linkPath.c_str(), STGM_READ));
    wchar_t text[MAX_PATH * 2] = {};
    link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
    properties.path = text;
    text[0] = 0;
    link->GetArguments(text, MAX_PATH);
    properties.arguments = text;
    text[0] = 0;
    link->GetWorkingDirectory(text, MAX_PATH);
    properties.workingFolder = text;
    text[0] = 0;
    link->GetIconLocation(text, MAX_PATH, &properties.iconIndex);
    properties.iconPath = text;
    text[0] = 0;
    link->GetDescription(text, MAX_PATH);
    properties.description = text;
    link->GetShowCmd(&properties.showCommand);
    return properties;
}

std::wstring shellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    EXPECT_HRESULT_SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, 0, path));
    return path;
}

std::string readBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

using testing::exists;

class Shortcuts : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.result()));
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"tessaryn-shortcut-test";
        ::CreateDirectoryW(folder_.c_str(), nullptr);
    }
    ComInit com_;
    std::wstring folder_;
};

TEST_F(Shortcuts, LinkCarriesEveryProperty) {
    std::wstring link = folder_ + L"\\full.lnk";
    ::DeleteFileW(link.c_str());
    ASSERT_TRUE(createShellLink(L"C:\\Program Files\\Tessaryn\\Tessaryn.exe", link,
                                L"Starts Tessaryn", L"--safe-mode \"two words\"",
                                L"C:\\Users\\Public", L"C:\\Program Files\\Tessaryn\\app.ico", 3));
    LinkProperties p = readLink(link);
    EXPECT_EQ(p.path, L"C:\\Program Files\\Tessaryn\\Tessaryn.exe");
    EXPECT_EQ(p.arguments, L"--safe-mode \"two words\"");
    EXPECT_EQ(p.workingFolder, L"C:\\Users\\Public");
    EXPECT_EQ(p.iconPath, L"C:\\Program Files\\Tessaryn\\app.ico");
    EXPECT_EQ(p.iconIndex, 3);
    EXPECT_EQ(p.description, L"Starts Tessaryn");
    EXPECT_EQ(p.showCommand, SW_SHOWNORMAL);
}

TEST_F(Shortcuts, DefaultsComeFromTheTarget) {
    std::wstring link = folder_ + L"\\defaults.lnk";
    ::DeleteFileW(link.c_str());
    ASSERT_TRUE(createShellLink(L"C:\\Program Files\\Tessaryn\\bin/Tessaryn.exe", link, L"", L"",
                                L"", L"", 0));
    LinkProperties p = readLink(link);
    EXPECT_EQ(p.workingFolder, L"C:\\Program Files\\Tessaryn\\bin");
    EXPECT_EQ(p.iconPath, L"C:\\Program Files\\Tessaryn\\bin/Tessaryn.exe");
    EXPECT_EQ(p.iconIndex, 0);
    EXPECT_EQ(p.arguments, L"");
    EXPECT_EQ(p.description, L"");
}

TEST_F(Shortcuts, SaveIntoMissingFolderFails) {
    EXPECT_FALSE(createShellLink(L"C:\\T\\T.exe", folder_ + L"\\no\\such\\folder\\x.lnk", L"", L"",
                                 L"", L"", 0));
}

TEST_F(Shortcuts, DesktopLinkIsReplacedAndDeleted) {
    const std::wstring name = L"Tessaryn Shortcut Test";
    std::wstring link = shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\" + name + L".lnk";
    // A stale, read-write file of the same name stands where the link goes.
    {
        std::ofstream stale(link.c_str(), std::ios::binary);
        stale << "not a link";
    }
    ASSERT_TRUE(createDesktopShortcut(L"C:\\Program Files\\Tessaryn\\Tessaryn.exe", L"", name,
                                      L"Tessaryn", L"", L"", false));
    LinkProperties p = readLink(link);
    EXPECT_EQ(p.path, L"C:\\Program Files\\Tessaryn\\Tessaryn.exe");
    EXPECT_EQ(p.workingFolder, L"C:\\Program Files\\Tessaryn");
    EXPECT_EQ(p.description, L"Tessaryn");

    EXPECT_TRUE(deleteDesktopShortcut(name, false));
    EXPECT_FALSE(exists(link));
    EXPECT_FALSE(deleteDesktopShortcut(name, false)) << "nothing left to delete";
}

TEST_F(Shortcuts, StartMenuWebEntryIsAnInternetShortcut) {
    std::wstring programs = shellFolder(CSIDL_COMMON_PROGRAMS);
    std::wstring file = programs + L"\\Tessaryn Test\\Tessaryn on the Web.url";
    ::DeleteFileW(file.c_str());
    ASSERT_TRUE(createStartMenuEntry(L"https://tessaryn.example/start?a=1&b=2", L"",
                                     L"Tessaryn on the Web", L"Tessaryn Test", L"ignored",
                                     L"ignored", L"C:\\ignored.ico", 4, false));
    EXPECT_EQ(readBytes(file),
              std::string("[InternetShortcut]\r\nURL=https://tessaryn.example/start?a=1&b=2\r\n"));
    EXPECT_FALSE(exists(programs + L"\\Tessaryn Test\\Tessaryn on the Web.lnk"));
    ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW((programs + L"\\Tessaryn Test").c_str());
}

TEST_F(Shortcuts, UpperCaseSchemeIsAProgramLink) {
    std::wstring programs = shellFolder(CSIDL_COMMON_PROGRAMS);
    std::wstring link = programs + L"\\Tessaryn Upper.lnk";
    ::DeleteFileW(link.c_str());
    ASSERT_TRUE(createStartMenuEntry(L"HTTPS://tessaryn.example/", L"C:\\Work", L"Tessaryn Upper",
                                     L"", L"desc", L"-x", L"C:\\i.ico", 2, false));
    EXPECT_TRUE(exists(link));
    EXPECT_FALSE(exists(programs + L"\\Tessaryn Upper.url"));
    LinkProperties p = readLink(link);
    EXPECT_EQ(p.arguments, L"-x");
    EXPECT_EQ(p.workingFolder, L"C:\\Work");
    EXPECT_EQ(p.iconPath, L"C:\\i.ico");
    EXPECT_EQ(p.iconIndex, 2);
    EXPECT_EQ(p.description, L"desc");
    ::DeleteFileW(link.c_str());
}

TEST_F(Shortcuts, StartMenuProgramLinkInSubfolder) {
    std::wstring programs = shellFolder(CSIDL_COMMON_PROGRAMS);
    std::wstring link = programs + L"\\Tessaryn Sub\\Tessaryn.lnk";
    ::DeleteFileW(link.c_str());
    ASSERT_TRUE(createStartMenuEntry(L"C:\\Program Files\\Tessaryn\\Tessaryn.exe", L"", L"Tessaryn",
                                     L"Tessaryn Sub", L"", L"", L"", 0, false));
    LinkProperties p = readLink(link);
    EXPECT_EQ(p.path, L"C:\\Program Files\\Tessaryn\\Tessaryn.exe");
    EXPECT_EQ(p.workingFolder, L"C:\\Program Files\\Tessaryn");
    ::DeleteFileW(link.c_str());
    ::RemoveDirectoryW((programs + L"\\Tessaryn Sub").c_str());
}

}  // namespace
}  // namespace tessaryn

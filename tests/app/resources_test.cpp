#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "resource_ids.h"
#include "version_info.h"

namespace {

std::string manifestText() {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    if (!found) return {};
    HGLOBAL loaded = LoadResource(self, found);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    return bytes ? std::string(bytes, SizeofResource(self, found)) : std::string();
}

TEST(Resources, ApplicationIconGroupLoadsInEverySize) {
    HMODULE self = GetModuleHandleW(nullptr);
    ASSERT_NE(FindResourceW(self, MAKEINTRESOURCEW(TESSARYN_IDI_APPLICATION), RT_GROUP_ICON),
              nullptr);
    for (int size : {16, 32, 48, 256}) {
        HICON icon = static_cast<HICON>(LoadImageW(self, MAKEINTRESOURCEW(TESSARYN_IDI_APPLICATION),
                                                   IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

TEST(Resources, ManifestRunsAsInvokerWithDpiAwarenessControlsAndSegmentHeap) {
    const std::string manifest = manifestText();
    ASSERT_FALSE(manifest.empty());
    for (const char* expected :
         {"level=\"asInvoker\"", ">True/PM</dpiAware>", ">PerMonitorV2</dpiAwareness>",
          "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
          ">SegmentHeap</heapType>",
          "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"}) {
        EXPECT_NE(manifest.find(expected), std::string::npos) << expected;
    }
}

TEST(Resources, CommonControlsSixAreActive) {
    // The manifest's dependency makes the loader pick the side-by-side version 6 assembly instead
    // of the system folder's version 5 library.
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    std::wstring lower(path);
    for (wchar_t& c : lower) c = towlower(c);
    EXPECT_NE(lower.find(L"common-controls"), std::wstring::npos) << lower.c_str();
    EXPECT_NE(lower.find(L"_6.0."), std::wstring::npos) << lower.c_str();
    FreeLibrary(comctl);
}

// The version information as Explorer's "Details" page reads it: through the version API.
struct VersionInfo {
    std::vector<char> block;
    std::wstring text(const wchar_t* name) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return {};
        return std::wstring(static_cast<const wchar_t*>(value));
    }
};

VersionInfo readVersionInfo(const std::wstring& file) {
    VersionInfo info;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), nullptr);
    if (size == 0) return info;
    info.block.resize(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, info.block.data())) info.block.clear();
    return info;
}

void expectVersionInfo(const std::wstring& file) {
    VersionInfo info = readVersionInfo(file);
    ASSERT_FALSE(info.block.empty()) << "no version information";
    auto wide = [](const char* text) { return std::wstring(text, text + strlen(text)); };
    EXPECT_EQ(info.text(L"CompanyName"), wide(TESSARYN_COMPANY_TEXT));
    EXPECT_EQ(info.text(L"FileDescription"), L"Tessaryn Setup");
    EXPECT_EQ(info.text(L"ProductName"), L"Tessaryn");
    EXPECT_EQ(info.text(L"ProductVersion"), wide(TESSARYN_VERSION_TEXT));
    EXPECT_EQ(info.text(L"FileVersion"), wide(TESSARYN_VERSION_TEXT));
    EXPECT_EQ(info.text(L"LegalCopyright"), wide(TESSARYN_COPYRIGHT_TEXT));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.block.data(), L"\\", reinterpret_cast<void**>(&fixed),
                               &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    const WORD numbers[] = {TESSARYN_VERSION_NUMBERS};
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(numbers[1], numbers[0])));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(numbers[3], numbers[2])));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    // The text and the numbers name the same version.
    EXPECT_EQ(info.text(L"FileVersion"),
              std::to_wstring(numbers[0]) + L"." + std::to_wstring(numbers[1]) + L"." +
                  std::to_wstring(numbers[2]) + L"." + std::to_wstring(numbers[3]));
}

TEST(Resources, VersionInformationFromTheBuild) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    expectVersionInfo(self);
}

#ifdef TESSARYN_SETUP_EXE
TEST(Resources, TheBuiltSetupProgramCarriesTheVersionInformation) {
    // The build's path on the Linux side; Wine's drive Z: is the Linux root.
    std::wstring path = L"Z:";
    for (const char* c = TESSARYN_SETUP_EXE; *c; ++c) path += *c == '/' ? L'\\' : wchar_t(*c);
    expectVersionInfo(path);
}
#endif

}  // namespace

#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "resource_ids.h"

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

TEST(Resources, ManifestAsksForAdministratorDpiAwarenessControlsAndSegmentHeap) {
    const std::string manifest = manifestText();
    ASSERT_FALSE(manifest.empty());
    for (const char* expected :
         {"level=\"requireAdministrator\"", ">True/PM</dpiAware>", ">PerMonitorV2</dpiAwareness>",
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

}  // namespace

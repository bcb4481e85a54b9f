// Prints what a shell link holds, read through IShellLinkW (the system's own reader), as
// "key=value" lines: path, arguments, workdir, icon, iconindex, description.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

namespace {

void print(const char* key, const wchar_t* value) {
    char utf8[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof(utf8), nullptr, nullptr);
    std::printf("%s=%s\n", key, utf8);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    if (FAILED(CoInitialize(nullptr))) return 1;
    int result = 1;
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(argv[1], STGM_READ))) {
        wchar_t text[MAX_PATH * 2] = {};
        int index = 0;
        link->GetPath(text, MAX_PATH * 2, nullptr, SLGP_RAWPATH);
        print("path", text);
        link->GetArguments(text, MAX_PATH * 2);
        print("arguments", text);
        link->GetWorkingDirectory(text, MAX_PATH * 2);
        print("workdir", text);
        link->GetIconLocation(text, MAX_PATH * 2, &index);
        print("icon", text);
        std::printf("iconindex=%d\n", index);
        link->GetDescription(text, MAX_PATH * 2);
        print("description", text);
        result = 0;
    }
    if (file) file->Release();
    if (link) link->Release();
    CoUninitialize();
    return result;
}

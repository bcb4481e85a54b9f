#include "system/shortcuts_win.h"

#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>

#include "system/file_bytes_win.h"
#include "system/handles_win.h"
#include "system/path_parts.h"
#include "system/unicode_win.h"

namespace tessaryn {

namespace {

bool shellFolder(int csidl, std::wstring& folder) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return false;
    folder = path;
    return true;
}

bool writeInternetShortcut(const std::wstring& path, const std::wstring& url) {
    std::string bytes = toCodePage(internetShortcutText(url), CP_ACP);
    return !bytes.empty() && writeFileBytes(path, bytes);
}

}  // namespace

std::wstring internetShortcutText(const std::wstring& url) {
    return L"[InternetShortcut]\r\nURL=" + url + L"\r\n";
}

bool createShellLink(const std::wstring& target, const std::wstring& linkPath,
                     const std::wstring& description, const std::wstring& arguments,
                     const std::wstring& workingFolder, const std::wstring& iconPath,
                     int iconIndex) {
    ComInit com;
    // A thread already in another apartment still has COM; only other failures stop us.
    if (FAILED(com.result()) && com.result() != RPC_E_CHANGED_MODE) return false;

    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.putVoid()))) {
        return false;
    }
    link->SetPath(target.c_str());
    if (!description.empty()) link->SetDescription(description.c_str());
    if (!arguments.empty()) link->SetArguments(arguments.c_str());
    if (!workingFolder.empty()) {
        link->SetWorkingDirectory(workingFolder.c_str());
    } else if (hasSeparator(target)) {
        link->SetWorkingDirectory(directoryOf(target).c_str());
    }
    link->SetIconLocation(iconPath.empty() ? target.c_str() : iconPath.c_str(), iconIndex);
    link->SetShowCmd(SW_SHOWNORMAL);

    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid()))) return false;
    return SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}

bool createDesktopShortcut(const std::wstring& target, const std::wstring& workingFolder,
                           const std::wstring& name, const std::wstring& description,
                           const std::wstring& arguments, const std::wstring& iconPath,
                           bool perUser) {
    std::wstring desktop;
    const int csidl = perUser ? CSIDL_DESKTOPDIRECTORY : CSIDL_COMMON_DESKTOPDIRECTORY;
    if (!shellFolder(csidl | CSIDL_FLAG_CREATE, desktop)) return false;
    std::wstring linkPath = desktop + L"\\" + name + L".lnk";
    ::DeleteFileW(linkPath.c_str());
    return createShellLink(target, linkPath, description, arguments, workingFolder, iconPath, 0);
}

bool createStartMenuEntry(const std::wstring& target, const std::wstring& workingFolder,
                          const std::wstring& name, const std::wstring& subfolder,
                          const std::wstring& description, const std::wstring& arguments,
                          const std::wstring& iconPath, int iconIndex, bool perUser) {
    std::wstring folder;
    if (!shellFolder(perUser ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS, folder)) return false;
    if (!subfolder.empty()) {
        folder += L"\\" + subfolder;
        ::CreateDirectoryW(folder.c_str(), nullptr);
    }
    std::wstring base = folder + L"\\" + name;
    // Case-sensitive on purpose: "HTTP..." names a program, not an address.
    if (target.compare(0, 4, L"http") == 0) return writeInternetShortcut(base + L".url", target);
    return createShellLink(target, base + L".lnk", description, arguments, workingFolder, iconPath,
                           iconIndex);
}

bool deleteDesktopShortcut(const std::wstring& name, bool perUser) {
    std::wstring desktop;
    if (!shellFolder(perUser ? CSIDL_DESKTOPDIRECTORY : CSIDL_COMMON_DESKTOPDIRECTORY, desktop))
        return false;
    return ::DeleteFileW((desktop + L"\\" + name + L".lnk").c_str()) != FALSE;
}

std::wstring startMenuProgramsFolder(bool perUser) {
    std::wstring folder;
    if (shellFolder(perUser ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS, folder)) return folder;
    return perUser ? std::wstring() : L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
}

std::wstring desktopFolder(bool perUser) {
    std::wstring folder;
    (void)shellFolder(perUser ? CSIDL_DESKTOPDIRECTORY : CSIDL_COMMON_DESKTOPDIRECTORY, folder);
    return folder;
}

}  // namespace tessaryn

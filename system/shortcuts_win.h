#pragma once
// The product's shortcuts: shell links on the all-users desktop and in the all-users Start menu,
// and an Internet shortcut for a web address. Both folders are the machine's (HKLM), writable by
// administrators only; the user's own Desktop, named in HKCU, is never written or deleted in,
// except for the user's own install (`perUser`), whose shortcuts are in the user's folders.
#include <string>

namespace tessaryn {

// Writes a shell link. An empty working folder means the target's folder; an empty icon path
// means the target. True when the link file was saved.
[[nodiscard]]
bool createShellLink(const std::wstring& target, const std::wstring& linkPath,
                     const std::wstring& description, const std::wstring& arguments,
                     const std::wstring& workingFolder, const std::wstring& iconPath,
                     int iconIndex);

// All-users desktop + "\" + name + ".lnk", replacing a file of that name.
[[nodiscard]]
bool createDesktopShortcut(const std::wstring& target, const std::wstring& workingFolder,
                           const std::wstring& name, const std::wstring& description,
                           const std::wstring& arguments, const std::wstring& iconPath,
                           bool perUser);

// All-users programs folder (+ "\" + subfolder when given) + "\" + name: ".url" for a target that
// begins with "http", else ".lnk".
[[nodiscard]]
bool createStartMenuEntry(const std::wstring& target, const std::wstring& workingFolder,
                          const std::wstring& name, const std::wstring& subfolder,
                          const std::wstring& description, const std::wstring& arguments,
                          const std::wstring& iconPath, int iconIndex, bool perUser);

// Deletes the all-users desktop's name + ".lnk".
[[nodiscard]] bool deleteDesktopShortcut(const std::wstring& name, bool perUser);

// The programs folder of the Start menu: the all-users one, or the user's own.
std::wstring startMenuProgramsFolder(bool perUser);
// The desktop folder: the all-users one, or the user's own.
std::wstring desktopFolder(bool perUser);

// The Internet shortcut's text for an address, without a terminating NUL.
std::wstring internetShortcutText(const std::wstring& url);

}  // namespace tessaryn

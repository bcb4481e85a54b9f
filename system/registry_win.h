#pragma once
// The product's record in the system's list of installed programs.
#include <cstdint>
#include <optional>
#include <string>

namespace tessaryn {

// "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\" + display name, under HKEY_LOCAL_MACHINE,
// or HKEY_CURRENT_USER for the signed-in user's own install (`perUser`).
std::wstring uninstallKeyPath(const std::wstring& displayName);

struct UninstallRecord {
    std::wstring displayName;
    std::wstring uninstaller;      // full path, unquoted
    std::wstring installLocation;  // the product's folder
    std::wstring publisher;        // optional values: empty ones are left out
    std::wstring displayVersion;
    std::wstring aboutUrl;
    std::wstring helpLink;
    std::wstring displayIcon;
    uint32_t estimatedSizeKb = 0;  // 0 leaves "EstimatedSize" out
};

// Creates or overwrites the record. "UninstallString" is the quoted uninstaller path (the
// "Installed apps" page runs it as a command line, where an unquoted path with spaces could start
// a program planted at "C:\Program.exe"); "QuietUninstallString" adds " /VERYSILENT". False only
// when the key cannot be created or opened; a value that cannot be set is silently missing.
[[nodiscard]] bool registerUninstallEntry(const UninstallRecord& record, bool perUser);

// The record's "DisplayVersion" (the installed version); empty when there is no record or no
// string value of that name.
std::optional<std::wstring> installedVersion(const std::wstring& displayName, bool perUser);

// Removes the record with everything under it: the system's result (ERROR_FILE_NOT_FOUND when
// there was none).
[[nodiscard]] long deleteUninstallEntry(const std::wstring& displayName, bool perUser);

}  // namespace tessaryn

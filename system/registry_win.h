#pragma once
// The product's record in the system's list of installed programs.
#include <string>

namespace tessaryn {

// "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\" + display name, under HKEY_LOCAL_MACHINE.
std::wstring uninstallKeyPath(const std::wstring& displayName);

// Creates or overwrites the record. Empty optional values are left out. False only when the key
// cannot be created or opened; a value that cannot be set is silently missing.
bool registerUninstallEntry(const std::wstring& displayName, const std::wstring& uninstallString,
                            const std::wstring& publisher, const std::wstring& displayVersion,
                            const std::wstring& aboutUrl, const std::wstring& displayIcon);

}  // namespace tessaryn

#include "system/registry_win.h"

#include <cstdio>
#include <ctime>

#include "system/handles_win.h"

namespace tessaryn {

namespace {

void setString(HKEY key, const wchar_t* name, const std::wstring& value) {
    // The size counts the terminating NUL.
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// An empty value is left out; one left over from an earlier registration is removed so that the
// record never shows, say, the version of a previous installation.
void setOptionalString(HKEY key, const wchar_t* name, const std::wstring& value) {
    if (value.empty()) {
        ::RegDeleteValueW(key, name);
    } else {
        setString(key, name, value);
    }
}

void setDword(HKEY key, const wchar_t* name, DWORD value) {
    ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

std::wstring todayAsInstallDate() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    // YYYYMMDD, written digit by digit (no wide printf in the setup: it weighs 10 KB).
    const int value = (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
    std::wstring text(8, L'0');
    for (int at = 7, rest = value; at >= 0; --at, rest /= 10) text[at] = static_cast<wchar_t>(L'0' + rest % 10);
    return text;
}

HKEY uninstallRoot(bool perUser) {
    return perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

}  // namespace

std::wstring uninstallKeyPath(const std::wstring& displayName) {
    return L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + displayName;
}

std::optional<std::wstring> installedVersion(const std::wstring& displayName, bool perUser) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(uninstallRoot(perUser), uninstallKeyPath(displayName).c_str(), 0, KEY_READ,
                        key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t value[256] = {};
    DWORD type = 0;
    DWORD size = sizeof value - sizeof(wchar_t);  // room for a terminator the value may lack
    if (::RegQueryValueExW(key.get(), L"DisplayVersion", nullptr, &type,
                           reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    std::wstring text(value, size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

long deleteUninstallEntry(const std::wstring& displayName, bool perUser) {
    return ::RegDeleteTreeW(uninstallRoot(perUser), uninstallKeyPath(displayName).c_str());
}

bool registerUninstallEntry(const UninstallRecord& record, bool perUser) {
    UniqueRegKey key;
    if (::RegCreateKeyExW(uninstallRoot(perUser), uninstallKeyPath(record.displayName).c_str(), 0,
                          nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring command = L"\"" + record.uninstaller + L"\"";
    setString(key.get(), L"DisplayName", record.displayName);
    setString(key.get(), L"UninstallString", command);
    setString(key.get(), L"QuietUninstallString", command + L" /VERYSILENT");
    setOptionalString(key.get(), L"InstallLocation", record.installLocation);
    setOptionalString(key.get(), L"DisplayIcon", record.displayIcon);
    setOptionalString(key.get(), L"Publisher", record.publisher);
    setOptionalString(key.get(), L"DisplayVersion", record.displayVersion);
    setOptionalString(key.get(), L"URLInfoAbout", record.aboutUrl);
    setOptionalString(key.get(), L"HelpLink", record.helpLink);
    if (record.estimatedSizeKb != 0) {
        setDword(key.get(), L"EstimatedSize", record.estimatedSizeKb);
    } else {
        ::RegDeleteValueW(key.get(), L"EstimatedSize");
    }
    setString(key.get(), L"InstallDate", todayAsInstallDate());
    setDword(key.get(), L"NoRepair", 1);
    setDword(key.get(), L"NoModify", 1);
    return true;
}

}  // namespace tessaryn

#include "system/system_info_win.h"

#include "system/handles_win.h"

namespace tessaryn {

namespace {

std::wstring architectureName(unsigned architecture) {
    switch (architecture) {
        case PROCESSOR_ARCHITECTURE_INTEL:
            return L"x86";
        case PROCESSOR_ARCHITECTURE_AMD64:
            return L"x64";
        case PROCESSOR_ARCHITECTURE_ARM64:
            return L"ARM64";
        default:
            return L"Unknown";
    }
}

}  // namespace

std::wstring getOsVersion() {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                        KEY_READ, key.put()) != ERROR_SUCCESS) {
        return L"10";
    }
    // A 64-byte value buffer plus one spare character, so the text stays terminated even when
    // the value fills the buffer.
    wchar_t build[33] = {};
    DWORD size = sizeof(build) - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), L"CurrentBuild", nullptr, nullptr,
                           reinterpret_cast<BYTE*>(build), &size) != ERROR_SUCCESS) {
        return L"10";
    }
    return std::wstring(L"10 Build ") + build;
}

std::wstring getSystemDescription() {
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
    std::wstring localeName = L"en";
    if (::GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH) > 0) localeName = locale;
    return L"Windows " + getOsVersion() + L"; " + architectureName(info.wProcessorArchitecture) +
           L"; " + localeName;
}

}  // namespace tessaryn

#include "system/machine_environment_win.h"

#include <windows.h>

#include "system/handles_win.h"

namespace tessaryn {
namespace {

constexpr wchar_t kVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kProfilesKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The folders the system names for every process, where the system itself takes them from
// (machine keys, writable by administrators only). A 64-bit process reads the 64-bit view, so
// the "W6432" names are the same folders.
void addMachineFacts(std::wstring& into) {
    wchar_t windows[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
    if (length >= 2 && length <= MAX_PATH) {
        setValue(into, L"SystemRoot", windows);
        setValue(into, L"windir", windows);
        setValue(into, L"SystemDrive", std::wstring_view(windows, 2));
    }
    struct Fact {
        const wchar_t* name;
        const wchar_t* key;
        const wchar_t* value;
    };
    static const Fact facts[] = {
        {L"ProgramFiles", kVersionKey, L"ProgramFilesDir"},
        {L"ProgramW6432", kVersionKey, L"ProgramFilesDir"},
        {L"ProgramFiles(x86)", kVersionKey, L"ProgramFilesDir (x86)"},
        {L"CommonProgramFiles", kVersionKey, L"CommonFilesDir"},
        {L"CommonProgramW6432", kVersionKey, L"CommonFilesDir"},
        {L"CommonProgramFiles(x86)", kVersionKey, L"CommonFilesDir (x86)"},
        {L"ProgramData", kProfilesKey, L"ProgramData"},
        {L"ALLUSERSPROFILE", kProfilesKey, L"ProgramData"},
        {L"PUBLIC", kProfilesKey, L"Public"},
    };
    for (const Fact& fact : facts) {
        wchar_t data[MAX_PATH + 1] = {};
        DWORD bytes = sizeof(data) - sizeof(wchar_t);
        if (::RegGetValueW(HKEY_LOCAL_MACHINE, fact.key, fact.value,
                           RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, data,
                           &bytes) == ERROR_SUCCESS)
            setValue(into, fact.name, expandReferences(data, into));
    }
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (::GetComputerNameW(computer, &size)) setValue(into, L"COMPUTERNAME", computer);
}

// The string values of the machine's environment key, as stored: the plain ones and those that
// name others.
void readMachineVariables(std::wstring& plain, std::wstring& expandable) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                        L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", 0,
                        KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return;
    const UniqueRegKey key(opened);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256], data[4096];
        DWORD nameLength = 256, type = 0, bytes = sizeof(data) - sizeof(wchar_t);
        const LONG result = ::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &bytes);
        if (result == ERROR_NO_MORE_ITEMS) break;
        // A value too long for the buffer is left out rather than cut.
        if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) continue;
        data[bytes / sizeof(wchar_t)] = L'\0';
        setValue(type == REG_SZ ? plain : expandable, name, data);
    }
}

}  // namespace

std::wstring machineEnvironment(const std::wstring& privateTemp, const std::wstring& extra) {
    std::wstring block, plain, expandable;
    addMachineFacts(block);
    readMachineVariables(plain, expandable);
    addValues(block, plain, expandable);
    std::wstring temp = privateTemp;
    while (temp.size() > 3 && temp.back() == L'\\') temp.pop_back();
    setValue(block, L"TEMP", temp);
    setValue(block, L"TMP", temp);
    for (size_t at = 0; at < extra.size(); at = extra.find(L'\0', at) + 1) {
        const size_t equals = extra.find(L'=', at);
        setValue(block, std::wstring_view(extra).substr(at, equals - at),
                 extra.c_str() + equals + 1);
    }
    return finishedBlock(std::move(block));
}

}  // namespace tessaryn

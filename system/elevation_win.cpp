#include "system/elevation_win.h"

#include <shellapi.h>

#include "system/handles_win.h"

namespace tessaryn {

ElevationFacts readElevationFacts() {
    ElevationFacts facts;
    UniqueKernelHandle token;
    HANDLE raw = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) token.reset(raw);
    DWORD size = 0;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    if (token && ::GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size))
        facts.elevationType = static_cast<int>(type);
    alignas(TOKEN_USER) unsigned char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)] = {};
    if (token && ::GetTokenInformation(token.get(), TokenUser, user, sizeof user, &size))
        facts.localSystem =
            ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, WinLocalSystemSid);
    unsigned char admins[SECURITY_MAX_SID_SIZE] = {};
    DWORD adminsSize = sizeof admins;
    BOOL member = FALSE;
    if (::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize) &&
        ::CheckTokenMembership(nullptr, admins, &member))
        facts.administrator = member != FALSE;
    DWORD lua = 1;
    DWORD luaSize = sizeof lua;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE,
                       L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                       L"EnableLUA", RRF_RT_REG_DWORD, nullptr, &lua, &luaSize) == ERROR_SUCCESS)
        facts.elevationAvailable = lua != 0;
    return facts;
}

ElevatedRun runElevatedAndWait(const std::wstring& program, const std::wstring& arguments) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = arguments.c_str();
    info.nShow = SW_SHOWNORMAL;
    ElevatedRun run;
    if (!::ShellExecuteExW(&info) || !info.hProcess) {
        run.error = ::GetLastError();
        return run;
    }
    const UniqueKernelHandle process(info.hProcess);
    run.started = true;
    ::WaitForSingleObject(process.get(), INFINITE);
    if (!::GetExitCodeProcess(process.get(), &run.exitCode)) run.exitCode = static_cast<DWORD>(-1);
    return run;
}

}  // namespace tessaryn

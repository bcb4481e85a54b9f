// Writes or removes one uninstall record, for checks by readers outside this program.
// Usage: uninstall_entry_probe add NAME UNINSTALLER LOCATION PUBLISHER VERSION URL HELP ICON KB
//        uninstall_entry_probe remove NAME
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "system/handles_win.h"
#include "system/registry_win.h"

int main() {
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!arguments) return 2;
    const tessaryn::LocalMemoryOf<wchar_t*> owned(arguments);
    std::wstring verb = count > 1 ? arguments[1] : L"";
    int result = 2;
    if (verb == L"add" && count == 11) {
        const tessaryn::UninstallRecord record{
            arguments[2], arguments[3], arguments[4], arguments[5], arguments[6],
            arguments[7], arguments[8], arguments[9],
            static_cast<uint32_t>(std::wcstoul(arguments[10], nullptr, 10))};
        result = tessaryn::registerUninstallEntry(record, false) ? 0 : 1;
    } else if (verb == L"remove" && count == 3) {
        result = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                                  tessaryn::uninstallKeyPath(arguments[2]).c_str()) == ERROR_SUCCESS
                     ? 0
                     : 1;
    }
    return result;
}

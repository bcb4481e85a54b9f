#include "app/uninstall_road_win.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "app/setup_state.h"
#include "system/folder_swap_win.h"
#include "system/process_win.h"
#include "system/registry_win.h"
#include "system/removal_win.h"
#include "system/run_log.h"
#include "system/shortcuts_win.h"
#include "system/unicode_win.h"
#include "telemetry/events_win.h"

namespace tessaryn {
namespace {

std::wstring commonProgramsFolder() {
    wchar_t folder[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, folder)))
        return folder;
    return L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
}

}  // namespace

int runUninstallRoad(const RunContext& context) {
    const SetupState& state = setupState();
    if (!state.verySilent) {
        const std::string question = "Would you like to uninstall " + state.productName + "?";
        const int answer = MessageBoxW(nullptr, toWide(question).c_str(), L"Uninstall",
                                       MB_YESNO | MB_ICONQUESTION);
        logLine("Message (Uninstall): " + question +
                (answer == IDYES ? " Answer: Yes" : " Answer: No"));
        if (answer != IDYES) return kExitDeclined;
    }
    sendMetric(UsageEvent::UninstallStarted, true);
    // The last moment a host's answer may end the run: from here on things are removed.
    if (hostAskedToEnd()) return kHostEndExitCode;
    runCommands(state.postCommands, context.installDir, machineEnvironment(context.workDir));

    const std::wstring name = toWide(state.productName);
    if (state.createDesktopShortcut) (void)deleteDesktopShortcut(name);
    (void)deleteDirectoryTree(commonProgramsFolder() + L"\\" + name);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstallKeyPath(name).c_str());
    // What a killed setup left beside the folder goes with the product; a setup running now
    // holds its folders, and they stay.
    removeLeftoverSideFolders(context.installDir, name);

    logLine("Message (Uninstall): Uninstall completed.");
    if (!state.verySilent)
        MessageBoxA(nullptr, "Uninstall completed.", "Uninstall", MB_ICONINFORMATION);
    // The end lets the event of this run go out before the process ends under it.
    selfRemove(context.installDir, context.workDir);
}

}  // namespace tessaryn

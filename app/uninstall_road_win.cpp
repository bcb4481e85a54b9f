#include "app/uninstall_road_win.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "app/setup_state.h"
#include "system/process_win.h"
#include "system/registry_win.h"
#include "system/removal_win.h"
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
        if (MessageBoxW(nullptr, toWide(question).c_str(), L"Uninstall",
                        MB_YESNO | MB_ICONQUESTION) != IDYES)
            return kExitDeclined;
    }
    sendMetric(8, true);
    runCommands(state.postCommands, context.installDirUtf8);

    const std::wstring name = toWide(state.productName);
    if (state.createDesktopShortcut) deleteDesktopShortcut(name);
    deleteDirectoryTree(commonProgramsFolder() + L"\\" + name);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstallKeyPath(name).c_str());

    if (!state.verySilent)
        MessageBoxA(nullptr, "Uninstall completed.", "Uninstall", MB_ICONINFORMATION);
    // The event of this run goes out before the process ends under it.
    waitForPendingMetrics(kPendingMetricsWait);
    selfRemove(context.installDirUtf8, context.workDir);
}

}  // namespace tessaryn

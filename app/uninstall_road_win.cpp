#include "app/uninstall_road_win.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "app/setup_paths.h"
#include "app/setup_settings.h"
#include "app/ui_text.h"
#include "app/run_outcome_win.h"
#include "app/startup_win.h"
#include "app/uninstall_end.h"
#include "package/public_key.h"
#include "system/folder_swap_win.h"
#include "system/handles_win.h"
#include "system/process_win.h"
#include "system/registry_win.h"
#include "system/removal_win.h"
#include "system/run_log.h"
#include "system/shortcuts_win.h"
#include "system/system_reason.h"
#include "system/unicode_win.h"
#include "telemetry/events_win.h"

namespace tessaryn {
std::vector<std::string> installedPostCommands(const std::wstring& folder,
                                               const std::string& productName) {
    const UniqueFile file(CreateFileW((folder + toWide(kUninstallerDatFileName)).c_str(),
                                      GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    LARGE_INTEGER size{};
    DWORD got = 0;
    SetupSettings settings;
    // No larger than the setup reads a setup information file; checked as its uninstaller
    // checks it, with the same context and key.
    if (file && GetFileSizeEx(file.get(), &size) &&
        static_cast<uint64_t>(size.QuadPart) <= kLargestSettingsFile) {
        std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
        if (ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
            got == bytes.size() &&
            verifySignedBytes(bytes.data(), got, kSettingsContext, publisherPublicKey()))
            settings.loadBytes(bytes.data(), got - kSignatureBytes);
    }
    if (!settings.loaded() || settings.getString("prod", "") != productName) {
        logLine("Post commands of the previous version not run: its setup information file is "
                "missing or not signed for this product");
        return {};
    }
    return settings.getStringArray("post", {});
}

std::vector<std::string> removeShortcuts(const std::string& productName, bool desktop,
                                         bool perUser) {
    const std::wstring name = toWide(productName);
    std::vector<std::string> left;
    // One that is absent was never made or is gone already; only one still there is left.
    const auto note = [&](bool removed, const std::wstring& path) {
        if (!removed && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            logLine("Shortcut not removed: " + toUtf8(path));
            left.push_back(toUtf8(path));
        }
    };
    if (desktop) {
        const std::wstring link = desktopFolder(perUser) + L"\\" + name + L".lnk";
        note(deleteDesktopShortcut(name, perUser), link);
    }
    const std::wstring programs = startMenuProgramsFolder(perUser);
    if (!programs.empty()) {
        const std::wstring folder = programs + L"\\" + name;
        note(deleteDirectoryTree(folder), folder);
    }
    return left;
}

int runUninstallRoad(const CommandLineOptions& options, const CheckedRelease& release,
                     const RunContext& context) {
    const bool silent = asksNothing(options);
    if (!silent) {
        const UiTexts& texts = uiTexts();
        const std::string question = texts.fill(Text::uninstall_question, release.productName);
        const int answer = MessageBoxW(nullptr, toWide(question).c_str(),
                                       toWide(texts(Text::uninstall_title)).c_str(),
                                       boxStyle(MB_YESNO | MB_ICONQUESTION));
        logLine("Message (Uninstall): " + question +
                (answer == IDYES ? " Answer: Yes" : " Answer: No"));
        if (answer != IDYES) return endRun({Outcome::Declined, {}}, silent);
    }
    sendMetric(UsageEvent::UninstallStarted, true);
    // The last moment a host's answer may end the run: from here on things are removed.
    if (hostAskedToEnd()) return endRun({Outcome::HostEnded, {}}, silent);
    runCommands(release.postCommands, context.installDir, machineEnvironment(context.workDir));

    const std::wstring name = toWide(release.productName);
    const bool perUser = context.scope == Scope::PerUser;
    const std::vector<std::string> left =
        removeShortcuts(release.productName, release.createDesktopShortcut, perUser);
    const LONG deleted = deleteUninstallEntry(name, perUser);
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND)
        return endRun(uninstallEnd(systemReason(deleted), left, uiTexts()), silent);
    // What a killed setup left beside the folder goes with the product; a setup running now
    // holds its folders, and they stay.
    removeLeftoverSideFolders(context.installDir, name);

    endRun(uninstallEnd({}, left, uiTexts()), silent);
    // The end lets the event of this run go out before the process ends under it.
    selfRemove(context.installDir, context.workDir);
}

}  // namespace tessaryn

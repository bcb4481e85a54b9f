#include "app/startup_win.h"

#include <shlobj.h>

#include "app/command_line.h"
#include "app/fetch_and_check_win.h"
#include "app/installer_urls.h"
#include "app/product_name.h"
#include "app/setup_paths.h"
#include "app/setup_settings.h"
#include "app/setup_state.h"
#include "package/download_job_win.h"
#include "package/download_status.h"
#include "package/public_key.h"
#include "system/process_win.h"
#include "system/run_log.h"
#include "system/system_info_win.h"
#include "system/unicode_win.h"
#include "telemetry/events_win.h"
#include "telemetry/machine_id_win.h"
#include "ui/progress_window_win.h"
#include "ui/pump_win.h"

namespace tessaryn {
namespace {

std::wstring programFilesFolder() {
    PWSTR folder = nullptr;
    std::wstring result = L"C:\\Program Files";
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &folder)))
        result = folder;
    CoTaskMemFree(folder);
    return result;
}

// The largest setup information file taken: it is held in memory whole.
constexpr size_t kLargestSettingsFile = 16 * 1024 * 1024;

// Reads the settings from the checked bytes themselves (payload, then signature).
void readSettings(const std::vector<uint8_t>& signedBytes) {
    SetupSettings settings;
    settings.loadBytes(signedBytes.data(), signedBytes.size() - kSignatureBytes);
    SetupState& state = setupState();
    state.productName = settings.getString("prod", "");
    state.eulaText = settings.getString("eula", "");
    state.version = settings.getString("ver", "");
    state.initCommands = settings.getStringArray("init", {});
    state.postCommands = settings.getStringArray("post", {});
    state.websiteUrl = settings.getString("www", "");
    state.publisher = settings.getString("publisher", "");
    state.helpUrl = settings.getString("help", "");
    state.createDesktopShortcut = settings.getBool("desk");
    state.metricsEnabled = settings.getBool("metric");
    // Events are switched on only now, from the settings just read.
    configureTelemetry({state.metricsUrl, state.productName, state.machineId, state.userAgent,
                        state.verySilent, state.metricsEnabled});
}

}  // namespace

void showInvalidDataBox() {
    logLine("Message (Invalid data signature): Setup cannot continue. Please re-download and "
            "try again.");
    if (!setupState().verySilent)
        MessageBoxW(nullptr, L"Setup cannot continue. Please re-download and try again.",
                    L"Invalid data signature", MB_ICONERROR);
}

int reportDownloadFailure() {
    sendMetric(UsageEvent::DownloadFailed, true);
    const std::string text = downloadFailureText(webHostName());
    logLine("Message (Error): " + text);
    if (!setupState().verySilent)
        MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONERROR);
    return kExitFailure;
}

void initialiseState(const std::string& commandLine, RunContext& context) {
    SetupState& state = setupState();
    state.productName = "Tessaryn";
    // The command line comes before the addresses, so that "/URL:" reaches them.
    applyCommandLine(commandLine, state, serverOverride());
    formInstallerUrls();
    state.uninstallMode = isUninstallerBaseName(getModuleBaseName());
    state.machineId = makeMachineId();
    state.userAgent = "Setup/1.1 (" + toUtf8(getSystemDescription()) + ")";

    const std::wstring moduleDir = getModuleDirectory() + L"\\";
    const std::wstring& workDir = context.workDir;
    context.localDat = moduleDir + toWide(localDatFileName(state.productName, state.uninstallMode));
    context.tempDat = workDir + L"setup.dat";
    context.localPak = moduleDir + toWide(localPakFileName(state.productName));
    context.tempPak = workDir + L"setup.pak";
}

std::optional<int> obtainSettings(RunContext& context) {
    SetupState& state = setupState();
    const FetchRequest request{context.localDat, context.tempDat, state.datUrl,
                               "Initializing setup... ", kSettingsContext, !state.uninstallMode,
                               /*onSource=*/nullptr};
    Fetched fetched = fetchAndCheck(request);
    if (fetched.outcome == FetchOutcome::Missing) {
        logLine("Message (Error): Error uninstalling.");
        if (!state.verySilent) MessageBoxA(nullptr, "Error uninstalling.", "Error", MB_OK);
        return kExitSuccess;
    }
    if (fetched.outcome == FetchOutcome::DownloadFailed) return reportDownloadFailure();
    if (fetched.outcome != FetchOutcome::Checked || fetched.file.size() > kLargestSettingsFile) {
        sendMetric(UsageEvent::SignatureInvalid, true);
        showInvalidDataBox();
        return kExitFailure;
    }
    // Read once: these bytes are parsed now and stored as the uninstaller's copy later.
    context.signedSettings.assign(fetched.file.data(), fetched.file.data() + fetched.file.size());
    readSettings(context.signedSettings);
    // The name becomes a folder under Program Files that upgrades and uninstalls delete whole:
    // a name that is not one plain folder name is refused like an untrusted file.
    if (!isUsableProductName(state.productName)) {
        showInvalidDataBox();
        return kExitFailure;
    }
    // Reported only now: before the settings are read, events are still switched off.
    if (state.updaterMode) sendMetric(UsageEvent::UpdaterRun, true);

    context.installDir = programFilesFolder() + L"\\" + toWide(state.productName) + L"\\";
    context.installDirUtf8 = toUtf8(context.installDir);
    return std::nullopt;
}

}  // namespace tessaryn

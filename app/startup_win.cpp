#include "app/startup_win.h"

#include <shlobj.h>

#include <ctime>

#include "app/command_line.h"
#include "app/fetch_and_check_win.h"
#include "app/installer_urls.h"
#include "app/product_name.h"
#include "app/setup_paths.h"
#include "app/setup_settings.h"
#include "app/setup_state.h"
#include "app/download_job_win.h"
#include "package/block_map.h"
#include "package/public_key.h"
#include "package/release_rules.h"
#include "system/process_win.h"
#include "system/registry_win.h"
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

// Settings beside the setup older than this are refused when the web host names no newer
// release: without it, any release ever signed could be left beside the setup and installed.
#ifndef TESSARYN_RELEASE_FLOOR
#define TESSARYN_RELEASE_FLOOR ""
#endif

#ifdef TESSARYN_ACCEPT_UNBOUND_PACKAGE
constexpr bool kAcceptUnboundPackage = true;
#else
constexpr bool kAcceptUnboundPackage = false;
#endif

// What binds the settings to one release, read with them; checked before anything is fetched.
struct ReleaseTerms {
    const nlohmann::json* package = nullptr;
    const nlohmann::json* expires = nullptr;
    const nlohmann::json* blocks = nullptr;
};

// Reads the settings from the checked bytes themselves (payload, then signature).
ReleaseTerms readSettings(const std::vector<uint8_t>& signedBytes, SetupSettings& settings) {
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
    state.mirrors = packageMirrors(settings);
    for (const std::string& mirror : state.mirrors) logLine("Package mirror: " + mirror);
    // Events are switched on only now, from the settings just read.
    configureTelemetry({state.metricsUrl, state.productName, state.machineId, state.userAgent,
                        state.verySilent, state.metricsEnabled, answersPublicKey(),
                        toUtf8(getSystemDescription())});
    return {settings.find("package"), settings.find("expires"), settings.find("blocks")};
}

// An older release than this machine may get: said, and the run ends with its exit code.
int refuseOlder(const std::string& text) {
    logLine("Message (Older version): " + text);
    if (!setupState().verySilent)
        MessageBoxW(nullptr, toWide(text).c_str(), L"Older version", MB_ICONERROR);
    return kExitDowngradeRefused;
}

// The release's own terms, for an install: it names its package, is not past its time and is
// not older than the installed version. Empty when it may go on, else the exit code.
std::optional<int> checkReleaseTerms(const ReleaseTerms& terms, RunContext& context) {
    SetupState& state = setupState();
    const std::optional<PackageBinding> binding =
        terms.package ? readPackageBinding(*terms.package) : std::nullopt;
    const bool bindingValid = binding.has_value();
    // A block map stands only beside the package it divides, and must agree with it.
    std::optional<BlockMap> blocks;
    if (terms.blocks && binding) blocks = readBlockMap(*terms.blocks, *binding);
    const std::optional<int64_t> expires =
        terms.expires && terms.expires->is_string()
            ? parseUtcTime(terms.expires->get_ref<const std::string&>())
            : std::nullopt;
    if ((terms.package && !bindingValid) || (!terms.package && !kAcceptUnboundPackage) ||
        (terms.expires && !expires) || (terms.blocks && !blocks)) {
        logLine(!terms.package
                    ? "The settings name no package"
                    : "The settings' \"package\", \"blocks\" or \"expires\" is malformed");
        sendMetric(UsageEvent::SignatureInvalid, true);
        showInvalidDataBox();
        return kExitFailure;
    }
    context.packageBinding = binding;
    context.blockMap = std::move(blocks);
    if (expires && static_cast<int64_t>(std::time(nullptr)) > *expires) {
        const std::string text = "The setup files have expired (" +
                                 terms.expires->get<std::string>() +
                                 "). Please download the setup again.";
        logLine("Message (Setup files expired): " + text);
        if (!state.verySilent)
            MessageBoxW(nullptr, toWide(text).c_str(), L"Setup files expired", MB_ICONERROR);
        return kExitSettingsExpired;
    }
    const std::optional<std::wstring> installed = installedVersion(toWide(state.productName));
    if (!installed) return std::nullopt;
    const std::string installedText = toUtf8(*installed);
    logLine("Installed version: " + installedText);
    if (compareVersions(state.version, installedText) >= 0) return std::nullopt;
    if (state.allowDowngrade) {
        logLine("Going back from " + installedText + " to " + state.version + " (/ALLOWDOWNGRADE)");
        return std::nullopt;
    }
    return refuseOlder(state.productName + " " + installedText +
                       " is installed; this setup holds the older version " + state.version +
                       " and does not replace it.");
}

// A fetched settings file that may be read, else the exit code (an invalid or oversized one).
std::optional<int> refuseUnchecked(const Fetched& fetched) {
    if (fetched.outcome == FetchOutcome::DownloadFailed)
        return reportDownloadFailure(failureCause(fetched.download));
    if (fetched.outcome == FetchOutcome::Checked && fetched.file.size() <= kLargestSettingsFile)
        return std::nullopt;
    sendMetric(UsageEvent::SignatureInvalid, true);
    showInvalidDataBox();
    return kExitFailure;
}

ReleaseMark releaseMark(const LockedFile& file) {
    SetupSettings settings;
    settings.loadBytes(file.data(), file.size() - kSignatureBytes);
    const nlohmann::json* package = settings.find("package");
    return {settings.getString("ver", ""),
            package ? readPackageBinding(*package) : std::nullopt};
}

// Settings beside the setup: the web host's current ones are fetched too (through the same
// request, now for the host alone), and the newer release wins. One try and no wait between
// tries, so that an offline install goes on at once; a host that gives no settings (whatever the
// reason: an attacker on the way can always cause one) leaves the files beside the setup, held
// to the floor.
std::optional<int> weighHostRelease(RunContext& context, FetchRequest& request,
                                    Fetched& fetched) {
    request.besideProgram.clear();
    request.workCopy = context.workDir + L"host.dat";
    request.tries = 1;
    Fetched host = fetchAndCheck(request);
    const bool answered = host.outcome != FetchOutcome::DownloadFailed;
    if (answered || host.download.failure == DownloadFailure::Cancelled)
        if (auto refused = refuseUnchecked(host)) return refused;
    const ReleaseMark beside = releaseMark(fetched.file);
    const ReleaseMark named = answered ? releaseMark(host.file) : ReleaseMark{};
    const ReleaseChoice choice =
        chooseRelease(beside, answered ? &named : nullptr, TESSARYN_RELEASE_FLOOR);
    static const char* const kWhy[] = {
        "the same release: package from beside the setup",
        "newer or another build: files beside the setup ignored",
        "older: the signed release beside the setup used",
        "the release beside the setup used",
        "the release beside the setup is below the floor " TESSARYN_RELEASE_FLOOR,
    };
    logLine("Beside the setup: release " + beside.version + "; web host: " +
            (answered ? "release " + named.version : failureCause(host.download)) + " - " +
            kWhy[static_cast<int>(choice)]);
    if (choice == ReleaseChoice::BelowFloor)
        return refuseOlder("The setup files are older than this setup accepts. Please download "
                           "the setup again.");
    if (choice == ReleaseChoice::Host) context.localPak.clear();
    if (choice <= ReleaseChoice::Host) fetched.file = std::move(host.file);
    return std::nullopt;
}

}  // namespace

void showInvalidDataBox() {
    logLine("Message (Invalid data signature): Setup cannot continue. Please re-download and "
            "try again.");
    if (!setupState().verySilent)
        MessageBoxW(nullptr, L"Setup cannot continue. Please re-download and try again.",
                    L"Invalid data signature", MB_ICONERROR);
}

int reportDownloadFailure(const std::string& cause) {
    sendMetric(UsageEvent::DownloadFailed, true);
    showDownloadFailure(setupState().verySilent, webHostName(), cause);
    return kExitFailure;
}

void initialiseState(const std::string& commandLine, RunContext& context) {
    SetupState& state = setupState();
    state.productName = kBuiltInProductName;
    // The command line comes before the addresses, so that "/URL:" reaches them.
    applyCommandLine(commandLine, state);
    formInstallerUrls();
    state.uninstallMode = isUninstallerBaseName(getModuleBaseName());
    state.machineId = makeMachineId();
    state.userAgent =
        std::string("Setup/") + kSetupVersion + " (" + toUtf8(getSystemDescription()) + ")";

    const std::wstring moduleDir = getModuleDirectory() + L"\\";
    const std::wstring& workDir = context.workDir;
    context.localDat = moduleDir + toWide(localDatFileName(state.productName, state.uninstallMode));
    context.tempDat = workDir + L"setup.dat";
    context.localPak = moduleDir + toWide(localPakFileName(state.productName));
    context.tempPak = workDir + L"setup.pak";
}

std::optional<int> obtainSettings(RunContext& context) {
    SetupState& state = setupState();
    // Always from the primary address: the mirrors are named in this very file.
    FetchRequest request{context.localDat, context.tempDat, {state.datUrl},
                         "Initializing setup... ", kSettingsContext, !state.uninstallMode,
                         /*onSource=*/nullptr};
    request.largest = kLargestSettingsFile;
    Fetched fetched = fetchAndCheck(request);
    if (fetched.outcome == FetchOutcome::Missing) {
        logLine("Message (Error): Error uninstalling.");
        if (!state.verySilent) MessageBoxA(nullptr, "Error uninstalling.", "Error", MB_OK);
        return kExitSuccess;
    }
    if (auto refused = refuseUnchecked(fetched)) return refused;
    // Copied from beside the setup (no download): another release than the host's current one.
    if (!state.uninstallMode && !fetched.download.complete)
        if (auto refused = weighHostRelease(context, request, fetched)) return refused;
    // Read once: these bytes are parsed now and stored as the uninstaller's copy later.
    context.signedSettings.assign(fetched.file.data(), fetched.file.data() + fetched.file.size());
    // Signed settings of another product (same key) are no settings of this setup.
    const std::string builtInName = state.productName;
    SetupSettings settings;
    const ReleaseTerms terms = readSettings(context.signedSettings, settings);
    // The name becomes a folder under Program Files that upgrades and uninstalls delete whole:
    // a name that is not one plain folder name is refused like an untrusted file.
    if (state.productName != builtInName || !isUsableProductName(state.productName)) {
        logLine("The settings are for the product \"" + state.productName + "\", not " +
                builtInName);
        if (!state.uninstallMode) sendMetric(UsageEvent::SignatureInvalid, true);
        showInvalidDataBox();
        return kExitFailure;
    }
    // The uninstaller's own copy was checked when it was installed; its time may have passed.
    if (!state.uninstallMode) {
        if (auto refused = checkReleaseTerms(terms, context)) return refused;
    }
    // Reported only now: before the settings are read, events are still switched off.
    if (state.updaterMode) sendMetric(UsageEvent::UpdaterRun, true);

    context.installDir = programFilesFolder() + L"\\" + toWide(state.productName) + L"\\";
    return std::nullopt;
}

}  // namespace tessaryn

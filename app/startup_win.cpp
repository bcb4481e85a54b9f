#include "app/ui_text_win.h"
#include "app/startup_win.h"

#include <shlobj.h>

#include <ctime>
#include <stdexcept>

#include "app/command_line.h"
#include "app/fetch_and_check_win.h"
#include "app/installer_urls.h"
#include "app/product_name.h"
#include "app/setup_paths.h"
#include "app/setup_settings.h"
#include "app/run_outcome_win.h"
#include "app/web_origin.h"
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

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    PWSTR folder = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &folder))) result = folder;
    CoTaskMemFree(folder);
    return result;
}

// The user's own programs folder; where the system does not know it (older systems, Wine), its
// documented place under the user's local application data.
std::wstring userProgramsFolder() {
    const std::wstring known = knownFolder(FOLDERID_UserProgramFiles);
    if (!known.empty()) return known;
    const std::wstring local = knownFolder(FOLDERID_LocalAppData);
    if (local.empty()) throw std::runtime_error("The user's application data folder is unknown");
    return local + L"\\Programs";
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
    const nlohmann::json* index = nullptr;
};

// Reads the release from the checked bytes themselves (payload, then signature).
ReleaseTerms readRelease(SetupSettings& settings, CheckedRelease& release) {
    const std::vector<uint8_t>& bytes = release.signedBytes;
    settings.loadBytes(bytes.data(), bytes.size() - kSignatureBytes);
    release.productName = settings.getString("prod", "");
    release.eulaText = settings.licenseText(uiTexts().tag());
    release.version = settings.getString("ver", "");
    release.initCommands = settings.getStringArray("init", {});
    release.postCommands = settings.getStringArray("post", {});
    release.websiteUrl = settings.getString("www", "");
    release.publisher = settings.getString("publisher", "");
    release.helpUrl = settings.getString("help", "");
    release.createDesktopShortcut = settings.getBool("desk");
    release.metricsEnabled = settings.getBool("metric");
    release.mirrors = packageMirrors(settings);
    for (const std::string& mirror : release.mirrors) logLine("Package mirror: " + mirror);
    return {settings.find("package"), settings.find("expires"), settings.find("blocks"),
            settings.find("index")};
}

// Events are switched on only now, from the release just read. The sender keeps this one
// configuration for the rest of the process: events and the host's answers are handled on
// background threads, which must never see it change under them.
void switchEventsOn(const CommandLineOptions& options, const CheckedRelease& release,
                    const RunContext& context) {
    configureTelemetry({context.urls.metrics, release.productName, context.machineId,
                        context.userAgent, asksNothing(options),
                        release.metricsEnabled && !options.noMetrics,
                        answersPublicKey(), toUtf8(getSystemDescription())});
}

// The installed version, when it is newer than the release: the run ends with its exit code,
// unless /ALLOWDOWNGRADE goes back on purpose.
std::optional<int> refuseOlder(const CommandLineOptions& options, const CheckedRelease& release,
                               bool perUser) {
    const std::optional<std::wstring> installed =
        installedVersion(toWide(release.productName), perUser);
    if (!installed) return std::nullopt;
    const std::string installedText = toUtf8(*installed);
    logLine("Installed version: " + installedText);
    if (compareVersions(release.version, installedText) >= 0) return std::nullopt;
    if (options.allowDowngrade) {
        logLine("Going back from " + installedText + " to " + release.version +
                " (/ALLOWDOWNGRADE)");
        return std::nullopt;
    }
    return endRun(olderVersionEnd(release.productName, installedText, release.version),
                  asksNothing(options));
}

// The release's own terms, for an install: it names its package, is not past its time and is
// not older than the installed version. Empty when it may go on, else the exit code.
std::optional<int> checkReleaseTerms(const ReleaseTerms& terms, const CommandLineOptions& options,
                                     CheckedRelease& release, bool perUser) {
    const bool silent = asksNothing(options);
    const std::optional<PackageBinding> binding =
        terms.package ? readPackageBinding(*terms.package) : std::nullopt;
    // A block map stands only beside the package it divides, and must agree with it.
    std::optional<BlockMap> blocks;
    if (terms.blocks && binding) blocks = readBlockMap(*terms.blocks, *binding);
    std::optional<FileIndex> index;
    if (terms.index && binding) index = readFileIndex(*terms.index, *binding);
    const std::optional<int64_t> expires =
        terms.expires && terms.expires->is_string()
            ? parseUtcTime(terms.expires->get_ref<const std::string&>())
            : std::nullopt;
    if (!terms.package && !kAcceptUnboundPackage)
        return endRun(malformedSettingsEnd({}), silent, release.support());
    const char* malformed = terms.package && !binding   ? "package"
                            : terms.blocks && !blocks   ? "blocks"
                            : terms.index && !index     ? "index"
                            : terms.expires && !expires ? "expires"
                                                        : nullptr;
    if (malformed) return endRun(malformedSettingsEnd(malformed), silent, release.support());
    release.packageBinding = binding;
    release.blockMap = std::move(blocks);
    release.fileIndex = std::move(index);
    if (expires && static_cast<int64_t>(std::time(nullptr)) > *expires)
        return endRun({Outcome::Expired, terms.expires->get<std::string>()}, silent,
                      release.support());
    return refuseOlder(options, release, perUser);
}

// A fetched settings file that may be read, else the exit code (an invalid or oversized one).
std::optional<int> refuseUnchecked(const Fetched& fetched, bool silent) {
    if (fetched.outcome == FetchOutcome::DownloadFailed)
        return endWithDownloadFailure(fetched.download.failure,
                                      failureCause(fetched.download, uiTexts()), silent, {});
    if (fetched.outcome == FetchOutcome::Checked && fetched.file.size() <= kLargestSettingsFile)
        return std::nullopt;
    return endRun({Outcome::InvalidSignature, {}}, silent);
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
        if (auto refused = refuseUnchecked(host, request.noPrompt)) return refused;
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
    const std::string hostSide =
        answered ? "release " + named.version : failureCause(host.download, UiTexts());
    logLine("Beside the setup: release " + beside.version + "; web host: " + hostSide + " - " +
            kWhy[static_cast<int>(choice)]);
    if (choice == ReleaseChoice::BelowFloor)
        return endRun({Outcome::BelowFloor, {}}, request.noPrompt);
    if (choice == ReleaseChoice::Host) context.localPak.clear();
    if (choice <= ReleaseChoice::Host) fetched.file = std::move(host.file);
    return std::nullopt;
}

// With /VERSION, files beside the setup of another version are left where they are: they are
// not the release asked for, and would otherwise be weighed against it.
void ignoreAnotherVersionBeside(const std::string& version, RunContext& context,
                                FetchRequest& request, Fetched& fetched) {
    if (fetched.outcome != FetchOutcome::Checked || fetched.download.complete) return;
    const std::string beside = releaseMark(fetched.file).version;
    if (beside == version) return;
    logLine("Beside the setup: release " + beside + ", not the version " + version +
            " asked for: ignored");
    context.localPak.clear();
    request.besideProgram.clear();
    // A name of its own: the copy just checked stays locked until it is let go.
    request.workCopy = context.workDir + L"asked.dat";
    fetched = fetchAndCheck(request);
}

// No setup information beside the uninstaller: with the product's record still there, the
// uninstaller cannot remove what it installed; without it, there is nothing to remove.
int endWithoutUninstallInformation(bool silent, bool perUser) {
    const bool recorded = installedVersion(toWide(kBuiltInProductName), perUser).has_value();
    logLine(std::string("No setup information beside the uninstaller; the product is ") +
            (recorded ? "recorded as installed" : "not recorded as installed"));
    return endRun({recorded ? Outcome::UninstallerInfoMissing : Outcome::NothingToRemove,
                   kBuiltInProductName},
                  silent);
}

}  // namespace

std::wstring installFolderFor(Scope scope) {
    std::wstring base = scope == Scope::PerUser ? userProgramsFolder() : L"";
    if (scope == Scope::PerMachine) {
        base = knownFolder(FOLDERID_ProgramFiles);
        if (base.empty()) base = L"C:\\Program Files";
    }
    return base + L"\\" + toWide(kBuiltInProductName) + L"\\";
}

RunContext startRun(const CommandLineOptions& options, HANDLE programFile,
                    const std::wstring& workDir, int showCommand, const ScopePlan& plan) {
    RunContext context;
    context.scope = plan.scope;
    context.guardUserFolders = plan.guardUserFolders;
    context.mayOfferPerUser = plan.mayOfferPerUser;
    setEventScope(plan.scope == Scope::PerUser);
    context.showCommand = showCommand;
    context.programFile = programFile;
    context.workDir = workDir;
    context.uninstaller = isUninstallerBaseName(getModuleBaseName());
    // A kept release lives beside the current one on the host, under its version.
    context.urls = installerUrls(originFor(options.serverOverride), kBuiltInProductName);
    if (!context.uninstaller && !options.version.empty()) {
        const InstallerUrls kept = installerUrls(originFor(options.serverOverride),
                                                 kBuiltInProductName + ("-" + options.version));
        context.urls.dat = kept.dat;
        context.urls.pak = kept.pak;
    }
    context.machineId = makeMachineId();
    context.userAgent =
        std::string("Setup/") + kSetupVersion + " (" + toUtf8(getSystemDescription()) + ")";
    const std::wstring moduleDir = getModuleDirectory() + L"\\";
    context.localDat =
        moduleDir + toWide(localDatFileName(kBuiltInProductName, context.uninstaller));
    context.tempDat = workDir + L"setup.dat";
    context.localPak = moduleDir + toWide(localPakFileName(kBuiltInProductName));
    context.tempPak = workDir + L"setup.pak";
    // The settings must name this very product (obtainSettings refuses others).
    context.installDir = installFolderFor(plan.scope);
    return context;
}

std::variant<CheckedRelease, int> obtainSettings(const CommandLineOptions& options,
                                                 RunContext& context) {
    const bool silent = asksNothing(options);
    // Always from the primary address: the mirrors are named in this very file.
    FetchRequest request{context.localDat, context.tempDat, {context.urls.dat},
                         uiTexts()(Text::progress_initializing_setup) + " ", kSettingsContext,
                         !context.uninstaller,
                         /*onSource=*/nullptr};
    request.largest = kLargestSettingsFile;
    request.silent = options.verySilent;
    request.noPrompt = silent;
    request.userAgent = context.userAgent;
    Fetched fetched = fetchAndCheck(request);
    if (!context.uninstaller && !options.version.empty())
        ignoreAnotherVersionBeside(options.version, context, request, fetched);
    if (fetched.outcome == FetchOutcome::Missing)
        return endWithoutUninstallInformation(silent, context.scope == Scope::PerUser);
    if (auto refused = refuseUnchecked(fetched, silent)) return *refused;
    // Copied from beside the setup (no download): another release than the host's current one.
    if (!context.uninstaller && !fetched.download.complete)
        if (auto refused = weighHostRelease(context, request, fetched)) return *refused;
    // Read once: these bytes are parsed now and stored as the uninstaller's copy later.
    CheckedRelease release;
    release.signedBytes.assign(fetched.file.data(), fetched.file.data() + fetched.file.size());
    SetupSettings settings;
    const ReleaseTerms terms = readRelease(settings, release);
    switchEventsOn(options, release, context);
    // Signed settings of another product (same key) are no settings of this setup. The name
    // becomes a folder under Program Files that upgrades and uninstalls delete whole: a name
    // that is not one plain folder name is refused with them.
    if (release.productName != kBuiltInProductName || !isUsableProductName(release.productName)) {
        logLine("The settings are for the product \"" + release.productName + "\", not " +
                kBuiltInProductName);
        return endRun({context.uninstaller ? Outcome::UninstallerForeign : Outcome::OtherProduct,
                       release.productName},
                      silent, release.support());
    }
    if (!context.uninstaller && !options.version.empty() && release.version != options.version)
        return endRun(wrongVersionEnd(release.version, options.version), silent, release.support());
    // The uninstaller's own copy was checked when it was installed; its time may have passed.
    if (!context.uninstaller)
        if (auto refused =
                checkReleaseTerms(terms, options, release, context.scope == Scope::PerUser))
            return *refused;
    // Reported only now: before the settings are read, events are still switched off.
    if (options.updaterMode) sendMetric(UsageEvent::UpdaterRun, true);
    return release;
}

}  // namespace tessaryn

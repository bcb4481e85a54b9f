#include "app/ui_text_win.h"
#include "app/install_road_win.h"

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "app/exit_confirmation.h"
#include "app/fetch_and_check_win.h"
#include "app/install_worker_win.h"
#include "app/setup_paths.h"
#include "app/run_outcome_win.h"
#include "app/scope_road_win.h"
#include "app/staged_install_win.h"
#include "app/unpack_while_downloading_win.h"
#include "app/startup_win.h"
#include "app/uninstall_road_win.h"
#ifdef TESSARYN_UPDATE_ROAD
#include "app/update_road_win.h"
#endif
#include "app/download_job_win.h"
#include "package/file_index.h"
#include "package/public_key.h"
#include "package/release_rules.h"
#include "system/ascii_text.h"
#include "system/file_tree_win.h"
#include "system/file_bytes_win.h"
#include "system/handles_win.h"
#include "system/held_files.h"
#include "system/path_parts.h"
#include "system/process_win.h"
#include "system/program_file_win.h"
#include "system/registry_win.h"
#include "system/run_log.h"
#include "system/shell_launch_win.h"
#include "system/shortcuts_win.h"
#include "system/unicode_win.h"
#include "telemetry/events_win.h"
#include "ui/eula_window_win.h"
#include "ui/progress_window_win.h"
#include "ui/pump_win.h"

namespace tessaryn {
namespace {

// A pause that lets the user read a window's last line; nobody looks in a /VERYSILENT run.
void holdForTheEye(bool silent, std::chrono::steady_clock::duration span) {
    if (!silent) pumpFor(span);
}

void showProgressWindow(ProgressWindow& window, bool silent, const RunContext& context) {
    ShowWindow(window.handle(), silent ? SW_HIDE : context.showCommand);
    UpdateWindow(window.handle());
}

// Shows the license until it is accepted or the exit is confirmed (false). `forMeOnly` tells
// whether the user took their own install instead, where the run offers it.
bool acceptLicense(bool silent, const CheckedRelease& release, bool offer, bool& forMeOnly) {
    if (silent) return true;
    bool accepted = false;
    bool leaving = false;
    std::optional<EulaWindow> eula;
    eula.emplace(
        release.eulaText,
        wideText(Text::eula_title, release.productName + " " + release.version),
        EulaTexts{wideText(Text::eula_heading), wideText(Text::eula_instruction),
                  wideText(Text::eula_accept), wideText(Text::eula_decline),
                  wideText(Text::eula_next), wideText(Text::eula_cancel),
                  wideText(Text::eula_for_me_only), uiTexts().rightToLeft()},
        [&] {
            accepted = true;
            eula->destroy();
        },
        [&] {
            if (!confirmExitSetup()) return;
            // The run returns (with 1) rather than ending here, so that its work folder goes.
            leaving = true;
            eula->destroy();
            sendMetric(UsageEvent::LicenseDeclined, false);
        });
    if (offer) eula->offerForMeOnly();
    ShowWindow(eula->handle(), SW_SHOW);
    UpdateWindow(eula->handle());
    MSG message;
    while (!accepted && !leaving && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    forMeOnly = accepted && eula->forMeOnly();
    eula.reset();
    // The window's end posted WM_QUIT; still queued, it would close the next message box at once.
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    return accepted;
}

// Step 2: a fresh staging folder beside the install folder, before anything is fetched.
bool makeStagingFolder(bool silent, const RunContext& context, StagedInstall& staged) {
    pumpMessages();
    bool made = false;
    {
        ProgressWindow preparing(true, wideText(Text::progress_title),
                   wideText(Text::progress_initializing), uiTexts().rightToLeft());
        preparing.setStatusText(wideText(Text::progress_preparing));
        showProgressWindow(preparing, silent, context);
        made = staged.begin();
        logLine(made ? "Staging folder made" : "Staging folder not made");
        holdForTheEye(silent, std::chrono::seconds(1));
    }
    // The window's end posted WM_QUIT: still queued, it would close the next message box at once.
    pumpMessages();
    return made;
}

// The free space of the folder's volume; no limit when it cannot be told.
uint64_t freeSpaceFor(const std::wstring& folder) {
    const std::optional<uint64_t> free = freeDiskBytes(folder);
    if (!free) return UINT64_MAX;
    logLine("Disk space: " + std::to_string(*free) + " bytes free for " + toUtf8(folder) +
            ", the files unpacked as the package arrives stay within it");
    return *free;
}

// Step 3: with the hashes of the package's blocks named by the settings, the package is
// unpacked into the staging folder as its checked blocks arrive, downloaded or copied from
// beside the program. Without them it is unpacked only once it has arrived whole and checked.
void startUnpackingWhileDownloading(const CheckedRelease& release, const StagedInstall& staged,
                                    bool stagingMade,
                                    std::optional<UnpackWhileDownloading>& early) {
    if (!stagingMade || !release.packageBinding || !release.blockMap) return;
    const std::wstring target = staged.folder();
    early.emplace(release.packageBinding->size, toUtf8(target), freeSpaceFor(target));
}

// Why the whole, checked package is not the release's own: another version, or files its
// index does not describe (an update that took only the indexed spans would install other
// files than a full install of the same release). Empty when it is.
std::optional<RunEnd> releaseMismatch(const CheckedRelease& release, const LockedFile& package) {
    const std::optional<std::string> version =
        bundleVersion(package.data(), package.size() - kSignatureBytes);
    if (version != release.version) return packageVersionEnd(version, release.version);
    if (!release.fileIndex) return std::nullopt;
    const std::string disagreement =
        checkIndexAgainstPackage(*release.fileIndex, package.data(), package.size());
    if (disagreement.empty()) {
        logLine("File index: " + std::to_string(release.fileIndex->files.size()) +
                " files, as the package holds them");
        return std::nullopt;
    }
    return packageIndexEnd(disagreement);
}

// Step 3 on the update road: with a version installed, a signed index and no package beside the
// program, the staging folder is filled from the installed files that match and the other
// entries fetched as checked ranges. False, with a fresh staging folder, when the whole package
// is to be fetched instead (the reason logged).
// A setup built without the road (TESSARYN_UPDATE_ROAD off) always fetches the whole package.
bool updateFromInstalled(bool silent, const CheckedRelease& release, const RunContext& context,
                         StagedInstall& staged, bool& stagingMade) {
#ifndef TESSARYN_UPDATE_ROAD
    (void)silent, (void)release, (void)context, (void)staged, (void)stagingMade;
    return false;
#else
    if (!stagingMade || !release.fileIndex || !release.packageBinding ||
        !isDirectory(context.installDir) ||
        GetFileAttributesW(context.localPak.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    UpdateRequest request{&*release.fileIndex, release.packageBinding->size, context.installDir,
                          staged.folder(), context.workDir, {context.urls.pak},
                          context.userAgent};
    request.sources.insert(request.sources.end(), release.mirrors.begin(), release.mirrors.end());
    UnpackResult result = UnpackResult::failed(0, "no window");
    {
        ProgressWindow window(false, wideText(Text::progress_title),
                              wideText(Text::progress_initializing), uiTexts().rightToLeft());
        showProgressWindow(window, silent, context);
        result = unpackWhilePumping([&] { return updateIntoStaging(request, window); });
    }
    pumpMessages();
    if (result.isDone()) {
        // The package came from the host, in parts: the funnel counts it as downloaded. Sent
        // only here, as the whole package's road sends its own when it is taken instead.
        sendMetric(UsageEvent::PackageDownloadStarted, true);
        return true;
    }
    logLine("Update: the whole package instead, because " + result.text());
    staged.discard();
    stagingMade = staged.begin();
    return false;
#endif
}

// Step 4: fetches the package (beside the program, else from the web host) and checks it; the
// checked package stays locked in the context until unpacking has ended. A package of another
// version is another release, whatever key signed it.
std::optional<int> downloadAndCheckPackage(const CommandLineOptions& options,
                                           const CheckedRelease& release, RunContext& context,
                                           UnpackWhileDownloading* early) {
    const bool silent = asksNothing(options);
    const auto reportSource = [](bool besideProgram) {
        sendMetric(besideProgram ? UsageEvent::PackageBesideSetup
                                 : UsageEvent::PackageDownloadStarted,
                   true);
    };
    std::vector<std::string> sources{context.urls.pak};
    sources.insert(sources.end(), release.mirrors.begin(), release.mirrors.end());
    FetchRequest request{context.localPak,
                         context.tempPak,
                         std::move(sources),
                         uiTexts()(early ? Text::progress_downloading_installing
                                   : Text::progress_downloading) +
                             " ",
                         kPackageContext,
                         /*mayDownload=*/true,
                         reportSource,
                         release.packageBinding ? &*release.packageBinding : nullptr,
                         release.blockMap ? &*release.blockMap : nullptr};
    request.silent = options.verySilent;
    request.noPrompt = silent;
    request.userAgent = context.userAgent;
    if (early) {
        request.onOpened = [early](HANDLE file) { early->opened(file); };
        request.onChecked = [early](uint64_t end) { early->checked(end); };
        request.onRestart = [early] { early->restarted(); };
        request.statusSuffix = [early] { return early->statusSuffix(); };
    }
    Fetched fetched = fetchAndCheck(request);
    // Whatever was unpacked of a package that did not check is never used; a package copied
    // whole from beside the program after all never went by the hooks, so nothing of it arrives.
    const bool checked = fetched.outcome == FetchOutcome::Checked;
    if (early && (!checked || !fetched.followed)) early->stop();
    if (fetched.outcome == FetchOutcome::DownloadFailed)
        return endWithDownloadFailure(fetched.download.failure,
                                      failureCause(fetched.download, uiTexts()), silent,
                                      release.support());
    if (fetched.outcome == FetchOutcome::Checked && fetched.download.complete)
        setEventSource(static_cast<int32_t>(fetched.download.source));
    if (!checked) return endRun({Outcome::InvalidSignature, {}}, silent);
    if (const std::optional<RunEnd> mismatch = releaseMismatch(release, fetched.file)) {
        if (early) early->stop();
        return endRun(*mismatch, silent, release.support());
    }
    context.package = std::move(fetched.file);
    return std::nullopt;
}

// The install folder as a message names it.
std::string shownFolder(const RunContext& context) {
    return toUtf8(withoutTrailingSeparator(context.installDir));
}

// Step 5 on the whole road: the checked package unpacked into the staging folder; none when
// every file is there, else how the run ends.
std::optional<RunEnd> unpackWholePackage(RunContext& context, const std::wstring& target,
                                         ProgressWindow& window) {
    // Checked before the first file is written: a full disk stops nothing half-way.
    if (std::optional<RunEnd> shortfall = diskSpaceShortfall(context, target)) return shortfall;
    const UnpackResult unpacked =
        unpackWhilePumping([&] { return extractPackage(context, target, window); });
    if (unpacked.isDone()) return std::nullopt;
    return installFailedEnd(InstallStep::Unpack, shownFolder(context), unpacked.text());
}

// Step 5: every file of the checked package in the staging folder, unpacked while it arrived
// or now. An unpacking that could not follow the download (a restart, a form of the document
// read whole, the free space) is discarded and done again whole.
std::optional<RunEnd> unpackIntoStaging(RunContext& context, StagedInstall& staged,
                                        bool stagingMade,
                                        std::optional<UnpackWhileDownloading>& early,
                                        ProgressWindow& window) {
    if (early) {
        UnpackResult outcome = early->finish(window);
        early.reset();
        if (outcome.isDone()) {
            if (logActive()) {
                const std::vector<TreeFile> files = listFiles(staged.folder());
                logLine("Unpacked: " + std::to_string(files.size()) + " files, " +
                        std::to_string(totalSize(files)) + " bytes");
            }
            window.setProgress(100);
            return std::nullopt;
        }
        if (outcome.isFailed()) {
            logLine("Unpacking failed: " + outcome.text());
            return installFailedEnd(InstallStep::Unpack, shownFolder(context), outcome.text());
        }
        logLine("Unpacking again from the checked package: " + outcome.text());
        staged.discard();
        stagingMade = staged.begin();
    }
    if (!stagingMade) {
        logLine("Failed to create a folder for the installation files");
        return installFailedEnd(InstallStep::Staging, shownFolder(context));
    }
    return unpackWholePackage(context, staged.folder(), window);
}

// Step 6: the old version's processes end and its folder moves aside, held; the new folder takes
// its name. None when both moved, else how the run ends: the old folder is then where it was;
// a folder another program holds ends as files in use (a retry once it is closed succeeds).
std::optional<RunEnd> moveIntoPlace(const RunContext& context, StagedInstall& staged,
                                    bool upgrade) {
    if (upgrade) {
        terminateProcessesInDirectory(context.installDir);
        if (!staged.moveOldAside()) {
            const std::vector<FileHolder> holders = folderHolders(staged.installFolder());
            logLine("Previous version not moved aside, held by another program" +
                    holderList(holders));
            std::vector<std::string> names;
            for (const FileHolder& holder : holders) names.push_back(holder.name);
            return filesInUseEnd(shownFolder(context), names, kNamedHolders);
        }
        logLine("Previous version moved aside and held: " + toUtf8(staged.oldFolder()));
    }
    if (!staged.takeInstallName()) {
        logLine("Failed to move the installed files into place");
        return installFailedEnd(InstallStep::Move, shownFolder(context));
    }
    logLine("Moved into place");
    return std::nullopt;
}

// Step 8: the old version's removal, by this program, against the folder moved aside (where its
// files are): the new settings' post commands, then those its own checked settings name; its
// shortcuts. Its record was overwritten by the new one already. Its uninstallation is reported
// as its uninstaller did, so that the web host still counts 7 then 8 as an upgrade.
void removePreviousVersion(const CheckedRelease& release, const RunContext& context,
                           ProgressWindow& window, const StagedInstall& staged) {
    sendMetric(UsageEvent::PreviousVersionRemoval, true);
    sendMetric(UsageEvent::UninstallStarted, true);
    window.setStatusText(wideText(Text::progress_removing_previous));
    const std::wstring old = staged.oldFolder();
    const std::wstring environment = machineEnvironment(context.workDir);
    runCommands(release.postCommands, old, environment);
    runCommands(installedPostCommands(old, release.productName), old, environment);
    removeShortcuts(release.productName, true, context.scope == Scope::PerUser);
    logLine("Previous version removed");
}

void makeShortcuts(const CommandLineOptions& options, const CheckedRelease& release,
                   const RunContext& context, const std::wstring& productExe) {
    if (options.noIcons) {
        logLine("No shortcuts (/NOICONS)");
        return;
    }
    const std::wstring name = toWide(release.productName);
    const bool perUser = context.scope == Scope::PerUser;
    if (release.createDesktopShortcut)
        (void)createDesktopShortcut(productExe, context.installDir, name, L"", L"", L"", perUser);
    (void)createStartMenuEntry(productExe, context.installDir, name, name, L"", L"", L"", 0,
                               perUser);
    // Without a web page there is nothing for an "on the Web" entry to open.
    if (!release.websiteUrl.empty())
        (void)createStartMenuEntry(toWide(release.websiteUrl), context.installDir,
                                   name + L" on the Web", name, L"", L"",
                                   L"%SystemRoot%\\System32\\SHELL32.dll", 2, perUser);
}

// The record of the installed product; its size counts what is in the folder now.
UninstallRecord uninstallRecord(const CheckedRelease& release, const RunContext& context,
                                const std::wstring& uninstaller, const std::wstring& productExe) {
    std::wstring folder = context.installDir;
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    const uint64_t bytes = totalSize(listFiles(folder));
    logLine("Uninstall record: " + toUtf8(uninstaller) + ", " + std::to_string(bytes) + " bytes");
    return {toWide(release.productName), uninstaller,            folder,
            toWide(release.publisher),   toWide(release.version), toWide(release.websiteUrl),
            toWide(release.helpUrl),     productExe,              kilobytesOf(bytes)};
}

// Step 7, the last that can fail: the uninstaller (this program) and beside it the setup
// information file, signed again; the folder opened to Users; the record. None when all is
// done, else how the run ends (the step that failed is logged).
std::optional<RunEnd> installUninstaller(const CheckedRelease& release, const RunContext& context,
                                         StagedInstall& staged, const std::wstring& productExe) {
    const auto failed = [&context](InstallStep step, const char* logged) {
        logLine(logged);
        return installFailedEnd(step, shownFolder(context));
    };
    const std::wstring uninstaller = context.installDir + kUninstallerFileName;
    // Held since start-up: the name may lead to another file by now.
    if (!copyOpenFile(context.programFile, uninstaller))
        return failed(InstallStep::Uninstaller, "Failed to copy the uninstaller");
    logLine("Uninstaller copied");
    // Written from the bytes that were checked, never read again from the work folder.
    const std::wstring dat = context.installDir + toWide(kUninstallerDatFileName);
    DeleteFileW(dat.c_str());
    if (!writeFileBytes(dat, {reinterpret_cast<const char*>(release.signedBytes.data()),
                              release.signedBytes.size()}))
        return failed(InstallStep::UninstallInfo, "Failed to write the uninstall information");
    if (!staged.openToUsers())
        return failed(InstallStep::Access, "Failed to set the access of the installed files");
    if (!registerUninstallEntry(uninstallRecord(release, context, uninstaller, productExe),
                                context.scope == Scope::PerUser))
        return failed(InstallStep::Register, "Failed to register the uninstaller");
    logLine("Registered");
    return std::nullopt;
}

// Step 9: init commands, shortcuts, start of the product.
void startProduct(const CommandLineOptions& options, const CheckedRelease& release,
                  const RunContext& context, ProgressWindow& window,
                  PreparedLaunch& productLaunch, const std::wstring& productExe) {
    pumpMessages();
    window.setStatusText(wideText(Text::progress_initializing_product));
    runCommands(release.initCommands, context.installDir, machineEnvironment(context.workDir));
    makeShortcuts(options, release, context, productExe);
    logLine("Shortcuts made");
    if (options.noLaunch) {
        logLine("Product not started (/NOLAUNCH)");
    } else {
        // As the signed-in user: the product must not inherit the setup's elevation.
        productLaunch.launch(productExe, context.installDir);
        logLine("Product started");
    }
    pumpMessages();
    window.setStatusText(wideText(Text::progress_complete));
    window.setProgress(100);
    sendMetric(UsageEvent::InstallCompleted, false);
    holdForTheEye(options.verySilent, std::chrono::seconds(1));
}

}  // namespace

// The new version is unpacked beside the old one and takes its place only when complete, so that
// a failure before the swap leaves the old version installed as it was:
//   1. the license;
//   2. "Preparing to install...": leftovers of killed runs go, a fresh staging folder is made;
//   3. with a version installed and a signed index, the update road fills the staging folder
//      (steps 4 and 5 are then skipped; on any failure it is made afresh and the road goes on);
//      else, with block hashes in the settings, the unpacking starts, to follow the download;
//   4. the package is fetched and checked (signature, size and SHA-256, blocks, version);
//   5. "Installing files...": the unpacking ends (or, without block hashes or when it could not
//      follow the download, the checked package is unpacked now), each file written through to
//      the disk by the worker that wrote it;
//   6. the end of the old version's processes; its folder moved aside and held (a folder another
//      program holds stays, and the run fails); one rename puts the staging folder in place;
//   7. uninstaller, its settings, the folder's final access list, uninstall record;
//   8. "Removing previous version...": post commands in the folder moved aside, its shortcuts;
//   9. init commands, shortcuts and start of the product; the old folder removed.
// Nothing in the staging folder is used before step 4 has checked the whole package (on the
// update road: before every kept file and fetched entry has matched its signed hash). Nothing is
// lost before step 8: a failure up to step 7 puts the old folder back, removes the staging
// folder and ends the run with -1 after event 3. A host's answer
// may ask the run to end; it ends only between steps, never while files are swapped or the
// product registered.
int runInstallRoad(const CommandLineOptions& options, const CheckedRelease& release,
                   RunContext& context) {
    const bool silent = asksNothing(options);
    const bool hidden = options.verySilent;  // /SILENT shows the progress, asks nothing
    const auto hostEnd = [silent] { return endRun({Outcome::HostEnded, {}}, silent); };
    // A host that answers the exit event by asking for an end still gets its exit code.
    bool forMeOnly = false;
    if (!acceptLicense(silent, release, context.mayOfferPerUser, forMeOnly))
        return hostAskedToEnd() ? hostEnd() : endRun({Outcome::Declined, {}}, silent);
    if (forMeOnly) {
        // Offered only to a run that went on without relaunching: an elevated one, which keeps
        // its private work folder and checks the user's folders as any elevated run there.
        context.scope = Scope::PerUser;
        context.guardUserFolders = true;
        context.installDir = installFolderFor(Scope::PerUser);
        setEventScope(true);
        logLine("Install for me only: " + toUtf8(context.installDir));
        if (auto refused = refuseLinkedUserFolders(context, silent)) return *refused;
    }
    sendMetric(UsageEvent::LicenseAccepted, true);
    if (hostAskedToEnd()) return hostEnd();
    // The way to the desktop shell is found while the package comes.
    PreparedLaunch productLaunch;

    // Closed to Users until in place, unless the user's own unelevated process must write in it.
    const bool unguardedUserRoad = context.scope == Scope::PerUser && !context.guardUserFolders;
    StagedInstall staged(context.installDir, release.productName, !unguardedUserRoad);
    bool stagingMade = makeStagingFolder(hidden, context, staged);
    if (hostAskedToEnd()) return hostEnd();
    const bool updated = updateFromInstalled(hidden, release, context, staged, stagingMade);
    std::optional<UnpackWhileDownloading> early;
    if (!updated) startUnpackingWhileDownloading(release, staged, stagingMade, early);
    if (auto failed = updated ? std::nullopt
                              : downloadAndCheckPackage(options, release, context,
                                                        early ? &*early : nullptr))
        return *failed;
    if (hostAskedToEnd()) return hostEnd();

    ProgressWindow installing(false, wideText(Text::progress_title),
                              wideText(Text::progress_initializing), uiTexts().rightToLeft());
    installing.setStatusText(wideText(Text::progress_installing_application));
    showProgressWindow(installing, hidden, context);
    std::optional<RunEnd> failure =
        updated ? std::nullopt : unpackIntoStaging(context, staged, stagingMade, early, installing);
    context.package = LockedFile();  // unpacking has ended: the work folder may go

    const bool upgrade = isDirectory(context.installDir);
    const std::wstring productExe =
        context.installDir + toWide(lowerCaseAscii(release.productName) + ".exe");
    if (!failure) {
        failure = moveIntoPlace(context, staged, upgrade);
        if (!failure) failure = installUninstaller(release, context, staged, productExe);
        if (failure) staged.putOldBack();
    }

    if (failure) {
        staged.discard();
        const int code = endRun(*failure, silent, {}, installing.handle());
        holdForTheEye(hidden, std::chrono::seconds(3));
        DestroyWindow(installing.handle());
        // Pending events get their bounded wait as the process ends.
        holdForTheEye(hidden, std::chrono::seconds(2));
        return code;
    }
    staged.commit();
    if (upgrade) removePreviousVersion(release, context, installing, staged);
    startProduct(options, release, context, installing, productLaunch, productExe);
    staged.removeOld();
    // The installation is complete: an end asked for now is only a shorter goodbye.
    if (hostAskedToEnd()) return endRun({Outcome::Finished, {}}, silent);
    DestroyWindow(installing.handle());
    holdForTheEye(hidden, std::chrono::seconds(2));
    return endRun({Outcome::Finished, {}}, silent);
}

}  // namespace tessaryn

#include "app/install_road_win.h"

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "app/exit_confirmation.h"
#include "app/fetch_and_check_win.h"
#include "app/install_worker_win.h"
#include "app/setup_state.h"
#include "app/startup_win.h"
#include "app/terminate_processes_win.h"
#include "package/download_job_win.h"
#include "package/download_url.h"
#include "package/public_key.h"
#include "system/handles_win.h"
#include "system/process_win.h"
#include "system/registry_win.h"
#include "system/shortcuts_win.h"
#include "system/unicode_win.h"
#include "telemetry/events_win.h"
#include "ui/eula_window_win.h"
#include "ui/progress_window_win.h"
#include "ui/pump_win.h"

namespace tessaryn {
namespace {

constexpr auto kOldFolderRemovalLimit = std::chrono::seconds(30);

bool isDirectory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void showProgressWindow(ProgressWindow& window, const RunContext& context) {
    ShowWindow(window.handle(), setupState().verySilent ? SW_HIDE : context.showCommand);
    UpdateWindow(window.handle());
}

// Shows the license until it is accepted; the confirmed exit ends the process with 1.
bool acceptLicense() {
    SetupState& state = setupState();
    if (state.verySilent) return true;
    bool accepted = false;
    std::optional<EulaWindow> eula;
    eula.emplace(
        state.eulaText, toWide(state.productName + " " + state.version + " Setup - License Agreement"),
        [&] {
            accepted = true;
            eula->destroy();
        },
        [&] {
            if (!confirmExitSetup()) return;
            eula->destroy();
            sendMetric(6, false);
            ExitProcess(1);
        });
    ShowWindow(eula->handle(), SW_SHOW);
    UpdateWindow(eula->handle());
    MSG message;
    while (!accepted && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    eula.reset();
    return accepted;
}

// Fetches the package (beside the program, else from the web host) and checks it; the checked
// package stays locked in the context until unpacking has ended.
std::optional<int> obtainPackage(RunContext& context) {
    const SetupState& state = setupState();
    FetchRequest request;
    request.besideProgram = context.localPak;
    request.workCopy = context.tempPak;
    request.url = state.pakUrl;
    request.statusText = "Downloading setup files... ";
    request.context = kPackageContext;
    request.onSource = [](bool besideProgram) { sendMetric(besideProgram ? 1 : 0, true); };
    Fetched fetched = fetchAndCheck(request);
    if (fetched.outcome == FetchOutcome::DownloadFailed) {
        sendMetric(4, true);
        showDownloadFailure();
    }
    if (fetched.outcome != FetchOutcome::Checked) {
        sendMetric(2, true);
        showInvalidDataBox();
        return kExitFailure;
    }
    context.package = std::move(fetched.file);
    return std::nullopt;
}

// Runs the earlier version's clean-up commands and its uninstaller, and ends its processes.
void removePreviousVersion(const RunContext& context, ProgressWindow& window) {
    const SetupState& state = setupState();
    sendMetric(7, true);
    window.setStatusText(L"Removing previous version...");
    runCommands(state.postCommands, context.installDirUtf8);
    const std::string uninstaller = context.installDirUtf8 + "unins000.exe";
    // A run pointed at another web host points the old uninstaller there too, so that its
    // events reach the same host.
    std::string command = "\"" + uninstaller + "\" /VERYSILENT";
    if (!serverOverride().empty()) command += " /URL:" + serverOverride();
    bool uninstalled = runHidden(command, context.installDirUtf8);
    terminateProcessesInDirectory(context.installDirUtf8);
    // The old uninstaller removes its folder from a script that runs after it has ended; were
    // that script still at work during unpacking, it would delete the new files.
    if (uninstalled) {
        const auto end = std::chrono::steady_clock::now() + kOldFolderRemovalLimit;
        while (isDirectory(context.installDir) && std::chrono::steady_clock::now() < end)
            pumpFor(std::chrono::milliseconds(100));
    }
}

void makeShortcuts(const RunContext& context, const std::wstring& productExe) {
    const SetupState& state = setupState();
    const std::wstring name = toWide(state.productName);
    if (state.createDesktopShortcut)
        createDesktopShortcut(productExe, context.installDir, name, L"", L"", L"");
    createStartMenuEntry(productExe, context.installDir, name, name, L"", L"", L"", 0);
    // Without a web page there is nothing for an "on the Web" entry to open.
    if (!state.websiteUrl.empty())
        createStartMenuEntry(toWide(state.websiteUrl), context.installDir, name + L" on the Web",
                             name, L"", L"", L"%SystemRoot%\\System32\\SHELL32.dll", 2);
}

// The uninstaller is this program; beside it goes the setup information file, signed again.
void installUninstaller(const RunContext& context, const std::wstring& productExe) {
    const SetupState& state = setupState();
    const std::wstring uninstaller = context.installDir + L"unins000.exe";
    DeleteFileW(uninstaller.c_str());
    if (!CopyFileW(getModulePath().c_str(), uninstaller.c_str(), TRUE)) return;
    registerUninstallEntry(toWide(state.productName), uninstaller, L"", toWide(state.version),
                           toWide(state.websiteUrl), productExe);
    // Written from the bytes that were checked, never read again from the work folder.
    const std::wstring dat = context.installDir + L"unins000.dat";
    DeleteFileW(dat.c_str());
    writeFileBytes(dat, context.signedSettings.data(), context.signedSettings.size());
}

void completeInstallation(const RunContext& context, ProgressWindow& window) {
    const SetupState& state = setupState();
    const std::string productExe =
        context.installDirUtf8 + lowerCaseAscii(state.productName) + ".exe";
    pumpMessages();
    window.setStatusText(L"Initializing product...");
    runCommands(state.initCommands, context.installDirUtf8);
    makeShortcuts(context, toWide(productExe));
    installUninstaller(context, toWide(productExe));
    openWithShell(productExe);
    pumpMessages();
    window.setStatusText(L"Installation complete!");
    window.setProgress(100);
    sendMetric(9, false);
    pumpFor(std::chrono::seconds(1));
}

void reportWorkerFailure(ProgressWindow& window, const WorkerState& worker) {
    sendMetric(3, true);
    if (!setupState().verySilent) {
        HWND owner = IsWindow(window.handle()) ? window.handle() : nullptr;
        MessageBoxW(owner, toWide(worker.error).c_str(), L"Error", MB_ICONERROR);
    }
    pumpFor(std::chrono::seconds(3));
}

}  // namespace

int runInstallRoad(RunContext& context) {
    if (!acceptLicense()) return kExitDeclined;
    sendMetric(5, true);
    if (auto failed = obtainPackage(context)) return *failed;

    pumpMessages();
    {
        ProgressWindow preparing(true, L"Setup");
        preparing.setStatusText(L"Preparing to install...");
        showProgressWindow(preparing, context);
        if (isDirectory(context.installDir)) removePreviousVersion(context, preparing);
        pumpFor(std::chrono::seconds(1));
    }

    ProgressWindow installing(false, L"Setup");
    installing.setStatusText(L"Installing the application...");
    showProgressWindow(installing, context);
    terminateProcessesInDirectory(context.installDirUtf8);

    WorkerState worker;
    std::thread extraction(
        [&context, &installing, &worker] { extractPackage(context, installing, worker); });
    waitForWorker(installing, worker);
    extraction.join();
    context.package = LockedFile();  // unpacking has ended: the work folder may go

    if (worker.failed)
        reportWorkerFailure(installing, worker);
    else
        completeInstallation(context, installing);

    DestroyWindow(installing.handle());
    pumpFor(std::chrono::seconds(2));
    return kExitSuccess;
}

}  // namespace tessaryn

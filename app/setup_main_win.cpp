// The setup program: the web setup of the product, or, named "unins000", its uninstaller.
#include <windows.h>

#include <exception>
#include <string>
#include <variant>

#include "app/language_win.h"
#include "app/ui_text_win.h"
#include "app/command_line.h"
#include "app/install_road_win.h"
#include "app/product_name.h"
#include "app/setup_paths.h"
#include "app/run_outcome_win.h"
#include "app/scope_road_win.h"
#include "app/startup_win.h"
#include "app/uninstall_road_win.h"
#include "app/work_folder_win.h"
#include "package/signature_check.h"
#include "system/file_tree_win.h"
#include "system/handles_win.h"
#include "system/named_mutex_win.h"
#include "system/process_end_win.h"
#include "system/private_folder_win.h"
#include "system/process_win.h"
#include "system/program_file_win.h"
#include "system/run_log.h"
#include "system/run_log_win.h"
#include "system/system_folder_win.h"
#include "system/system_info_win.h"
#include "system/system_reason.h"
#include "system/unicode_win.h"
#include "telemetry/events_win.h"

namespace {

// Writes to the standard output the caller redirected, else to the console of the program that
// started this one (a windowed program has none of its own).
void printToConsole(const std::string& text) {
    std::string lines;
    for (char c : text) {
        if (c == '\n') lines += '\r';
        lines += c;
    }
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE) {
        const std::wstring wide = tessaryn::toWide(lines);
        if (GetFileType(out) == FILE_TYPE_CHAR &&
            WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr))
            return;
        WriteFile(out, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
        return;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) return;
    tessaryn::UniqueFile console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    if (!console) return;
    // The prompt of the starting shell is already on the line: begin on a fresh one.
    const std::wstring wide = tessaryn::toWide("\r\n" + lines);
    WriteConsoleW(console.get(), wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

// "/?": the text on the console, and in a box unless the run is silent, in the run's language;
// nothing else happens.
int showHelp(bool quiet, const std::string& langSwitch) {
    using namespace tessaryn;
    useRunLanguage(langSwitch);
    const bool uninstaller = isUninstallerBaseName(getModuleBaseName());
    const std::string text = helpText(kBuiltInProductName, uninstaller, uiTexts());
    printToConsole(text);
    if (!quiet) {
        const std::wstring title = wideText(
            uninstaller ? Text::help_uninstall_title : Text::help_setup_title, kBuiltInProductName);
        MessageBoxW(nullptr, toWide(text).c_str(), title.c_str(),
                    boxStyle(MB_OK | MB_ICONINFORMATION));
    }
    return outcomeRow(Outcome::Finished).exitCode;
}

void logStart(const std::string& wholeCommandLine, const std::vector<std::string>& unknown) {
    using namespace tessaryn;
    logLine(std::string(kBuiltInProductName) + " setup log");
    logLine("Command line: " + wholeCommandLine);
    for (const std::string& token : unknown) logLine("Unknown switch: " + token);
    logLine("System: " + toUtf8(getSystemDescription()));
}

void logRun(const tessaryn::CommandLineOptions& options, const tessaryn::RunContext& context) {
    using namespace tessaryn;
    logLine(std::string("Mode: ") + (context.uninstaller ? "uninstall" : "install") + ", " +
            scopeName(context.scope) + (context.guardUserFolders ? " (elevated)" : "") +
            (options.verySilent ? ", very silent" : options.silent ? ", silent" : "") +
            (options.updaterMode ? ", updater" : "") +
            (options.version.empty() ? "" : ", version " + options.version) +
            (options.noLaunch ? ", no launch" : "") + (options.noIcons ? ", no icons" : "") +
            (options.noMetrics ? ", no metrics" : ""));
    logLine("Setup information address: " + context.urls.dat);
    logLine("Package address: " + context.urls.pak);
    logLine("Events address: " + context.urls.metrics);
    logLine("Work files: " + toUtf8(context.tempDat) + ", " + toUtf8(context.tempPak));
    // What the folder was made with, and what the system reads back (Wine shows its own view).
    logLine("Work folder access: " + toUtf8(kPrivateFolderAccess) + " (read back: " +
            toUtf8(folderAccessText(context.workDir)) + ")");
}

void logInstalledFiles(const tessaryn::RunContext& context) {
    using namespace tessaryn;
    if (!logActive() || context.installDir.empty()) return;
    const std::vector<TreeFile> files = listFiles(context.installDir);
    logLine("Files in " + toUtf8(context.installDir) + ": " + std::to_string(files.size()) + ", " +
            std::to_string(totalSize(files)) + " bytes");
    for (const TreeFile& file : files)
        logLine("  " + file.name + " (" + std::to_string(file.size) + " bytes)");
}

// The three values of a run, each made once: the options (read in WinMain), the resources
// (opened here, held until the run returns) and the checked release (read by obtainSettings).
// The scope comes first: a run that starts itself elevated has fetched and written nothing.
int run(const tessaryn::CommandLineOptions& options, const std::string& arguments,
        int showCommand) {
    using namespace tessaryn;
    ScopePlan plan;
    if (auto ended = settleScope(options, arguments,
                                 isUninstallerBaseName(getModuleBaseName()), plan))
        return *ended;
    // Before anything is fetched or written, and held until the run returns: two runs at once
    // would unpack, swap and register the same product over each other.
    const NamedMutex oneRun = takeNamedMutex(toWide(setupMutexName(kBuiltInProductName)));
    logLine(std::string("One run at a time: ") +
            (oneRun.state == MutexTake::Taken ? "taken"
             : oneRun.state == MutexTake::Held ? "held by another run"
                                               : "cannot be made (error " +
                                                     std::to_string(GetLastError()) + ")"));
    if (oneRun.state == MutexTake::Held)
        return endRun({Outcome::InstallInProgress, kBuiltInProductName}, asksNothing(options));
    const UniqueFile program = openProgramFile();
    // Removed when the run returns, whichever way.
    WorkFolder work(plan.scope == Scope::PerUser && !plan.guardUserFolders);
    RunContext context = startRun(options, program.get(), work.path(), showCommand, plan);
    logRun(options, context);
    if (auto refused = refuseLinkedUserFolders(context, asksNothing(options))) return *refused;
    std::variant<CheckedRelease, int> obtained = obtainSettings(options, context);
    if (const int* code = std::get_if<int>(&obtained)) return *code;
    const CheckedRelease& release = std::get<CheckedRelease>(obtained);
    logLine("Product: " + release.productName + " " + release.version);
    logLine("Install folder: " + toUtf8(context.installDir));
    if (context.uninstaller) return runUninstallRoad(options, release, context);
    const int code = runInstallRoad(options, release, context);
    logInstalledFiles(context);
    return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
    // Before any library is loaded on demand: none may come from the program's folder.
    tessaryn::limitLibrarySearchToSystemFolder();
    // The wide command line, so that a log file outside the ANSI code page is named rightly.
    const wchar_t* wide = GetCommandLineW();
    const std::string whole = wide ? tessaryn::toUtf8(wide) : std::string();
    const std::string line(tessaryn::argumentsOf(whole));
    tessaryn::setBeforeEnd(tessaryn::finishPendingMetrics);
    int code = 0;
    // Read first, so that silence is known before anything can fail: no box interrupts a silent
    // run.
    const tessaryn::CommandLineOptions options = tessaryn::readCommandLine(line);
    const bool quiet = tessaryn::asksNothing(options);
    std::string unwritableLog;
    try {
        if (options.showHelp) tessaryn::endProcess(showHelp(quiet, options.language));
        if (options.log) {
            if (tessaryn::openRunLog(options.logFile, tessaryn::kBuiltInProductName)) {
                logStart(whole, options.unknown);
            } else {
                // Said where an administrator looks; no folder is made for it (the run may be
                // elevated and the path the user's).
                unwritableLog =
                    options.logFile.empty() ? "the Windows folder's Temp" : options.logFile;
                printToConsole("The log cannot be written to " + unwritableLog + " (" +
                               tessaryn::systemReason(static_cast<int>(GetLastError())) +
                               "); the run goes on without it.\n");
            }
        }
        tessaryn::useRunLanguage(options.language);
        if (!options.unknown.empty()) {
            const tessaryn::EndPlan said =
                tessaryn::planEnd({tessaryn::Outcome::UnknownSwitch, options.unknown.front()},
                                  true, {}, tessaryn::uiTexts());
            printToConsole(said.message + "\n");
            code = tessaryn::endRun({tessaryn::Outcome::UnknownSwitch, options.unknown.front()},
                                    quiet);
            if (!unwritableLog.empty())
                printToConsole("Exit code " + std::to_string(code) + "; no log was written.\n");
            tessaryn::endProcess(code);
        }
        tessaryn::initSignatures();
        code = run(options, line, showCommand);
        // The work folder is gone by now; what follows is the wait for pending events.
        tessaryn::logLine("Run ended");
    } catch (const std::exception& error) {
        code = tessaryn::endRun(tessaryn::unexpectedEnd(error.what()), quiet);
    }
    if (!unwritableLog.empty())
        printToConsole("Exit code " + std::to_string(code) + "; no log was written to " +
                       unwritableLog + ".\n");
    // Events sent in the background get a moment to reach the host before the process ends.
    tessaryn::endProcess(code);
}

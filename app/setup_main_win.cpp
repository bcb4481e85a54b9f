// The setup program: the web setup of the product, or, named "unins000", its uninstaller.
#include <windows.h>

#include <exception>
#include <string>

#include "app/command_line.h"
#include "app/install_road_win.h"
#include "app/setup_state.h"
#include "app/startup_win.h"
#include "app/uninstall_road_win.h"
#include "app/work_folder_win.h"
#include "package/signed_file.h"
#include "system/program_file_win.h"
#include "system/system_folder_win.h"
#include "system/unicode_win.h"
#include "telemetry/events_win.h"

namespace {

void showError(const char* text) {
    if (!tessaryn::setupState().verySilent)
        MessageBoxW(nullptr, tessaryn::toWide(text).c_str(), L"Error", MB_ICONERROR);
}

int run(const std::string& commandLine, int showCommand) {
    using namespace tessaryn;
    const UniqueFile program = openProgramFile();
    WorkFolder work;  // removed when the run returns, whichever way
    RunContext context;
    context.programFile = program.get();
    context.showCommand = showCommand;
    context.workDir = work.path();
    initialiseState(commandLine, context);
    if (auto code = obtainSettings(context)) return *code;
    return setupState().uninstallMode ? runUninstallRoad(context) : runInstallRoad(context);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int showCommand) {
    // Before any library is loaded on demand: none may come from the program's folder.
    tessaryn::limitLibrarySearchToSystemFolder();
    const std::string line = commandLine ? commandLine : "";
    int code = tessaryn::kExitFailure;
    try {
        // Silence is known before anything can fail, so that no box interrupts a silent run.
        tessaryn::setupState().verySilent = tessaryn::readCommandLine(line).verySilent;
        tessaryn::initSignatures();
        code = run(line, showCommand);
    } catch (const std::exception& error) {
        showError(error.what());
        code = tessaryn::kExitFailure;
    }
    // Events sent in the background get a moment to reach the host before the process ends.
    tessaryn::waitForPendingMetrics(tessaryn::kPendingMetricsWait);
    return code;
}

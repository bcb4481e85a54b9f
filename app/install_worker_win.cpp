#include "app/install_worker_win.h"

#include "package/bundle.h"
#include "system/file_tree_win.h"
#include "system/run_log.h"
#include "ui/pump_win.h"

namespace tessaryn {

void extractPackage(const RunContext& context, ProgressWindow& window, WorkerState& worker) {
    ExtractProgressCallback progress = [&window](float fraction, const std::string&) {
        window.setStatusText(L"Installing files...");
        window.setProgress(static_cast<int>(fraction * 100));
    };
    try {
        extractBundle(context.installDir, context.tempPak, progress);
        if (logActive()) {
            const std::vector<TreeFile> files = listFiles(context.installDir);
            logLine("Unpacked: " + std::to_string(files.size()) + " files, " +
                    std::to_string(totalSize(files)) + " bytes");
        }
        progress(1.0f, "Complete");
        worker.done = true;
    } catch (const std::exception& error) {
        worker.error = error.what();
        worker.failed = true;
        logLine("Unpacking failed: " + worker.error);
    } catch (...) {
        worker.error = "Unknown error while installing files";
        worker.failed = true;
    }
}

void waitForWorker(ProgressWindow& window, const WorkerState& worker) {
    while (!worker.done && !worker.failed) {
        if (IsWindow(window.handle())) pumpMessages();
        Sleep(10);
    }
}

}  // namespace tessaryn

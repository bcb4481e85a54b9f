#include "app/install_worker_win.h"

#include "package/bundle.h"
#include "package/signed_file.h"
#include "system/unicode_win.h"
#include "ui/pump_win.h"

namespace tessaryn {

void extractPackage(const RunContext& context, ProgressWindow& window, WorkerState& worker) {
    ExtractProgressCallback progress = [&window](float fraction, const std::string&) {
        window.setStatusText(L"Installing files...");
        window.setProgress(static_cast<int>(fraction * 100));
    };
    try {
        // The checked view: its last 64 bytes are the signature, the rest is the bundle.
        if (context.package.size() < kSignatureBytes) {
            throw std::runtime_error("Failed to read file: " + toUtf8(context.tempPak) +
                                     " (Error code: 200)");
        }
        extractBundle(context.installDirUtf8, context.package.data(),
                      context.package.size() - kSignatureBytes, progress);
        progress(1.0f, "Complete");
        worker.done = true;
    } catch (const std::exception& error) {
        worker.error = error.what();
        worker.failed = true;
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

#include "package/download_job_win.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/setup_state.h"
#include "telemetry/events_win.h"
#include "net/file_downloader.h"
#include "package/download_status.h"
#include "system/run_log.h"
#include "system/unicode_win.h"
#include "ui/progress_window_win.h"
#include "ui/pump_win.h"

namespace tessaryn {

namespace {

constexpr DWORD kPumpIntervalMs = 10;
constexpr std::chrono::seconds kFinalLineHold{2};

// Turns the downloader's reports into the window's status line. The bar is a marquee, so the
// positions given to it change nothing; they are kept for a bar that shows them.
class StatusReporter {
  public:
    StatusReporter(ProgressWindow& window, std::string prefix)
        : window_(window), prefix_(std::move(prefix)) {}

    bool operator()(const FileDownloader::ProgressInfo& info) {
        window_.setStatusText(toWide(
            downloadStatusLine(prefix_, info.downloadedBytes, info.bytesPerSecond, info.percent)));
        if (info.percent < 0) {
            if (info.downloadedBytes != lastByteCount_) {
                lastByteCount_ = info.downloadedBytes;
                window_.setProgress(++reportCount_);
            }
        } else {
            window_.setProgress(info.percent);
        }
        return true;
    }

  private:
    ProgressWindow& window_;
    std::string prefix_;
    int32_t reportCount_ = 0;
    uint64_t lastByteCount_ = 0;
};

}  // namespace

bool downloadFileWithProgress(const std::string& destination, const std::string& url,
                              const std::string& statusPrefix) noexcept {
    try {
        ProgressWindow window(true, L"Setup");
        ShowWindow(window.handle(), setupState().verySilent ? SW_HIDE : SW_SHOW);
        UpdateWindow(window.handle());
        window.setStatusText(toWide(statusPrefix));

        FileDownloader downloader;
        if (!setupState().userAgent.empty()) downloader.userAgent = setupState().userAgent;

        bool success = false;
        std::string errorText;
        std::atomic<bool> done{false};
        std::thread worker([&]() noexcept {
            try {
                success =
                    downloader.downloadFile(url, destination, StatusReporter(window, statusPrefix));
            } catch (const std::exception& e) {
                errorText = e.what();
                success = false;
            } catch (...) {
                errorText = "Unknown error during download";
                success = false;
            }
            done = true;
        });

        // The worker's window updates are sends to this thread: keep dispatching until it ends.
        while (!done) {
            pumpMessages();
            Sleep(kPumpIntervalMs);
        }
        worker.join();

        if (success) {
            window.setStatusText(L"Verifying download...");
        } else {
            window.setStatusText(errorText.empty() ? L"Download failed!" : toWide(errorText));
            logLine("Download of " + url + " failed: " + errorText);
        }
        pumpFor(kFinalLineHold);
        if (window.handle()) DestroyWindow(window.handle());
        return success && errorText.empty();
    } catch (...) {
        return false;
    }
}

void showDownloadFailure() {
    logLine("Message (Error): " + downloadFailureText());
    if (!setupState().verySilent) {
        MessageBoxA(nullptr, downloadFailureText().c_str(), "Error", MB_OK | MB_ICONERROR);
    }
    // The download-failed event was sent in the background just before; let it arrive.
    waitForPendingMetrics(kPendingMetricsWait);
    logLine("Exit code -1");
    ExitProcess(static_cast<UINT>(-1));
}

}  // namespace tessaryn

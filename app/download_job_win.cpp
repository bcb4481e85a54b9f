#include "app/download_job_win.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "net/file_downloader.h"
#include "net/download_status.h"
#include "system/handles_win.h"
#include "system/process_end_win.h"
#include "system/run_log.h"
#include "system/unicode_win.h"
#include "ui/progress_window_win.h"
#include "ui/pump_win.h"

namespace tessaryn {

namespace {

constexpr std::chrono::seconds kFinalLineHold{2};

// Turns the downloader's reports into the window's status line; the window shows the latest one
// when its thread gets to it, so the download never waits for it. The bar is a marquee, so the
// positions given to it change nothing; they are kept for a bar that shows them.
class StatusReporter {
  public:
    StatusReporter(ProgressWindow& window, std::string prefix)
        : window_(window), prefix_(std::move(prefix)) {}

    bool operator()(const FileDownloader::ProgressInfo& info) {
        if (window_.closeRequested()) return false;  // closing the window cancels the download
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
                              const std::string& statusPrefix, const DownloadLook& look,
                              const FileDownloader::Arrival* arrival) noexcept {
    try {
        ProgressWindow window(true, L"Setup");
        ShowWindow(window.handle(), look.silent ? SW_HIDE : SW_SHOW);
        UpdateWindow(window.handle());
        window.setStatusText(toWide(statusPrefix));

        FileDownloader downloader;
        if (!look.userAgent.empty()) downloader.userAgent = look.userAgent;

        bool success = false;
        std::string errorText;
        std::atomic<bool> done{false};
        UniqueKernelHandle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::thread worker([&]() noexcept {
            try {
                success =
                    downloader.downloadFile(url, destination, StatusReporter(window, statusPrefix),
                                            arrival);
            } catch (const std::exception& e) {
                errorText = e.what();
                success = false;
            } catch (...) {
                errorText = "Unknown error during download";
                success = false;
            }
            done = true;
            if (finished) SetEvent(finished.get());
        });

        // The window answers while the download runs; its reports are shown as they come.
        while (!done) {
            // Woken at least every 100 ms, so that a transfer that trickles stops as soon as
            // the window is closed.
            if (finished)
                pumpUntilSignalled(finished.get(), 100);
            else
                pumpFor(std::chrono::milliseconds(20));
            if (window.closeRequested()) downloader.cancel();
        }
        worker.join();

        if (success) {
            window.setStatusText(L"Verifying download...");
        } else {
            window.setStatusText(errorText.empty() ? L"Download failed!" : toWide(errorText));
            logLine("Download of " + url + " failed: " + errorText);
        }
        // The final line is held for the eye; nobody looks in a /VERYSILENT run.
        if (look.silent)
            pumpMessages();
        else
            pumpFor(kFinalLineHold);
        if (window.handle()) DestroyWindow(window.handle());
        return success && errorText.empty() && !window.closeRequested();
    } catch (...) {
        return false;
    }
}

void showDownloadFailure(bool silent, const std::string& webHost) {
    const std::string text = downloadFailureText(webHost);
    logLine("Message (Error): " + text);
    if (!silent) MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONERROR);
    // The download-failed event was sent in the background just before; the end lets it arrive.
    endProcess(-1);
}

}  // namespace tessaryn

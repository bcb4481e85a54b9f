#include "app/ui_text_win.h"
#include "app/download_job_win.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "net/file_downloader.h"
#include "app/status_texts.h"
#include "system/handles_win.h"
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
    StatusReporter(ProgressWindow& window, std::string prefix,
                   std::function<std::string()> suffix)
        : window_(window), prefix_(std::move(prefix)), suffix_(std::move(suffix)) {}

    bool operator()(const FileDownloader::ProgressInfo& info) {
        if (window_.closeRequested()) return false;  // closing the window cancels the download
        window_.setStatusText(toWide(downloadStatusLine(uiTexts(), prefix_, info.downloadedBytes,
                                                        info.bytesPerSecond, info.percent) +
                                     (suffix_ ? suffix_() : std::string())));
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
    std::function<std::string()> suffix_;
    int32_t reportCount_ = 0;
    uint64_t lastByteCount_ = 0;
};

}  // namespace

FileDownloader::FetchResult downloadFileWithProgress(
    const std::string& destination, const std::vector<std::string>& sources,
    const std::string& statusPrefix, const DownloadLook& look,
    const FileDownloader::Arrival* arrival) noexcept {
    FileDownloader::FetchResult result;
    result.failure = DownloadFailure::NoConnection;
    try {
        ProgressWindow window(true, wideText(Text::progress_title),
                   wideText(Text::progress_initializing), uiTexts().rightToLeft());
        ShowWindow(window.handle(), look.silent ? SW_HIDE : SW_SHOW);
        UpdateWindow(window.handle());
        window.setStatusText(toWide(statusPrefix));

        FileDownloader downloader;
        if (!look.userAgent.empty()) downloader.userAgent = look.userAgent;
        downloader.maxDownloadBytes = look.largest;
        downloader.exactSize = look.exactSize;
        // Nobody could answer a prompt in a silent run.
        if (!look.silent && !look.noPrompt) downloader.signInOwner = window.handle();

        std::atomic<bool> done{false};
        UniqueKernelHandle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        // Shown in the run's language, logged in English.
        const auto showRetry = [&window](const FileDownloader::RetryNotice& notice) {
            const auto line = [&notice](const UiTexts& texts) {
                return retryStatusLine(texts, notice.cause, notice.status, notice.waitMs,
                                       notice.nextTry, notice.tries);
            };
            logLine(line(UiTexts()));
            window.setStatusText(toWide(line(uiTexts())));
        };
        std::thread worker([&]() noexcept {
            try {
                result = downloader.fetch(sources, destination,
                                          StatusReporter(window, statusPrefix, look.statusSuffix),
                                          arrival,
                                          look.schedule, showRetry);
            } catch (...) {
                result.complete = false;
            }
            done = true;
            if (finished) SetEvent(finished.get());
        });

        // The window answers while the download runs; its reports are shown as they come.
        while (!done) {
            // Woken at least every 100 ms, so that a transfer that trickles or a wait between
            // tries stops as soon as the window is closed.
            if (finished)
                pumpUntilSignalled(finished.get(), 100);
            else
                pumpFor(std::chrono::milliseconds(20));
            if (window.closeRequested()) downloader.cancel();
        }
        worker.join();
        if (window.closeRequested()) {
            result.complete = false;
            result.failure = DownloadFailure::Cancelled;
        }

        if (result.complete) {
            window.setStatusText(wideText(Text::progress_verifying));
            logLine("Download from source " + std::to_string(result.source) + " (" +
                    sources[result.source] + ") complete, " +
                    std::to_string(result.bytesReceived) + " bytes received, " +
                    std::to_string(result.restarts) + " restarts");
        } else {
            window.setStatusText(
                wideText(Text::progress_download_failed, failureCause(result, uiTexts())));
            logLine("Download failed: " + failureCause(result, UiTexts()));
        }
        // The final line is held for the eye; nobody looks in a /VERYSILENT run.
        if (look.silent)
            pumpMessages();
        else
            pumpFor(kFinalLineHold);
        if (window.handle()) DestroyWindow(window.handle());
        return result;
    } catch (...) {
        result.complete = false;
        return result;
    }
}

std::string failureCause(const FileDownloader::FetchResult& result, const UiTexts& texts) {
    return downloadFailureMessage(texts, result.failure, result.status, result.host,
                                  result.tries);
}

}  // namespace tessaryn

// The resumable GET of FileDownloader: the loop over sources and tries, and the waits between.
#include "net/file_downloader.h"

#include "net/transfer_attempt_win.h"
#include "system/run_log.h"
#include "system/unicode_win.h"

namespace tessaryn {

namespace {

// A file kept for use is a new one: one that existed could be open elsewhere for writing.
UniqueFile createTarget(const std::wstring& path, bool keep) {
    if (keep) DeleteFileW(path.c_str());
    const DWORD access = keep ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    return UniqueFile(CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr,
                                  keep ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
}

void waitBeforeTry(const Step& last, int tryNo, size_t source, const RetrySchedule& schedule,
                   const FileDownloader::RetryCallback& onRetry, const std::atomic<bool>& cancel) {
    const uint32_t wait = retryWaitMs(schedule, tryNo, last.retryAfter);
    if (onRetry) onRetry({last.cause, last.status, wait, tryNo, schedule.triesPerSource, source});
    const DWORD waitStart = GetTickCount();
    while (!cancel && GetTickCount() - waitStart < wait) Sleep(20);
}

Step tryOnce(const FileDownloader& downloader, FetchTarget& target, DownloadDeadlines& deadlines,
             const FileDownloader::ProgressCallback& callback, const std::string& url,
             size_t source) noexcept {
    try {
        return TransferAttempt(downloader, target, deadlines, callback).run(url, source);
    } catch (...) {
        return {Next::Retry, DownloadFailure::NoConnection};
    }
}

}  // namespace

FileDownloader::FetchResult FileDownloader::fetch(const std::vector<std::string>& sources,
                                                  const std::string& filePath,
                                                  ProgressCallback callback,
                                                  const Arrival* arrival,
                                                  const RetrySchedule& schedule,
                                                  RetryCallback onRetry) {
    FetchResult result;
    // The path is UTF-8 like every text of the program: the temporary folder of a user with a
    // non-ASCII name cannot be named in the ANSI code page.
    const std::wstring widePath = toWide(filePath);
    const bool keep = arrival && arrival->keep;
    UniqueFile file = createTarget(widePath, keep);
    if (!file) {
        logLine("Cannot create " + filePath + " (error " + std::to_string(GetLastError()) + ")");
        result.failure = DownloadFailure::Disk;
        return result;
    }
    if (keep && arrival->opened) arrival->opened(file.get());
    FetchTarget target{file.get(), arrival, result};
    DownloadDeadlines deadlines(schedule, maxDownloadBytes);
    Step step;
    for (size_t source = 0; source < sources.size() && step.next != Next::Stop; ++source) {
        result.source = source;
        if (source > 0) logLine("Trying source " + std::to_string(source) + ": " + sources[source]);
        for (int tryNo = 1; tryNo <= schedule.triesPerSource; ++tryNo) {
            result.tries = tryNo;
            if (tryNo > 1) waitBeforeTry(step, tryNo, source, schedule, onRetry, cancelled);
            // A wait (a minute at most) may end past the download's time: no try follows then.
            const DownloadFailure over =
                cancelled ? DownloadFailure::Cancelled : deadlines.overdue();
            if (over == DownloadFailure::Cancelled || over == DownloadFailure::TimedOut) {
                step = {Next::Stop, over};
                break;
            }
            step = tryOnce(*this, target, deadlines, callback, sources[source], source);
            result.status = step.status;
            if (step.next != Next::Retry) break;
        }
        if (step.next == Next::Done) {
            result.complete = true;
            if (keep) *arrival->keep = std::move(file);
            return result;
        }
        if (step.next != Next::Stop) result.host = hostOf(sources[source]);
    }
    result.failure = step.cause == DownloadFailure::None ? DownloadFailure::NoConnection
                                                         : step.cause;
    if (result.failure != DownloadFailure::Cancelled) {
        // A failed download leaves nothing behind that could pass for one.
        file.reset();
        DeleteFileW(widePath.c_str());
    }
    return result;
}

}  // namespace tessaryn

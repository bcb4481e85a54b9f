#pragma once
// Fetches one file from the web host under a progress window.
#include <functional>
#include <string>
#include <vector>

#include "app/ui_text.h"
#include "net/file_downloader.h"

namespace tessaryn {

// How a download job shows itself, introduces itself to the web host and waits between tries.
struct DownloadLook {
    bool silent = false;    // the window stays hidden and the final line is not held
    std::string userAgent;  // empty for the downloader's own
    RetrySchedule schedule;
    // When set, appended to each status line (what else happens while the file arrives).
    std::function<std::string()> statusSuffix = nullptr;
    // The file's limit, and whether it is its exact (signed) size: FileDownloader's.
    uint64_t largest = TESSARYN_MAX_DOWNLOAD_BYTES;
    bool exactSize = false;
    bool noPrompt = false;  // nobody is asked anything, even with the window shown
};

// Downloads the file from the first of `sources` that gives it (FileDownloader::fetch) into
// `destination` on a worker thread while a marquee progress window (hidden in a silent run)
// shows statusPrefix followed by size and speed, or what happens between tries; holds the final
// line for 2 s when the window is shown. In a run with the window shown, a proxy that asks for a
// sign-in gets the system's prompt.
// `complete` when the whole file arrived. Never throws. `arrival` (optional) sees the parts as
// they are written and may keep the file open; its callbacks run on the download's thread.
[[nodiscard]]
FileDownloader::FetchResult downloadFileWithProgress(
    const std::string& destination, const std::vector<std::string>& sources,
    const std::string& statusPrefix, const DownloadLook& look,
    const FileDownloader::Arrival* arrival = nullptr) noexcept;

// The cause of a failed download in words (downloadFailureMessage of its result).
std::string failureCause(const FileDownloader::FetchResult& result, const UiTexts& texts);

}  // namespace tessaryn

#pragma once
// Fetches one file from the web host under a progress window.
#include <string>

#include "net/file_downloader.h"

namespace tessaryn {

// How a download job shows itself and introduces itself to the web host.
struct DownloadLook {
    bool silent = false;    // the window stays hidden and the final line is not held
    std::string userAgent;  // empty for the downloader's own
};

// Downloads `url` into `destination` on a worker thread while a marquee progress window (hidden
// in a silent run) shows statusPrefix followed by size and speed; holds the final line for 2 s
// when the window is shown.
// True when the whole file arrived. Never throws. `arrival` (optional) sees the parts as they are
// written and may keep the file open; its callback runs on the download's thread.
[[nodiscard]]
bool downloadFileWithProgress(const std::string& destination, const std::string& url,
                              const std::string& statusPrefix, const DownloadLook& look,
                              const FileDownloader::Arrival* arrival = nullptr) noexcept;

// Tells the user (unless the run is silent) that a download failed, naming the web host for
// support, then ends the process with -1.
[[noreturn]] void showDownloadFailure(bool silent, const std::string& webHost);

}  // namespace tessaryn

#pragma once
// Fetches one file from the web host under a progress window.
#include <string>

namespace tessaryn {

// Downloads `url` into `destination` on a worker thread while a marquee progress window (hidden
// in a silent run) shows statusPrefix followed by size and speed; holds the final line for 2 s
// when the window is shown.
// True when the whole file arrived. Never throws.
bool downloadFileWithProgress(const std::string& destination, const std::string& url,
                              const std::string& statusPrefix) noexcept;

// Tells the user (unless the run is silent) that a download failed, then ends the process
// with -1.
[[noreturn]] void showDownloadFailure();
[[noreturn]] inline void failDownloadAndExit() {
    showDownloadFailure();
}

}  // namespace tessaryn

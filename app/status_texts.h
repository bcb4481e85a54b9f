#pragma once
// The download's and the update's words and figures in a language: the progress window's status
// line, the line while a try waits, the cause of a failed download and its box. Callers pass
// uiTexts() for what a person reads and UiTexts() (English) for the log.
#include <cstdint>
#include <string>

#include "app/ui_text.h"
#include "net/download_retry.h"

namespace tessaryn {

// 3066 -> "3,066" (the language's digit grouping).
std::string groupedNumber(const UiTexts& texts, uint64_t value);

// prefix + "45% - 512 KB/s" when the size is known (percent >= 0), else prefix + "N KB - R KB/s".
std::string downloadStatusLine(const UiTexts& texts, const std::string& prefix,
                               uint64_t downloadedBytes, uint64_t bytesPerSecond, int32_t percent);

// "Download failed!\n<cause>\nPlease try later, or visit <webHost> to contact support." (no
// cause line when the cause is empty).
std::string downloadFailureText(const UiTexts& texts, const std::string& webHost,
                                const std::string& cause = "");

// "Updating: 3 of 172 files to download (1.2 MB), 169 kept" (MB of 2^20 bytes, one decimal;
// KB below 0.1 MB).
std::string updateStatusLine(const UiTexts& texts, size_t toFetch, size_t files, uint64_t bytes,
                             size_t kept);

// The status line while waiting: "Connection lost. Retrying in 4 s (try 2 of 5)...".
std::string retryStatusLine(const UiTexts& texts, DownloadFailure cause, long status,
                            uint32_t waitMs, int nextTry, int tries);

// The message of a failed download, naming the host (or the proxy for a sign-in).
std::string downloadFailureMessage(const UiTexts& texts, DownloadFailure cause, long status,
                                   const std::string& host, int tries);

// "1,200 of 3,066 files", or "1,200 files" while the count is not known (listed 0).
std::string fileCountText(const UiTexts& texts, size_t handed, size_t listed);

}  // namespace tessaryn

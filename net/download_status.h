#pragma once
// Texts of the download job: the status line under the progress window and the failure box.
#include <cstdint>
#include <string>

namespace tessaryn {

// prefix + "45% - 512 KB/s" when the size is known (percent >= 0), else prefix + "N KB - R KB/s".
std::string downloadStatusLine(const std::string& prefix, uint64_t downloadedBytes,
                               uint64_t bytesPerSecond, int32_t percent);

// "Download failed!\n<cause>\nPlease try later, or visit <webHost> to contact support." (no
// cause line when the cause is empty).
std::string downloadFailureText(const std::string& webHost, const std::string& cause = "");

// "Updating: 3 of 172 files to download (1.2 MB), 169 kept" (MB of 2^20 bytes, one decimal;
// KB below 0.1 MB).
std::string updateStatusLine(size_t toFetch, size_t files, uint64_t bytes, size_t kept);

}  // namespace tessaryn

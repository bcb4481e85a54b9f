#include "net/download_status.h"

namespace tessaryn {

std::string downloadStatusLine(const std::string& prefix, uint64_t downloadedBytes,
                               uint64_t bytesPerSecond, int32_t percent) {
    const std::string rate = std::to_string(bytesPerSecond >> 10) + " KB/s";
    if (percent < 0) return prefix + std::to_string(downloadedBytes / 1024) + " KB - " + rate;
    return prefix + std::to_string(percent) + "% - " + rate;
}

std::string downloadFailureText(const std::string& webHost, const std::string& cause) {
    return "Download failed!\n" + (cause.empty() ? "" : cause + "\n") +
           "Please try later, or visit " + webHost + " to contact support.";
}

}  // namespace tessaryn

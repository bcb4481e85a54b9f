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

std::string updateStatusLine(size_t toFetch, size_t files, uint64_t bytes, size_t kept) {
    std::string size;
    const uint64_t tenths = (bytes * 10 + (1u << 19)) >> 20;
    if (tenths == 0) {
        size = std::to_string((bytes + 1023) / 1024) + " KB";
    } else {
        size = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
    }
    return "Updating: " + std::to_string(toFetch) + " of " + std::to_string(files) +
           " files to download (" + size + "), " + std::to_string(kept) + " kept";
}

}  // namespace tessaryn

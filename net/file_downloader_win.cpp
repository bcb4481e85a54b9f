#include "net/file_downloader.h"

namespace tessaryn {

FileDownloader::FileDownloader(std::string agent, uint32_t timeout)
    : userAgent(std::move(agent)), timeoutMs(timeout) {}

void FileDownloader::cancel() noexcept {
    cancelled = true;
}

bool FileDownloader::downloadFile(const std::string& url, const std::string& filePath,
                                  ProgressCallback callback, const Arrival* arrival) {
    RetrySchedule once;
    once.triesPerSource = 1;
    return fetch({url}, filePath, std::move(callback), arrival, once).complete;
}

}  // namespace tessaryn

#include "app/status_texts.h"

namespace tessaryn {

namespace {

std::string number(uint64_t value) {
    return std::to_string(value);
}

}  // namespace

std::string groupedNumber(const UiTexts& texts, uint64_t value) {
    if (value < 1000) return number(value);
    const std::string low = number(value % 1000);
    const std::string lastThree = std::string(3 - low.size(), '0') + low;
    return texts.fillIn(Text::progress_digit_groups,
                        {groupedNumber(texts, value / 1000), lastThree});
}

std::string downloadStatusLine(const UiTexts& texts, const std::string& prefix,
                               uint64_t downloadedBytes, uint64_t bytesPerSecond, int32_t percent) {
    const std::string rate = number(bytesPerSecond >> 10);
    if (percent < 0)
        return prefix +
               texts.fillIn(Text::progress_kilobytes, {number(downloadedBytes / 1024), rate});
    return prefix + texts.fillIn(Text::progress_percent, {std::to_string(percent), rate});
}

std::string downloadFailureText(const UiTexts& texts, const std::string& webHost,
                                const std::string& cause) {
    return texts(Text::outcome_download_failed) + "\n" + (cause.empty() ? "" : cause + "\n") +
           texts.fill(Text::outcome_try_later, webHost);
}

std::string updateStatusLine(const UiTexts& texts, size_t toFetch, size_t files, uint64_t bytes,
                             size_t kept) {
    std::string size;
    const uint64_t tenths = (bytes * 10 + (1u << 19)) >> 20;
    if (tenths == 0) {
        size = texts.fill(Text::progress_size_kb, number((bytes + 1023) / 1024));
    } else {
        size = texts.fillIn(Text::progress_size_mb, {number(tenths / 10), number(tenths % 10)});
    }
    return texts.fillIn(Text::progress_updating,
                        {number(toFetch), number(files), size, number(kept)});
}

std::string retryStatusLine(const UiTexts& texts, DownloadFailure cause, long status,
                            uint32_t waitMs, int nextTry, int tries) {
    std::string what;
    switch (cause) {
        case DownloadFailure::HttpStatus:
            what = texts.fill(Text::retry_busy, std::to_string(status));
            break;
        case DownloadFailure::NameNotFound:
            what = texts(Text::retry_name_not_found);
            break;
        case DownloadFailure::NoConnection:
            what = texts(Text::retry_no_connection);
            break;
        default:
            what = texts(Text::retry_connection_lost);
            break;
    }
    const uint32_t seconds = (waitMs + 999) / 1000;
    return texts.fillIn(Text::retry_waiting,
                        {what, number(seconds), std::to_string(nextTry), std::to_string(tries)});
}

std::string downloadFailureMessage(const UiTexts& texts, DownloadFailure cause, long status,
                                   const std::string& host, int tries) {
    switch (cause) {
        case DownloadFailure::NoConnection:
            return texts.fill(Text::cause_no_connection, host);
        case DownloadFailure::NameNotFound:
            return texts.fill(Text::cause_name_not_found, host);
        case DownloadFailure::Certificate:
            return texts.fill(Text::cause_certificate, host);
        case DownloadFailure::HttpStatus:
            return texts.fillIn(Text::cause_http_status, {host, std::to_string(status)});
        case DownloadFailure::ProxySignIn:
            return texts.fill(Text::cause_proxy_sign_in, host);
        case DownloadFailure::Cut:
            return texts.fillIn(tries == 1 ? Text::cause_cut_once : Text::cause_cut,
                                {host, std::to_string(tries)});
        case DownloadFailure::Disk:
            return texts(Text::cause_disk);
        case DownloadFailure::TimedOut:
            return texts.fill(Text::cause_timed_out, host);
        case DownloadFailure::Cancelled:
            return texts(Text::cause_cancelled);
        case DownloadFailure::None:
        case DownloadFailure::WrongFile:  // told as a file that fails its check
            break;
    }
    return texts(Text::cause_failed);
}

std::string fileCountText(const UiTexts& texts, size_t handed, size_t listed) {
    if (listed == 0) return texts.fill(Text::progress_files, groupedNumber(texts, handed));
    return texts.fillIn(Text::progress_files_of,
                        {groupedNumber(texts, handed), groupedNumber(texts, listed)});
}

}  // namespace tessaryn

#include "net/download_retry.h"

#include <algorithm>
#include <charconv>
#include <chrono>

namespace tessaryn {

namespace {

// Digits only, no sign, no overflow.
bool parseCount(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

}  // namespace

uint64_t tryTimeMs(const RetrySchedule& schedule, uint64_t bytes) {
    const uint64_t rate = schedule.minBytesPerSecond;
    if (rate == 0 || bytes / rate > UINT64_MAX / 1000 - 1) return UINT64_MAX;
    const uint64_t ms = bytes / rate * 1000 + (bytes % rate * 1000 + rate - 1) / rate;
    return saturatingAdd(schedule.tryAllowanceMs, ms);
}

DownloadDeadlines::DownloadDeadlines(const RetrySchedule& schedule, uint64_t fileBytes)
    : schedule_(schedule) {
    const uint64_t whole = tryTimeMs(schedule, fileBytes);
    runEnd_ = saturatingAdd(saturatingAdd(now(), saturatingAdd(whole, whole)),
                            schedule.runMarginMs);
}

uint64_t DownloadDeadlines::now() const {
    if (schedule_.clockMs) return schedule_.clockMs();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void DownloadDeadlines::startTry(uint64_t bytes) {
    tryEnd_ = saturatingAdd(now(), tryTimeMs(schedule_, bytes));
}

DownloadFailure DownloadDeadlines::overdue() const {
    const uint64_t at = now();
    if (at > runEnd_) return DownloadFailure::TimedOut;
    return at > tryEnd_ ? DownloadFailure::Cut : DownloadFailure::None;
}

bool bodyEnd(uint64_t offset, uint64_t length, uint64_t largest, bool exact, uint64_t& end) {
    end = largest;
    if (length == 0) return offset <= largest;
    if (length > UINT64_MAX - offset) return false;  // a length that wraps is no length
    end = offset + length;
    return exact ? end == largest : end <= largest;
}

uint32_t retryWaitMs(const RetrySchedule& schedule, int nextTry, long retryAfterSeconds) {
    if (retryAfterSeconds >= 0)
        return static_cast<uint32_t>(std::min<uint64_t>(
            static_cast<uint64_t>(retryAfterSeconds) * 1000, schedule.retryAfterCapMs));
    if (schedule.waitsMs.empty() || nextTry < 2) return 0;
    const size_t index = std::min<size_t>(static_cast<size_t>(nextTry - 2),
                                          schedule.waitsMs.size() - 1);
    return schedule.waitsMs[index];
}

long parseRetryAfter(std::string_view text) {
    uint64_t seconds = 0;
    if (!parseCount(trimmed(text), seconds)) return -1;
    return static_cast<long>(std::min<uint64_t>(seconds, 86400));
}

bool isFinalStatus(long status) {
    if (status == 200 || status == 206 || status == 416) return false;
    if (status == 408 || status == 429) return false;
    if (status >= 500 && status <= 599) return false;
    return true;
}

bool parseContentRange(std::string_view text, uint64_t& first, uint64_t& last, uint64_t& total) {
    text = trimmed(text);
    constexpr std::string_view kUnit = "bytes ";
    if (text.substr(0, kUnit.size()) != kUnit) return false;
    text.remove_prefix(kUnit.size());
    const size_t dash = text.find('-');
    const size_t slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return false;
    return parseCount(text.substr(0, dash), first) &&
           parseCount(text.substr(dash + 1, slash - dash - 1), last) &&
           parseCount(text.substr(slash + 1), total) && first <= last && last < total;
}

bool continuesAt(std::string_view contentRange, uint64_t offset, uint64_t total) {
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t whole = 0;
    if (!parseContentRange(contentRange, first, last, whole)) return false;
    // The rest of the same file: from the byte asked for to its end, at the size first seen.
    return first == offset && last + 1 == whole && (total == 0 || whole == total);
}

std::string resumeValidator(const std::string& etag, const std::string& lastModified) {
    // A weak tag may not be used in If-Range: the server would always answer in full.
    if (!etag.empty() && etag.rfind("W/", 0) != 0) return etag;
    return lastModified;
}

}  // namespace tessaryn

#pragma once
// The rules of a download that survives a bad network, apart from the transfer itself: which
// answers are worth another try, how long to wait before it, whether a partial answer continues
// the bytes already kept. The words for each way it can fail belong to the driver above.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaryn {

// Why a download did not finish; each has its own message and log line.
enum class DownloadFailure {
    None,
    Cancelled,
    NoConnection,  // refused, timed out or dropped before an answer
    NameNotFound,
    Certificate,   // the server's certificate was refused
    HttpStatus,    // an answer that was not the file
    ProxySignIn,   // the proxy asked for a sign-in that was not given
    Cut,           // the body stopped early (reset, closed, stalled or past its try's time)
    Disk,          // the file could not be written
    WrongFile,     // a length or bytes that the signed file cannot have
    TimedOut,      // the whole download took longer than its file may take
};

// The tries of one source and the waits between them. Shipped with the defaults; tests pass
// shorter waits.
struct RetrySchedule {
    int triesPerSource = 5;
    std::vector<uint32_t> waitsMs{1000, 2000, 4000, 8000};  // before try 2, 3, ...
    uint32_t retryAfterCapMs = 60000;                         // a server's Retry-After, at most
    // A try may take the allowance (first bytes, slow start) and its bytes at the minimum
    // average rate: 32 KiB/s (256 kbit/s) keeps a slow line going, and a cut try resumes, so a
    // slower one still gets there over a few tries. The whole download, every source, try and
    // wait, may take twice one try's time for the whole file and the margin.
    uint32_t tryAllowanceMs = 20000;
    uint32_t minBytesPerSecond = 32768;
    uint32_t runMarginMs = 300000;
    uint64_t (*clockMs)() = nullptr;  // a clock in ms; null: the system's
};

// The milliseconds a try for `bytes` may take; saturates instead of wrapping.
uint64_t tryTimeMs(const RetrySchedule& schedule, uint64_t bytes);

// The two time bounds of one download of at most `fileBytes` bytes, on the schedule's clock,
// the run's from construction on.
class DownloadDeadlines {
  public:
    DownloadDeadlines(const RetrySchedule& schedule, uint64_t fileBytes);
    // A try that may carry `bytes` more begins now.
    void startTry(uint64_t bytes);
    // None while within both; TimedOut past the run's, else Cut past the try's.
    DownloadFailure overdue() const;

  private:
    uint64_t now() const;
    const RetrySchedule& schedule_;
    uint64_t runEnd_;
    uint64_t tryEnd_ = UINT64_MAX;
};

// An answer whose body continues a file at `offset` and announces `length` bytes more (0: not
// announced): false when it cannot be the file asked for (it ends past `largest`, or with
// `exact`, the file's signed size, anywhere else), to be refused before a byte is written.
// Else `end` is the byte the body is cut at, its announced end or the limit.
bool bodyEnd(uint64_t offset, uint64_t length, uint64_t largest, bool exact, uint64_t& end);

// The wait before try `nextTry` (2 or more): the server's Retry-After (seconds, -1 when none)
// up to the cap, else the schedule's (its last entry repeats).
uint32_t retryWaitMs(const RetrySchedule& schedule, int nextTry, long retryAfterSeconds);

// Retry-After as delay-seconds; -1 for none, a date or anything unreadable.
long parseRetryAfter(std::string_view text);

// An answer status that no further try of the same source can change: 4xx but 408 and 429
// (and 407, which is answered by signing in), and anything else that is neither 200, 206, 416
// nor 5xx.
bool isFinalStatus(long status);

// "bytes FIRST-LAST/TOTAL" with FIRST <= LAST < TOTAL; false for anything else ("*/" too).
bool parseContentRange(std::string_view text, uint64_t& first, uint64_t& last, uint64_t& total);

// True when a 206 answer continues a file of `total` bytes (0: size unknown) at `offset`.
bool continuesAt(std::string_view contentRange, uint64_t offset, uint64_t total);

// The validator that a resumed request sends in If-Range: a strong ETag, else Last-Modified;
// empty when the first answer gave neither (then a cut transfer starts over).
std::string resumeValidator(const std::string& etag, const std::string& lastModified);

}  // namespace tessaryn

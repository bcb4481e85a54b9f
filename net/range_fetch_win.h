#pragma once
// One GET of some byte ranges of a file whose size is signed: the body is handed on as bytes at
// their file offsets, and never read past what the ranges asked for.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/download_retry.h"
#include "net/range_plan.h"

namespace tessaryn {

enum class RangeAnswer {
    Taken,     // every part the answer held was handed on (it may hold fewer than asked)
    Whole,     // 200, the host ignores ranges: the file's bytes up to `wholeEnd` handed on
    Refused,   // a part outside what was asked, a body too long, or bytes the sink refused
    Failed,    // no answer, or a status that is neither 200 nor 206
    Cut,       // the body stopped early, stalled or ran past its time
};

// Bytes of the file at `offset`; false to stop reading (the answer is then Refused).
using RangeSink = std::function<bool(uint64_t offset, const uint8_t*, size_t)>;

struct RangeFetchOptions {
    std::string userAgent;
    uint32_t timeoutMs = 30000;
    uint32_t stallLimitMs = 60000;
    RetrySchedule schedule;  // a try's time for the bytes asked for
    // A 200 answer (the whole file) is read from its first byte up to this offset (exclusive;
    // 0: the end of the last span asked, never past the file's size) and handed on as bytes at
    // their offsets, so that a host that ignores ranges still serves what the spans wanted; the
    // rest of it is left unread.
    uint64_t wholeEnd = 0;
    const std::atomic<bool>* cancelled = nullptr;
};

struct RangeFetchResult {
    RangeAnswer answer = RangeAnswer::Failed;
    long status = 0;
    uint64_t bodyBytes = 0;  // read from the wire
    std::string why;         // for the log
};

// Asks `url` for the spans (in file order, inside a file of `fileSize` bytes). An answer of one
// range (Content-Range) must lie inside one span asked for; an answer of several parts
// (multipart/byteranges) is read part by part, each held to the same rule.
RangeFetchResult fetchRanges(const std::string& url, const std::vector<PlannedSpan>& spans,
                             uint64_t fileSize, const RangeSink& sink,
                             const RangeFetchOptions& options);

}  // namespace tessaryn

#include "net/range_fetch_win.h"

#include <algorithm>

#include "net/byte_ranges.h"
#include "net/url.h"
#include "net/wininet_parts_win.h"
#include "system/run_log.h"

namespace tessaryn {

using namespace wininet_parts;

namespace {

// The one span asked for that holds [first, last]; null when none does.
const PlannedSpan* spanHolding(const std::vector<PlannedSpan>& spans, uint64_t first,
                               uint64_t last) {
    for (const PlannedSpan& span : spans)
        if (first >= span.first && last <= span.last) return &span;
    return nullptr;
}

// The body of one answer, read within its bound and its times.
class BodyRead {
  public:
    BodyRead(HINTERNET request, const RangeFetchOptions& options, uint64_t bound)
        : request_(request), options_(options), deadlines_(options.schedule, bound),
          bound_(bound) {
        deadlines_.startTry(bound);
    }

    // Reads up to `want` more bytes into the buffer: the count read, 0 at the body's end, or
    // -1 with `result` set when the read fails or runs late.
    long next(uint64_t want, RangeFetchResult& result) {
        if (options_.cancelled && *options_.cancelled) return fail(result, "cancelled");
        if (deadlines_.overdue() != DownloadFailure::None) return fail(result, "past its time");
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request_, &available, 0, 0))
            return fail(result, "cut off");
        if (available == 0) return 0;
        const DWORD asked = static_cast<DWORD>(
            std::min<uint64_t>({available, buffer_.size(), std::max<uint64_t>(want, 1)}));
        DWORD received = 0;
        if (!InternetReadFile(request_, buffer_.data(), asked, &received))
            return fail(result, "cut off");
        result.bodyBytes += received;
        if (received > bound_ - read_) {
            result.answer = RangeAnswer::Refused;
            result.why = "a body longer than the ranges asked for";
            return -1;
        }
        read_ += received;
        return static_cast<long>(received);
    }
    const uint8_t* data() const { return buffer_.data(); }

  private:
    long fail(RangeFetchResult& result, const char* why) {
        result.answer = RangeAnswer::Cut;
        result.why = why;
        return -1;
    }
    HINTERNET request_;
    const RangeFetchOptions& options_;
    DownloadDeadlines deadlines_;
    uint64_t bound_;
    uint64_t read_ = 0;
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(kReadBufferSize);
};

// Reads the file's bytes [from, end) from the body into the sink. False, with the result
// saying why, when the body fails, ends early (cutWhy) or the sink refuses its bytes.
bool readSpan(BodyRead& body, uint64_t from, uint64_t end, const RangeSink& sink,
              RangeFetchResult& result, const char* cutWhy) {
    for (uint64_t at = from; at < end;) {
        const long got = body.next(end - at, result);
        if (got < 0) return false;
        if (got == 0) {
            result.answer = RangeAnswer::Cut;
            result.why = cutWhy;
            return false;
        }
        if (!sink(at, body.data(), static_cast<size_t>(got))) {
            result.why = "bytes that do not match the index";
            return false;
        }
        at += static_cast<uint64_t>(got);
    }
    return true;
}

// A 206 of one range: its bytes go to the sink at their offsets, all of them or the answer
// fails.
RangeFetchResult readSingleRange(HINTERNET request, const std::vector<PlannedSpan>& spans,
                                 uint64_t fileSize, const RangeSink& sink,
                                 const RangeFetchOptions& options) {
    RangeFetchResult result{RangeAnswer::Refused, HTTP_STATUS_PARTIAL_CONTENT, 0, {}};
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t total = 0;
    const std::string range = queryHeader(request, HTTP_QUERY_CONTENT_RANGE);
    if (!parseContentRange(range, first, last, total) || total != fileSize ||
        !spanHolding(spans, first, last)) {
        result.why = "a range not asked for (" + range.substr(0, 80) + ")";
        return result;
    }
    const uint64_t length = queryContentLength(request);
    if (length != 0 && length != last - first + 1) {
        result.why = "a length other than its range's";
        return result;
    }
    BodyRead body(request, options, last - first + 1);
    if (readSpan(body, first, last + 1, sink, result, "cut off")) result.answer = RangeAnswer::Taken;
    return result;
}

// A 200: the file from its first byte, read up to the end wanted and handed on; a length
// announced must be the file's.
RangeFetchResult readWhole(HINTERNET request, const std::vector<PlannedSpan>& spans,
                           uint64_t fileSize, const RangeSink& sink,
                           const RangeFetchOptions& options) {
    RangeFetchResult result{RangeAnswer::Refused, HTTP_STATUS_OK, 0, "ranges ignored"};
    const uint64_t length = queryContentLength(request);
    if (length != 0 && length != fileSize) {
        result.why = "ranges ignored, and a length other than the file's";
        return result;
    }
    const uint64_t end = std::min(options.wholeEnd ? options.wholeEnd : spans.back().last + 1,
                                  fileSize);
    BodyRead body(request, options, end);
    if (readSpan(body, 0, end, sink, result, "ranges ignored, and cut off"))
        result.answer = RangeAnswer::Whole;
    return result;
}

// A 206 of several parts: read within the ranges' bytes and a bounded framing per part.
RangeFetchResult readParts(HINTERNET request, const std::string& boundary,
                           const std::vector<PlannedSpan>& spans, uint64_t fileSize,
                           const RangeSink& sink, const RangeFetchOptions& options) {
    RangeFetchResult result{RangeAnswer::Refused, HTTP_STATUS_PARTIAL_CONTENT, 0, {}};
    std::vector<ByteSpan> asked;
    for (const PlannedSpan& span : spans) asked.push_back({span.first, span.last});
    MultipartRanges parts(boundary, asked, fileSize, sink);
    const uint64_t framing =
        (MultipartRanges::kMaxPartHeaderBytes + 256) * spans.size() + 1024;
    BodyRead body(request, options, spanBytes(spans) + framing);
    for (;;) {
        const long got = body.next(UINT64_MAX, result);
        if (got < 0) return result;
        if (got == 0) break;
        if (!parts.feed(body.data(), static_cast<size_t>(got))) {
            result.why = parts.failure();
            return result;
        }
    }
    if (!parts.finish()) {
        result.answer = RangeAnswer::Cut;
        result.why = parts.failure().empty() ? "cut off" : parts.failure();
        return result;
    }
    result.answer = RangeAnswer::Taken;
    return result;
}

RangeFetchResult readAnswer(HINTERNET request, long status,
                            const std::vector<PlannedSpan>& spans, uint64_t fileSize,
                            const RangeSink& sink, const RangeFetchOptions& options) {
    if (status == HTTP_STATUS_OK) return readWhole(request, spans, fileSize, sink, options);
    if (status != HTTP_STATUS_PARTIAL_CONTENT)
        return {RangeAnswer::Failed, status, 0, "HTTP " + std::to_string(status)};
    const std::string type = queryHeader(request, HTTP_QUERY_CONTENT_TYPE);
    if (const std::optional<std::string> boundary = multipartBoundary(type))
        return readParts(request, *boundary, spans, fileSize, sink, options);
    return readSingleRange(request, spans, fileSize, sink, options);
}

}  // namespace

RangeFetchResult fetchRanges(const std::string& url, const std::vector<PlannedSpan>& spans,
                             uint64_t fileSize, const RangeSink& sink,
                             const RangeFetchOptions& options) {
    const std::optional<UrlParts> parts = splitUrl(url);
    if (!parts || spans.empty() || spans.back().last >= fileSize)
        return {RangeAnswer::Failed, 0, 0, "no address"};
    Connection link = openConnection(*parts, options.userAgent, options.timeoutMs,
                                     std::min(options.timeoutMs, options.stallLimitMs));
    if (!link.connection) return {RangeAnswer::Failed, 0, 0, "no connection"};
    UniqueInternet request(HttpOpenRequestA(link.connection.get(), "GET", parts->path.c_str(),
                                            "HTTP/1.1", nullptr, nullptr,
                                            requestFlags(parts->secure), 0));
    if (!request) return {RangeAnswer::Failed, 0, 0, "no request"};
    HttpAddRequestHeadersA(request.get(), kCacheHeaders, kCacheHeadersLength, kAddOrReplace);
    const std::string header = "Range: " + rangeRequestValue(spans) + "\r\n";
    HttpAddRequestHeadersA(request.get(), header.c_str(), static_cast<DWORD>(header.size()),
                           kAddOrReplace);
    if (!HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0))
        return {RangeAnswer::Failed, 0, 0, "no answer"};
    long status = 0;
    queryStatus(request.get(), status);
    RangeFetchResult result = readAnswer(request.get(), status, spans, fileSize, sink, options);
    logLine("GET " + url + " (" + std::to_string(spans.size()) + " ranges, " +
            std::to_string(spanBytes(spans)) + " bytes): HTTP " + std::to_string(status) + ", " +
            std::to_string(result.bodyBytes) + " bytes" +
            (result.answer == RangeAnswer::Taken ? std::string() : ", " + result.why));
    return result;
}

}  // namespace tessaryn

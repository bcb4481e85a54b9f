#include "net/byte_ranges.h"

#include <algorithm>

#include "system/ascii_text.h"

namespace tessaryn {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Leading decimal digits of text into value; false for none or an overflow.
bool readNumber(std::string_view& text, uint64_t& value) {
    size_t used = 0;
    value = 0;
    while (used < text.size() && text[used] >= '0' && text[used] <= '9') {
        const uint64_t digit = static_cast<uint64_t>(text[used] - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
        ++used;
    }
    text.remove_prefix(used);
    return used > 0;
}

bool takeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

// The characters a multipart boundary may hold (a space, but not at its end).
bool boundaryChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           std::string_view("'()+_,-./:=? ").find(c) != std::string_view::npos;
}

bool validBoundary(std::string_view value) {
    return !value.empty() && value.size() <= 70 && value.back() != ' ' &&
           std::all_of(value.begin(), value.end(), boundaryChar);
}

// One "; name=value" parameter from the front of text; false when it is not one.
bool takeParameter(std::string_view& text, std::string_view& name, std::string_view& value) {
    text = trimmed(text);
    if (!takeChar(text, ';')) return false;
    text = trimmed(text);
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0) return false;
    name = text.substr(0, equals);
    text.remove_prefix(equals + 1);
    if (takeChar(text, '"')) {
        const size_t close = text.find('"');
        if (close == std::string_view::npos) return false;
        value = text.substr(0, close);
        text.remove_prefix(close + 1);
        return value.find('\\') == std::string_view::npos;
    }
    const size_t end = std::min(text.find(';'), text.size());
    value = trimmed(text.substr(0, end));
    text.remove_prefix(end);
    return !value.empty() && value.find('"') == std::string_view::npos;
}

}  // namespace

std::string rangeHeader(const std::vector<ByteSpan>& spans) {
    std::string header;
    for (const ByteSpan& span : spans) {
        header += header.empty() ? "bytes=" : ",";
        header += std::to_string(span.first) + "-" + std::to_string(span.last);
    }
    return header;
}

std::optional<std::string> multipartBoundary(std::string_view contentType) {
    std::string_view text = trimmed(contentType);
    const size_t end = std::min(text.find(';'), text.size());
    if (!equalsIgnoringAsciiCase(trimmed(text.substr(0, end)), "multipart/byteranges"))
        return std::nullopt;
    text.remove_prefix(end);
    std::optional<std::string> boundary;
    while (!trimmed(text).empty()) {
        std::string_view name, value;
        if (!takeParameter(text, name, value)) return std::nullopt;
        if (!equalsIgnoringAsciiCase(trimmed(name), "boundary")) continue;
        if (boundary || !validBoundary(value)) return std::nullopt;
        boundary = std::string(value);
    }
    return boundary;
}

std::optional<ContentRange> parseContentRange(std::string_view value) {
    std::string_view text = trimmed(value);
    if (text.size() < 6 || !equalsIgnoringAsciiCase(text.substr(0, 6), "bytes "))
        return std::nullopt;
    text.remove_prefix(6);
    ContentRange range;
    if (!readNumber(text, range.first) || !takeChar(text, '-') || !readNumber(text, range.last) ||
        !takeChar(text, '/') || range.last < range.first)
        return std::nullopt;
    if (text == "*") return range;
    uint64_t total = 0;
    if (!readNumber(text, total) || !text.empty() || range.last >= total) return std::nullopt;
    range.total = total;
    return range;
}

MultipartRanges::MultipartRanges(std::string boundary, const std::vector<ByteSpan>& asked,
                                 uint64_t fileSize, BodySink sink)
    : boundary_(std::move(boundary)), fileSize_(fileSize), sink_(std::move(sink)) {
    std::vector<ByteSpan> sorted = asked;
    std::sort(sorted.begin(), sorted.end(),
              [](const ByteSpan& a, const ByteSpan& b) { return a.first < b.first; });
    for (const ByteSpan& span : sorted) {
        if (!asked_.empty() && span.first <= asked_.back().last + 1)
            asked_.back().last = std::max(asked_.back().last, span.last);
        else
            asked_.push_back(span);
    }
    expectDelimiter(false);
    state_ = State::Lead;
    countdown_ = kMaxPartHeaderBytes;
}

void MultipartRanges::expectDelimiter(bool afterBody) {
    delimiter_ = (afterBody ? "\r\n--" : "--") + boundary_;
    matched_ = 0;
    state_ = State::Delimiter;
}

bool MultipartRanges::fail(std::string why) {
    if (state_ != State::Failed) failure_ = std::move(why);
    state_ = State::Failed;
    return false;
}

bool MultipartRanges::feed(const uint8_t* bytes, size_t size) {
    while (size > 0) {
        if (state_ == State::Failed) return false;
        if (state_ != State::Body) {
            if (!step(*bytes)) return false;
            ++bytes;
            --size;
            continue;
        }
        const size_t part = static_cast<size_t>(std::min<uint64_t>(size, remaining_));
        if (!sink_(offset_, bytes, part)) return fail("the receiver stopped at byte " +
                                                      std::to_string(offset_));
        offset_ += part;
        remaining_ -= part;
        bytes += part;
        size -= part;
        if (remaining_ == 0) {
            partOpen_ = false;
            expectDelimiter(true);
        }
    }
    return state_ != State::Failed;
}

// Everything but a part's body, one byte at a time: the delimiters, their padding, the header
// blocks and the whitespace around the parts are all short.
bool MultipartRanges::step(uint8_t byte) {
    const char c = static_cast<char>(byte);
    switch (state_) {
    case State::Lead:
        if (c == '\r' || c == '\n') {
            if (--countdown_ == 0) return fail("too much before the first part");
            return true;
        }
        expectDelimiter(false);
        return step(byte);
    case State::Delimiter:
        if (c != delimiter_[matched_])
            return fail(delimiter_[0] == '-' ? "the body does not start with its boundary"
                                             : "a part does not end at its range's end");
        if (++matched_ == delimiter_.size()) state_ = State::AfterDelimiter;
        return true;
    case State::AfterDelimiter:
        if (c == '-') {
            state_ = State::CloseDash;
            return true;
        }
        state_ = State::Padding;
        countdown_ = kMaxPartHeaderBytes;
        return step(byte);
    case State::CloseDash:
        if (c != '-') return fail("a malformed delimiter");
        if (received_.empty()) return fail("the body holds no part");
        state_ = State::Epilogue;
        countdown_ = kMaxPartHeaderBytes;
        return true;
    case State::Padding:
        if (c == '\r') {
            state_ = State::PaddingEnd;
            return true;
        }
        if (!isBlank(c) || --countdown_ == 0) return fail("a malformed delimiter");
        return true;
    case State::PaddingEnd:
        if (c != '\n') return fail("a malformed delimiter");
        headers_.clear();
        state_ = State::Headers;
        return true;
    case State::Headers:
        if (headers_.size() == kMaxPartHeaderBytes) return fail("a part's headers are too long");
        headers_.push_back(c);
        if (headers_ == "\r\n") return fail("a part without a Content-Range");
        if (headers_.size() >= 4 && headers_.compare(headers_.size() - 4, 4, "\r\n\r\n") == 0)
            return startPart();
        return true;
    case State::Epilogue:
        if (!isBlank(c) && c != '\r' && c != '\n') return fail("data after the closing delimiter");
        if (--countdown_ == 0) return fail("too much after the closing delimiter");
        return true;
    default:
        return fail("data after the end");
    }
}

// The part whose header block was just read: its one Content-Range, within what was asked, and
// none of its bytes taken before.
bool MultipartRanges::startPart() {
    std::optional<ContentRange> range;
    size_t start = 0;
    while (start + 2 < headers_.size()) {
        const size_t end = headers_.find("\r\n", start);
        const std::string_view line(headers_.data() + start, end - start);
        start = end + 2;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 || isBlank(line[0]) ||
            line.find_first_of("\r\n") != std::string_view::npos)
            return fail("a malformed part header");
        if (!equalsIgnoringAsciiCase(trimmed(line.substr(0, colon)), "content-range")) continue;
        if (range) return fail("a part with two Content-Range headers");
        range = parseContentRange(line.substr(colon + 1));
        if (!range) return fail("a malformed Content-Range");
    }
    if (!range) return fail("a part without a Content-Range");
    const std::string text = std::to_string(range->first) + "-" + std::to_string(range->last);
    if (range->total && *range->total != fileSize_)
        return fail("range " + text + " of a file of " + std::to_string(*range->total) + " bytes");
    const auto within = std::find_if(asked_.begin(), asked_.end(), [&](const ByteSpan& span) {
        return span.first <= range->first && range->last <= span.last;
    });
    if (range->last >= fileSize_ || within == asked_.end())
        return fail("range " + text + " was not asked for");
    // A range taken before would be handed on twice.
    const auto after = received_.upper_bound(range->last);
    if (after != received_.begin() && std::prev(after)->second >= range->first)
        return fail("range " + text + " came twice");
    received_[range->first] = range->last;
    partOpen_ = true;
    openFirst_ = range->first;
    offset_ = range->first;
    remaining_ = range->last - range->first + 1;
    state_ = State::Body;
    return true;
}

bool MultipartRanges::finish() {
    if (state_ == State::Failed) return false;
    if (state_ != State::Epilogue) return fail("the body ends before its closing delimiter");
    return true;
}

std::vector<ByteSpan> MultipartRanges::received() const {
    std::vector<ByteSpan> spans;
    for (const auto& [first, last] : received_) {
        if (partOpen_ && first == openFirst_) continue;
        if (!spans.empty() && first == spans.back().last + 1)
            spans.back().last = last;
        else
            spans.push_back({first, last});
    }
    return spans;
}

}  // namespace tessaryn

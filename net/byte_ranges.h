#pragma once
// Ranges of a file asked for in one request, and the reader of the answer that brings several
// of them ("multipart/byteranges"). The answer comes from any host or mirror: everything in it is
// taken as hostile, bounded by what was asked and by the file's signed size.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaryn {

// Bytes first to last of a file, both included, as HTTP writes them.
struct ByteSpan {
    uint64_t first = 0;
    uint64_t last = 0;
};

// "bytes=0-9,20-29"; empty for no spans.
std::string rangeHeader(const std::vector<ByteSpan>& spans);

// The boundary of a "multipart/byteranges" content type (media type in any case, the boundary
// quoted or not, 1 to 70 of the characters a boundary may hold); empty for any other type.
std::optional<std::string> multipartBoundary(std::string_view contentType);

struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;
    std::optional<uint64_t> total;  // none for "/*"
};
// "bytes 0-9/100" or "bytes 0-9/*"; empty for anything else, a number that overflows, last
// below first, or last not below the total.
std::optional<ContentRange> parseContentRange(std::string_view value);

// Reads a "multipart/byteranges" body fed in chunks of any size, handing each part's body bytes
// on with their offset in the file as they arrive. Refuses (and then takes nothing more) a part
// without one Content-Range, a header block over kMaxPartHeaderBytes, a range outside those
// asked or the file, a total other than the file's size, bytes of a range delivered before, a
// body that does not end where its range does, and anything but whitespace after the closing
// delimiter.
class MultipartRanges {
  public:
    // False stops the reading (the sink could not take the bytes).
    using BodySink = std::function<bool(uint64_t offset, const uint8_t* bytes, size_t size)>;
    static constexpr size_t kMaxPartHeaderBytes = 8 * 1024;

    MultipartRanges(std::string boundary, const std::vector<ByteSpan>& asked, uint64_t fileSize,
                    BodySink sink);

    // False once the body has been refused (or the sink said stop).
    bool feed(const uint8_t* bytes, size_t size);
    // True when the body ended with its closing delimiter after at least one part.
    bool finish();
    // Why it was refused, for the log; empty while it was not.
    const std::string& failure() const { return failure_; }
    // The spans whose bytes were handed on, in file order, touching ones joined.
    std::vector<ByteSpan> received() const;

  private:
    enum class State { Lead, Delimiter, AfterDelimiter, CloseDash, Padding, PaddingEnd, Headers,
                       Body, Epilogue, Failed };
    bool fail(std::string why);
    bool step(uint8_t byte);
    bool startPart();
    void expectDelimiter(bool afterBody);

    std::string delimiter_;  // "--" + boundary, or "\r\n--" + boundary after a body
    std::string boundary_;
    std::vector<ByteSpan> asked_;  // sorted, touching ones joined
    uint64_t fileSize_;
    BodySink sink_;
    State state_ = State::Lead;
    size_t matched_ = 0;    // bytes of delimiter_ matched
    size_t countdown_ = 0;  // bytes of lead-in, padding or epilogue still allowed
    std::string headers_;
    uint64_t offset_ = 0;     // the next body byte's place in the file
    uint64_t remaining_ = 0;  // body bytes of the current part still to come
    std::map<uint64_t, uint64_t> received_;  // first -> last of each part begun
    bool partOpen_ = false;  // the last part begun has bytes still to come
    uint64_t openFirst_ = 0;
    std::string failure_;
};

}  // namespace tessaryn

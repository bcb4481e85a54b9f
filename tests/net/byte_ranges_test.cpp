// Several ranges in one answer: the request's header, the answer's headers and its body, read as
// hostile input whichever way its bytes are cut.
#include "net/byte_ranges.h"

#include <gtest/gtest.h>

namespace tessaryn {
namespace {

TEST(ByteRangesTest, RangeHeaderListsSpansAsAsked) {
    EXPECT_EQ(rangeHeader({}), "");
    EXPECT_EQ(rangeHeader({{0, 9}}), "bytes=0-9");
    EXPECT_EQ(rangeHeader({{0, 9}, {20, 29}, {18446744073709551614u, 18446744073709551614u}}),
              "bytes=0-9,20-29,18446744073709551614-18446744073709551614");
}

TEST(ByteRangesTest, BoundaryIsTakenOnlyFromAByterangesType) {
    const std::string seventy(70, 'b');
    const struct {
        std::string type;
        std::optional<std::string> boundary;
    } rows[] = {
        {"multipart/byteranges; boundary=THIS_STRING", "THIS_STRING"},
        {"Multipart/ByteRanges;boundary=\"a b:c\"", "a b:c"},
        {"multipart/byteranges; charset=x; Boundary=3d6b6a416f9b5", "3d6b6a416f9b5"},
        {"multipart/byteranges; boundary=\"x;y\"", std::nullopt},
        {"multipart/byteranges; boundary=" + seventy, seventy},
        {"multipart/byteranges; boundary=" + seventy + "b", std::nullopt},
        {"multipart/byteranges; boundary=\"ends in space \"", std::nullopt},
        {"multipart/byteranges; boundary=\"\"", std::nullopt},
        {"multipart/byteranges; boundary=\"open", std::nullopt},
        {"multipart/byteranges; boundary=a\\b", std::nullopt},
        {"multipart/byteranges; boundary=\"a\\\"b\"", std::nullopt},
        {"multipart/byteranges; boundary=a; boundary=a", std::nullopt},
        {"multipart/byteranges; boundary=a{b", std::nullopt},
        {"multipart/byteranges", std::nullopt},
        {"multipart/byteranges; =x", std::nullopt},
        {"multipart/mixed; boundary=a", std::nullopt},
        {"application/octet-stream", std::nullopt},
    };
    for (const auto& row : rows) EXPECT_EQ(multipartBoundary(row.type), row.boundary) << row.type;
}

TEST(ByteRangesTest, ContentRangeIsReadStrictly) {
    struct Range {
        uint64_t first, last;
        std::optional<uint64_t> total;
    };
    const struct {
        const char* value;
        std::optional<Range> range;
    } rows[] = {
        {"bytes 0-9/100", Range{0, 9, 100}},
        {" BYTES 99-99/100 ", Range{99, 99, 100}},
        {"bytes 0-9/*", Range{0, 9, std::nullopt}},
        {"bytes 0-18446744073709551614/18446744073709551615",
         Range{0, 18446744073709551614u, 18446744073709551615u}},
        {"bytes 0-18446744073709551616/*", std::nullopt},
        {"bytes 0-1/18446744073709551616", std::nullopt},
        {"bytes 0-99/100x", std::nullopt},
        {"bytes 0-100/100", std::nullopt},
        {"bytes 10-9/100", std::nullopt},
        {"bytes */100", std::nullopt},
        {"bytes -5/100", std::nullopt},
        {"bytes 0 - 9/100", std::nullopt},
        {"bytes 0-9", std::nullopt},
        {"bytes=0-9/100", std::nullopt},
        {"0-9/100", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        const std::optional<ContentRange> range = parseContentRange(row.value);
        ASSERT_EQ(range.has_value(), row.range.has_value()) << row.value;
        if (!range) continue;
        EXPECT_EQ(range->first, row.range->first) << row.value;
        EXPECT_EQ(range->last, row.range->last) << row.value;
        EXPECT_EQ(range->total, row.range->total) << row.value;
    }
}

// The file whose ranges are served: byte i is i, so an offset handed on wrongly shows.
constexpr uint64_t kFileSize = 200;
const std::string kBoundary = "3d6b6a416f9b5";

std::string fileBytes(uint64_t first, uint64_t last) {
    std::string bytes;
    for (uint64_t at = first; at <= last; ++at) bytes.push_back(static_cast<char>(at));
    return bytes;
}

std::string partHead(uint64_t first, uint64_t last, const std::string& total = "200") {
    return "--" + kBoundary +
           "\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes " +
           std::to_string(first) + "-" + std::to_string(last) + "/" + total + "\r\n\r\n";
}

std::string part(uint64_t first, uint64_t last) {
    return partHead(first, last) + fileBytes(first, last) + "\r\n";
}

const std::string kClose = "--" + kBoundary + "--\r\n";

struct Read {
    bool fed = false;
    bool finished = false;
    std::string file = std::string(kFileSize, '?');  // bytes handed on, '?' where none came
    std::vector<ByteSpan> received;
    std::string failure;
};

// Feeds `body` in chunks of `chunk` bytes (0: whole), after a first chunk of `split` bytes.
Read readBody(const std::string& body, size_t chunk = 0, size_t split = 0,
              std::vector<ByteSpan> asked = {{0, 49}, {100, 149}, {190, 199}},
              uint64_t stopAt = UINT64_MAX) {
    Read read;
    MultipartRanges reader(kBoundary, asked, kFileSize,
                           [&](uint64_t offset, const uint8_t* bytes, size_t size) {
                               if (offset + size > stopAt) return false;
                               read.file.replace(offset, size, reinterpret_cast<const char*>(bytes),
                                                 size);
                               return true;
                           });
    const auto* bytes = reinterpret_cast<const uint8_t*>(body.data());
    size_t at = 0;
    read.fed = true;
    if (split > 0) {
        read.fed = reader.feed(bytes, split);
        at = split;
    }
    while (read.fed && at < body.size()) {
        const size_t size = chunk == 0 ? body.size() - at : std::min(chunk, body.size() - at);
        read.fed = reader.feed(bytes + at, size);
        at += size;
    }
    read.finished = reader.finish();
    read.received = reader.received();
    read.failure = reader.failure();
    return read;
}

std::string expectedFile(const std::vector<ByteSpan>& spans) {
    std::string file(kFileSize, '?');
    for (const ByteSpan& span : spans)
        file.replace(span.first, span.last - span.first + 1, fileBytes(span.first, span.last));
    return file;
}

TEST(ByteRangesTest, PartsAreHandedOnWhereverTheChunksAreCut) {
    const std::string body = "\r\n" + part(100, 149) + part(0, 9) + part(10, 49) + part(190, 199) +
                             kClose + " \r\n";
    const std::string want = expectedFile({{0, 49}, {100, 149}, {190, 199}});
    for (size_t split = 0; split < body.size(); ++split) {
        for (size_t chunk : {size_t{0}, size_t{1}, size_t{7}}) {
            const Read read = readBody(body, chunk, split);
            ASSERT_TRUE(read.fed && read.finished) << split << "/" << chunk << ": " << read.failure;
            ASSERT_EQ(read.file, want) << split << "/" << chunk;
        }
    }
    const Read read = readBody(body);
    ASSERT_EQ(read.received.size(), 3u);
    EXPECT_EQ(read.received[0].first, 0u);
    EXPECT_EQ(read.received[0].last, 49u);
    EXPECT_EQ(read.received[2].first, 190u);
}

TEST(ByteRangesTest, HostileBodiesAreRefused) {
    const std::string good = part(0, 9);
    const std::string filler = "X-Filler: ";
    // A header block of exactly the bound, and one byte over it.
    const auto withHeaderBlock = [&](size_t blockBytes) {
        const std::string head = partHead(0, 9);
        const size_t fixed = head.size() - ("--" + kBoundary + "\r\n").size();
        const std::string extra = filler + std::string(blockBytes - fixed - filler.size() - 2, 'f');
        return "--" + kBoundary + "\r\n" + extra + "\r\n" + head.substr(kBoundary.size() + 4) +
               fileBytes(0, 9) + "\r\n" + kClose;
    };
    const size_t bound = MultipartRanges::kMaxPartHeaderBytes;
    const struct {
        const char* what;
        std::string body;
        const char* failure;  // empty: read whole
    } rows[] = {
        {"a header block at its bound", withHeaderBlock(bound), ""},
        {"a header block over its bound", withHeaderBlock(bound + 1),
         "a part's headers are too long"},
        {"padding after a delimiter", "--" + kBoundary + " \t\r\n" + partHead(0, 9).substr(
                                          kBoundary.size() + 4) + fileBytes(0, 9) + "\r\n" + kClose,
         ""},
        {"whitespace after the close", good + kClose + "\r\n\r\n \t", ""},
        // Line breaks before the first part, blanks after a delimiter and whitespace after the
        // close (its own line break counted): each at its bound, and one byte over it.
        {"a lead-in at its bound", std::string(bound - 1, '\n') + good + kClose, ""},
        {"a lead-in over its bound", std::string(bound, '\n') + good + kClose,
         "too much before the first part"},
        {"padding at its bound", "--" + kBoundary + std::string(bound - 1, ' ') + "\r\n" +
                                     partHead(0, 9).substr(kBoundary.size() + 4) +
                                     fileBytes(0, 9) + "\r\n" + kClose,
         ""},
        {"padding over its bound", "--" + kBoundary + std::string(bound, ' ') + "\r\n" +
                                       partHead(0, 9).substr(kBoundary.size() + 4) +
                                       fileBytes(0, 9) + "\r\n" + kClose,
         "a malformed delimiter"},
        {"an epilogue at its bound", good + kClose + std::string(bound - 3, ' '), ""},
        {"an epilogue over its bound", good + kClose + std::string(bound - 2, ' '),
         "too much after the closing delimiter"},
        {"text after the close", good + kClose + "<html>", "data after the closing delimiter"},
        {"a second close", good + kClose + kClose, "data after the closing delimiter"},
        {"no close", good, "the body ends before its closing delimiter"},
        {"a close cut short", good + "--" + kBoundary + "-",
         "the body ends before its closing delimiter"},
        {"no part", kClose, "the body holds no part"},
        {"a preamble", "preamble\r\n" + good + kClose, "the body does not start with its boundary"},
        {"another boundary", "--other\r\n" + good.substr(kBoundary.size() + 4) + kClose,
         "the body does not start with its boundary"},
        {"a body one byte long", partHead(0, 9) + fileBytes(0, 10) + "\r\n" + kClose,
         "a part does not end at its range's end"},
        {"a body one byte short", partHead(0, 9) + fileBytes(0, 8) + "\r\n" + kClose,
         "a part does not end at its range's end"},
        {"no Content-Range", "--" + kBoundary + "\r\nContent-Type: x\r\n\r\n" + fileBytes(0, 9) +
                                 "\r\n" + kClose,
         "a part without a Content-Range"},
        {"no header at all", "--" + kBoundary + "\r\n\r\n" + fileBytes(0, 9) + "\r\n" + kClose,
         "a part without a Content-Range"},
        {"two Content-Ranges",
         "--" + kBoundary + "\r\ncontent-range: bytes 0-9/200\r\n" +
             partHead(0, 9).substr(kBoundary.size() + 4) + fileBytes(0, 9) + "\r\n" + kClose,
         "a part with two Content-Range headers"},
        {"a malformed Content-Range", partHead(9, 0) + kClose, "a malformed Content-Range"},
        {"a folded header line", "--" + kBoundary + "\r\n continued: x\r\n" +
                                     partHead(0, 9).substr(kBoundary.size() + 4) + kClose,
         "a malformed part header"},
        {"a header line without a colon", "--" + kBoundary + "\r\nno colon\r\n" +
                                              partHead(0, 9).substr(kBoundary.size() + 4) + kClose,
         "a malformed part header"},
        {"a range of another file's size",
         partHead(0, 9, "201") + fileBytes(0, 9) + "\r\n" + kClose,
         "range 0-9 of a file of 201 bytes"},
        {"an unknown total is taken", partHead(0, 9, "*") + fileBytes(0, 9) + "\r\n" + kClose, ""},
        {"a range not asked for", part(50, 59) + kClose, "range 50-59 was not asked for"},
        {"a range across two asked", part(40, 109) + kClose, "range 40-109 was not asked for"},
        {"a range past the file", partHead(195, 205, "*") + kClose,
         "range 195-205 was not asked for"},
        {"a range twice", good + good + kClose, "range 0-9 came twice"},
        {"a range overlapping one before", good + part(5, 14) + kClose, "range 5-14 came twice"},
        {"a malformed delimiter", good + "--" + kBoundary + "x\r\n", "a malformed delimiter"},
        {"a delimiter line cut by a bare LF", good + "--" + kBoundary + "\n",
         "a malformed delimiter"},
    };
    for (const auto& row : rows) {
        for (size_t chunk : {size_t{0}, size_t{1}}) {
            const Read read = readBody(row.body, chunk, 0, {{0, 49}, {100, 149}, {190, 210}});
            EXPECT_EQ(read.failure, row.failure) << row.what << " (chunk " << chunk << ")";
            EXPECT_EQ(read.finished, row.failure[0] == 0) << row.what;
        }
    }
}

TEST(ByteRangesTest, WhatCameBeforeARefusalIsAllThatWasHandedOn) {
    // One range of two asked, then a bad one: the first stays, nothing of the bad one is handed on.
    const Read read = readBody(part(100, 149) + part(60, 69) + kClose, 1);
    EXPECT_FALSE(read.fed);
    EXPECT_EQ(read.file, expectedFile({{100, 149}}));
    ASSERT_EQ(read.received.size(), 1u);
    EXPECT_EQ(read.received[0].first, 100u);
    EXPECT_EQ(read.received[0].last, 149u);

    // A receiver that stops mid-part ends the reading; the open part is not counted as received.
    const Read stopped = readBody(part(0, 9) + part(100, 149) + kClose, 1, 0,
                                  {{0, 49}, {100, 149}}, 120);
    EXPECT_FALSE(stopped.fed);
    EXPECT_EQ(stopped.failure, "the receiver stopped at byte 120");
    ASSERT_EQ(stopped.received.size(), 1u);
    EXPECT_EQ(stopped.received[0].last, 9u);

    // Nothing is taken after a refusal, even bytes that would be good.
    MultipartRanges reader(kBoundary, {{0, 9}}, kFileSize,
                           [](uint64_t, const uint8_t*, size_t) { return true; });
    const std::string bad = "junk";
    EXPECT_FALSE(reader.feed(reinterpret_cast<const uint8_t*>(bad.data()), bad.size()));
    const std::string body = part(0, 9) + kClose;
    EXPECT_FALSE(reader.feed(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
    EXPECT_FALSE(reader.finish());
    EXPECT_EQ(reader.failure(), "the body does not start with its boundary");
}

}  // namespace
}  // namespace tessaryn

// Byte-range GETs against scripted answers of the test web host: what each kind of answer is
// taken as, and that no byte outside what was asked (or of a refused answer) reaches the sink.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "net/json_post_win.h"
#include "net/range_fetch_win.h"
#include "tests/support/test_env_win.h"

namespace tessaryn {
namespace {

using nlohmann::json;
using namespace testing;

constexpr uint64_t kFileSize = 1000;
const std::string kFile = testing::patternBytes(kFileSize);

json byteList(const std::string& bytes) {
    json list = json::array();
    for (unsigned char c : bytes) list.push_back(c);
    return list;
}

std::string part(uint64_t first, uint64_t last, uint64_t total = kFileSize) {
    return "--cut\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes " +
           std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(total) +
           "\r\n\r\n" + kFile.substr(first, last - first + 1) + "\r\n";
}

struct Row {
    const char* name;
    int status;
    json headers;
    std::string body;
    std::vector<PlannedSpan> spans;
    RangeAnswer expected;
    // [first, end) of the file the sink must have got, in order; nothing else
    std::vector<std::pair<uint64_t, uint64_t>> handedOn;
    const char* why = "";  // a part of the reason given, when not taken
    json extra = json::object();
};

const std::vector<PlannedSpan> kOne{{100, 199}};
const std::vector<PlannedSpan> kTwo{{100, 199}, {500, 599}};
const json kMultipart = {{"Content-Type", "multipart/byteranges; boundary=cut"}};

json rangeOf(uint64_t first, uint64_t last, uint64_t total = kFileSize) {
    return {{"Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                  std::to_string(total)}};
}

std::vector<Row> rows() {
    return {
        {"one range",
         206,
         rangeOf(100, 199),
         kFile.substr(100, 100),
         kOne,
         RangeAnswer::Taken,
         {{100, 200}}},
        {"one range of two asked",
         206,
         rangeOf(500, 599),
         kFile.substr(500, 100),
         kTwo,
         RangeAnswer::Taken,
         {{500, 600}}},
        {"a range one byte off",
         206,
         rangeOf(101, 200),
         kFile.substr(101, 100),
         kOne,
         RangeAnswer::Refused,
         {},
         "not asked for"},
        {"a range of a file of another size",
         206,
         rangeOf(100, 199, 2000),
         kFile.substr(100, 100),
         kOne,
         RangeAnswer::Refused,
         {},
         "not asked for"},
        {"a range across two spans",
         206,
         rangeOf(100, 599),
         kFile.substr(100, 500),
         kTwo,
         RangeAnswer::Refused,
         {},
         "not asked for"},
        {"no Content-Range",
         206,
         json::object(),
         kFile.substr(100, 100),
         kOne,
         RangeAnswer::Refused,
         {},
         "not asked for"},
        {"a length other than the range's",
         206,
         rangeOf(100, 199),
         kFile.substr(100, 101),
         kOne,
         RangeAnswer::Refused,
         {},
         "length other"},
        {"a range cut off",
         206,
         rangeOf(100, 199),
         kFile.substr(100, 100),
         kOne,
         RangeAnswer::Cut,
         {{100, 150}},
         "cut off",
         {{"cut_after", 50}, {"clean_cut", true}}},
        {"both parts",
         206,
         kMultipart,
         part(100, 199) + part(500, 599) + "--cut--\r\n",
         kTwo,
         RangeAnswer::Taken,
         {{100, 200}, {500, 600}}},
        {"one part of two",
         206,
         kMultipart,
         part(500, 599) + "--cut--\r\n",
         kTwo,
         RangeAnswer::Taken,
         {{500, 600}}},
        {"a part not asked for",
         206,
         kMultipart,
         part(300, 399) + "--cut--\r\n",
         kTwo,
         RangeAnswer::Refused,
         {}},
        {"parts followed by more bytes",
         206,
         kMultipart,
         part(100, 199) + part(500, 599) + "--cut--\r\n" + std::string(20000, 'x'),
         kTwo,
         RangeAnswer::Refused,
         {{100, 200}, {500, 600}},
         "after the closing"},
        {"parts without their end",
         206,
         kMultipart,
         part(100, 199),
         kTwo,
         RangeAnswer::Cut,
         {{100, 200}}},
        // Ignored ranges: the file from its start up to the end of the last span, no further.
        {"ranges ignored", 200, json::object(), kFile, kTwo, RangeAnswer::Whole, {{0, 600}}},
        {"ranges ignored, no length",
         200,
         json::object(),
         kFile,
         kOne,
         RangeAnswer::Whole,
         {{0, 200}},
         "",
         {{"length", false}}},
        {"ranges ignored, a length other than the file's",
         200,
         json::object(),
         kFile.substr(0, 999),
         kOne,
         RangeAnswer::Refused,
         {},
         "length other"},
        {"ranges ignored and cut off",
         200,
         json::object(),
         kFile,
         kTwo,
         RangeAnswer::Cut,
         {{0, 300}},
         "cut off",
         {{"cut_after", 300}, {"clean_cut", true}}},
        {"a failure status",
         503,
         json::object(),
         "busy",
         kOne,
         RangeAnswer::Failed,
         {},
         "HTTP 503"},
        {"a range the file lacks",
         416,
         rangeOf(0, 0),
         "",
         kOne,
         RangeAnswer::Failed,
         {},
         "HTTP 416"},
    };
}

// Joins what the sink got into [first, end) runs, refusing overlaps and bytes not of the file.
struct Received {
    std::map<uint64_t, std::string> pieces;
    bool wrongBytes = false;

    bool take(uint64_t at, const uint8_t* data, size_t size) {
        const std::string bytes(reinterpret_cast<const char*>(data), size);
        if (at + size > kFileSize || kFile.compare(at, size, bytes) != 0) wrongBytes = true;
        pieces[at] += bytes;
        return true;
    }
    std::vector<std::pair<uint64_t, uint64_t>> runs() const {
        std::vector<std::pair<uint64_t, uint64_t>> joined;
        for (const auto& [at, bytes] : pieces) {
            if (!joined.empty() && joined.back().second == at)
                joined.back().second += bytes.size();
            else
                joined.push_back({at, at + bytes.size()});
        }
        return joined;
    }
};

class RangeFetch : public ServerTest {};

TEST_F(RangeFetch, EachKindOfAnswerIsTakenAsWhatItIsAndHandsOnOnlyWhatWasAsked) {
    int n = 0;
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.name);
        const std::string path = "/range-fetch/" + std::to_string(n++);
        json answer = {{"path", path},
                       {"status", row.status},
                       {"headers", row.headers},
                       {"body", byteList(row.body)}};
        answer.update(row.extra);
        ASSERT_EQ(postJson(serverUrl() + "/__answers", answer.dump()).body, "ok");
        Received received;
        const RangeFetchResult result = fetchRanges(
            serverUrl() + path, row.spans, kFileSize,
            [&](uint64_t at, const uint8_t* data, size_t size) {
                return received.take(at, data, size);
            },
            RangeFetchOptions{});
        EXPECT_EQ(result.answer, row.expected) << result.why;
        EXPECT_EQ(result.status, row.status);
        EXPECT_FALSE(received.wrongBytes);
        EXPECT_EQ(received.runs(), row.handedOn);
        EXPECT_NE(result.why.find(row.why), std::string::npos) << result.why;
    }
}

// Each kind of answer ends at the first piece the sink refuses (a single range and a whole file
// come in 64-byte writes, so that the first piece is not the whole body).
TEST_F(RangeFetch, ASinkThatRefusesEndsTheAnswerAtThatPiece) {
    const struct {
        const char* name;
        int status;
        json headers;
        std::string body;
    } answers[] = {
        {"parts", 206, kMultipart, part(100, 199) + part(500, 599) + "--cut--\r\n"},
        {"one range", 206, rangeOf(100, 599), kFile.substr(100, 500)},
        {"the whole file", 200, json::object(), kFile},
    };
    int n = 0;
    for (const auto& row : answers) {
        SCOPED_TRACE(row.name);
        const std::string path = "/range-fetch/refused/" + std::to_string(n++);
        json answer = {{"path", path},           {"status", row.status},
                       {"headers", row.headers}, {"body", byteList(row.body)},
                       {"chunk_size", 64},       {"chunk_delay", 0.01}};
        ASSERT_EQ(postJson(serverUrl() + "/__answers", answer.dump()).body, "ok");
        int calls = 0;
        const RangeFetchResult result = fetchRanges(
            serverUrl() + path, {{100, 599}}, kFileSize,
            [&](uint64_t, const uint8_t*, size_t) { return ++calls == 1; }, RangeFetchOptions{});
        EXPECT_EQ(result.answer, RangeAnswer::Refused) << result.why;
        EXPECT_EQ(calls, 2);
    }
}

TEST_F(RangeFetch, SpansOutsideTheFileAreNeverAskedFor) {
    const RangeFetchResult result = fetchRanges(
        serverUrl() + "/range-fetch/never", {{900, 1000}}, kFileSize,
        [](uint64_t, const uint8_t*, size_t) { return true; }, RangeFetchOptions{});
    EXPECT_EQ(result.answer, RangeAnswer::Failed);
    EXPECT_EQ(result.status, 0);
}

}  // namespace
}  // namespace tessaryn

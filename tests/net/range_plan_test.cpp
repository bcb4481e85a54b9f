// Which ranges an update asks for: the merge at the gap's edge, the request limits, the header.
#include <gtest/gtest.h>

#include "net/range_plan.h"

namespace tessaryn {
namespace {

std::string flat(const std::vector<std::vector<PlannedSpan>>& requests) {
    std::string text;
    for (const auto& spans : requests) text += rangeRequestValue(spans) + ";";
    return text;
}

TEST(RangePlan, PiecesMergeUpToTheGapAndRequestsStayWithinTheirLimits) {
    struct {
        const char* name;
        std::vector<FilePiece> pieces;
        RangeLimits limits;
        const char* requests;
    } rows[] = {
        {"sorted, empty pieces left out", {{500, 10}, {0, 10}, {100, 0}}, {0, 64, 32},
         "bytes=0-9,500-509;"},
        {"a gap of exactly the limit merges", {{0, 10}, {110, 10}}, {100, 64, 32},
         "bytes=0-119;"},
        {"one byte more does not", {{0, 10}, {111, 10}}, {100, 64, 32}, "bytes=0-9,111-120;"},
        {"touching pieces merge without a gap", {{0, 10}, {10, 10}}, {0, 64, 32}, "bytes=0-19;"},
        {"overlaps keep the furthest end", {{0, 100}, {10, 5}}, {0, 64, 32}, "bytes=0-99;"},
        {"split at the ranges per request", {{0, 1}, {10, 1}, {20, 1}}, {0, 2, 32},
         "bytes=0-0,10-10;bytes=20-20;"},
        {"too many requests: the gap grows", {{0, 1}, {10, 1}, {20, 1}, {30, 1}}, {0, 1, 2},
         "bytes=0-30;"},
        {"a gap near the end of the type does not wrap",
         {{0, 1}, {UINT64_MAX - 10, 5}}, {UINT64_MAX - 2, 64, 32},
         "bytes=0-18446744073709551609;"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(flat(planRanges(row.pieces, row.limits)), row.requests) << row.name;
    EXPECT_TRUE(planRanges({}, {}).empty());
    EXPECT_EQ(spanBytes({{0, 9}, {20, 20}}), 11u);
}

}  // namespace
}  // namespace tessaryn

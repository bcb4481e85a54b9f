// The fetched entries of an update: only bytes in order reach the spool, and an entry counts only
// once its bytes match their digest, whatever pieces the answers cut them into.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "app/range_assembly.h"

namespace tessaryn {
namespace {

uint8_t byteAt(uint64_t offset) { return static_cast<uint8_t>(offset * 7 + 3); }

Sha256Digest digestOf(uint64_t offset, uint64_t length) {
    std::vector<uint8_t> bytes;
    for (uint64_t i = 0; i < length; ++i) bytes.push_back(byteAt(offset + i));
    Sha256 hash;
    hash.add(bytes.data(), bytes.size());
    return *hash.finish();
}

struct Piece {
    uint64_t offset;
    size_t size;
    int flip = -1;  // a byte of the piece changed
};

// Entries at [100,150), [150,160) and [400,500); the spool as a map of positions.
struct Fixture {
    std::map<uint64_t, uint8_t> spool;
    RangeAssembly assembly{{{100, 50, digestOf(100, 50), 0},
                            {150, 10, digestOf(150, 10), 50},
                            {400, 100, digestOf(400, 100), 60}},
                           [this](uint64_t at, const uint8_t* data, size_t size) {
                               for (size_t i = 0; i < size; ++i) spool[at + i] = data[i];
                               return true;
                           }};
    bool feed(const Piece& piece) {
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < piece.size; ++i) bytes.push_back(byteAt(piece.offset + i));
        if (piece.flip >= 0) bytes[static_cast<size_t>(piece.flip)] ^= 1;
        return assembly.take(piece.offset, bytes.data(), bytes.size());
    }
};

TEST(RangeAssembly, EntriesCheckOnlyWhenTheirBytesCameInOrderAndMatch) {
    using S = EntryState;
    struct {
        const char* name;
        std::vector<Piece> pieces;
        bool taken;  // of the last piece
        std::vector<S> states;
    } rows[] = {
        {"one range over all, gap bytes dropped", {{90, 420}}, true, {S::Checked, S::Checked, S::Checked}},
        {"split at every kind of edge", {{100, 1}, {101, 49}, {150, 3}, {153, 300}}, true,
         {S::Checked, S::Checked, S::Arriving}},
        {"a flipped byte refuses its entry only", {{100, 60, 55}}, true,
         {S::Checked, S::Refused, S::Waiting}},
        {"a step back is refused", {{100, 20}, {110, 20}}, false,
         {S::Arriving, S::Waiting, S::Waiting}},
        {"a skip is refused", {{100, 20}, {121, 20}}, false, {S::Arriving, S::Waiting, S::Waiting}},
        {"an entry's middle alone is refused", {{420, 10}}, false,
         {S::Waiting, S::Waiting, S::Waiting}},
        {"bytes again of a checked entry are dropped", {{100, 50}, {100, 50}}, true,
         {S::Checked, S::Waiting, S::Waiting}},
        {"bytes past the last entry are dropped", {{500, 10}}, true,
         {S::Waiting, S::Waiting, S::Waiting}},
    };
    for (const auto& row : rows) {
        Fixture f;
        bool taken = true;
        for (const Piece& piece : row.pieces) taken = f.feed(piece);
        EXPECT_EQ(taken, row.taken) << row.name;
        for (size_t i = 0; i < row.states.size(); ++i)
            EXPECT_EQ(f.assembly.state(i), row.states[i]) << row.name << ", entry " << i;
    }
}

TEST(RangeAssembly, SpoolHoldsEachEntryAtItsPlaceAndAnAnswerEndVoidsWhatIsIncomplete) {
    Fixture f;
    ASSERT_TRUE(f.feed({100, 60}));
    ASSERT_TRUE(f.feed({400, 30}));
    EXPECT_EQ(f.spool.size(), 90u);
    EXPECT_EQ(f.spool.at(0), byteAt(100));
    EXPECT_EQ(f.spool.at(59), byteAt(159));
    EXPECT_EQ(f.spool.at(60), byteAt(400));
    f.assembly.endAnswer();
    EXPECT_EQ(f.assembly.state(2), EntryState::Waiting);
    EXPECT_EQ(f.assembly.checkedCount(), 2u);
    // Taken from its first byte again, it checks.
    ASSERT_TRUE(f.feed({400, 100}));
    EXPECT_EQ(f.assembly.checkedCount(), 3u);
}

TEST(RangeAssembly, ARefusedEntryIsWantedOnceMoreAndThenChecks) {
    Fixture f;
    ASSERT_TRUE(f.feed({400, 100, 99}));
    EXPECT_EQ(f.assembly.refusedCount(), 1u);
    f.assembly.endAnswer();
    EXPECT_EQ(f.assembly.state(2), EntryState::Refused);  // an answer's end keeps the verdict
    f.assembly.wantRefusedAgain();
    EXPECT_EQ(f.assembly.state(2), EntryState::Waiting);
    ASSERT_TRUE(f.feed({400, 100}));
    EXPECT_EQ(f.assembly.state(2), EntryState::Checked);
    EXPECT_EQ(f.assembly.refusedCount(), 0u);
}

// The bounds of the fetching, whatever the answers: the requests in all, and the failures (a
// good answer between two failures does not forgive the first).
TEST(RangeTally, RequestsStopAtTheBound) {
    for (const auto& [requests, more] : std::vector<std::pair<size_t, bool>>{
             {0, true}, {kMostRangeRequests - 1, true}, {kMostRangeRequests, false},
             {kMostRangeRequests + 1, false}}) {
        EXPECT_EQ(mayRequestAgain(RangeTally{requests, 0}), more) << requests;
    }
}

TEST(RangeTally, TheSecondFailedAnswerGivesUpTheRanges) {
    struct Row {
        bool read, gained;
        size_t refused;
        int failuresBefore;
        RangeStep step;
        int failuresAfter;
    };
    const Row rows[] = {
        {true, true, 0, 0, RangeStep::Next, 0},
        {true, true, 0, 1, RangeStep::Next, 1},
        {true, false, 0, 0, RangeStep::Again, 1},  // read, but none of the ranges asked
        {false, true, 0, 0, RangeStep::Again, 1},  // cut after some entries
        {true, true, 1, 0, RangeStep::Again, 1},   // an entry failed its digest
        {true, true, 1, 1, RangeStep::WholePackage, 2},
        {false, false, 0, 1, RangeStep::WholePackage, 2},
    };
    for (const Row& row : rows) {
        RangeTally tally{5, row.failuresBefore};
        EXPECT_EQ(afterAnswer(tally, row.read, row.gained, row.refused), row.step)
            << row.read << row.gained << row.refused << row.failuresBefore;
        EXPECT_EQ(tally.failures, row.failuresAfter);
        EXPECT_EQ(tally.requests, 6u);
    }
}

TEST(RangeTally, AFailureMovesToTheNextSourceAndStaysOnTheLast) {
    for (const auto& [source, sources, next] : std::vector<std::tuple<size_t, size_t, size_t>>{
             {0, 0, 0}, {0, 1, 0}, {0, 2, 1}, {1, 2, 1}, {7, 9, 8}, {8, 9, 8}}) {
        EXPECT_EQ(sourceAfterFailure(source, sources), next) << source << " of " << sources;
    }
}

}  // namespace
}  // namespace tessaryn

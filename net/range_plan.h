#pragma once
// Which byte ranges of a file to ask for when only some pieces of it are wanted: pieces close to
// each other go in one range (a request's headers and a part's framing cost more than a short
// gap), and the ranges go in few requests.
#include <cstdint>
#include <string>
#include <vector>

namespace tessaryn {

struct FilePiece {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// Inclusive, as the Range header counts.
struct PlannedSpan {
    uint64_t first = 0;
    uint64_t last = 0;
};

struct RangeLimits {
    uint64_t gap = 64 * 1024;  // pieces closer than this share a range
    size_t perRequest = 64;    // ranges in one request
    size_t requests = 32;      // requests in all
};

// The requests for the pieces (any order, empty ones left out), each a list of ranges in file
// order: pieces closer than the gap merged, and when they would take more requests than the
// limits allow, the gap doubled until they do not.
std::vector<std::vector<PlannedSpan>> planRanges(std::vector<FilePiece> pieces,
                                                 const RangeLimits& limits);

// The bytes the ranges ask for.
uint64_t spanBytes(const std::vector<PlannedSpan>& spans);

// "bytes=0-99,200-299"
std::string rangeRequestValue(const std::vector<PlannedSpan>& spans);

}  // namespace tessaryn

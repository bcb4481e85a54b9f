#include "net/range_plan.h"

#include <algorithm>
#include <cstddef>

namespace tessaryn {
namespace {

std::vector<PlannedSpan> merged(const std::vector<FilePiece>& sorted, uint64_t gap) {
    std::vector<PlannedSpan> spans;
    for (const FilePiece& piece : sorted) {
        const uint64_t last = piece.offset + piece.length - 1;
        // Subtracted, not added: a gap near the type's end must not wrap.
        if (!spans.empty() && (piece.offset <= spans.back().last + 1 ||
                               piece.offset - (spans.back().last + 1) <= gap)) {
            spans.back().last = std::max(spans.back().last, last);
        } else {
            spans.push_back({piece.offset, last});
        }
    }
    return spans;
}

}  // namespace

std::vector<std::vector<PlannedSpan>> planRanges(std::vector<FilePiece> pieces,
                                                 const RangeLimits& limits) {
    pieces.erase(std::remove_if(pieces.begin(), pieces.end(),
                                [](const FilePiece& p) { return p.length == 0; }),
                 pieces.end());
    std::sort(pieces.begin(), pieces.end(),
              [](const FilePiece& a, const FilePiece& b) { return a.offset < b.offset; });
    const size_t perRequest = std::max<size_t>(limits.perRequest, 1);
    const size_t most = perRequest * std::max<size_t>(limits.requests, 1);
    uint64_t gap = limits.gap;
    std::vector<PlannedSpan> spans = merged(pieces, gap);
    // Each doubling at least halves the count once the gap passes the pieces' distances, so
    // this ends (at one span when the gap covers the whole file).
    while (spans.size() > most) {
        gap = gap == 0 ? 1 : (gap > UINT64_MAX / 2 ? UINT64_MAX : gap * 2);
        spans = merged(pieces, gap);
    }
    std::vector<std::vector<PlannedSpan>> requests;
    for (size_t at = 0; at < spans.size(); at += perRequest) {
        const size_t end = std::min(spans.size(), at + perRequest);
        requests.emplace_back(spans.begin() + static_cast<std::ptrdiff_t>(at),
                              spans.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return requests;
}

uint64_t spanBytes(const std::vector<PlannedSpan>& spans) {
    uint64_t total = 0;
    for (const PlannedSpan& span : spans) total += span.last - span.first + 1;
    return total;
}

std::string rangeRequestValue(const std::vector<PlannedSpan>& spans) {
    std::string value = "bytes=";
    for (size_t i = 0; i < spans.size(); ++i) {
        if (i) value += ',';
        value += std::to_string(spans[i].first) + '-' + std::to_string(spans[i].last);
    }
    return value;
}

}  // namespace tessaryn

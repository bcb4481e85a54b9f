#include "app/range_assembly.h"

#include <algorithm>
#include <utility>

namespace tessaryn {

struct RangeAssembly::Progress {
    EntryState state = EntryState::Waiting;
    uint64_t received = 0;
    std::unique_ptr<Sha256> hash;
};

RangeAssembly::RangeAssembly(std::vector<WantedEntry> entries, SpoolWrite write)
    : entries_(std::move(entries)), progress_(entries_.size()), write_(std::move(write)) {}

RangeAssembly::~RangeAssembly() = default;

bool RangeAssembly::takeInto(size_t index, uint64_t offset, const uint8_t* data, size_t size) {
    const WantedEntry& entry = entries_[index];
    Progress& progress = progress_[index];
    if (progress.state == EntryState::Checked || progress.state == EntryState::Refused)
        return true;
    // A part that repeats or skips bytes of an entry cannot be hashed in order.
    if (offset != entry.offset + progress.received) return false;
    if (progress.state == EntryState::Waiting) {
        progress.hash = std::make_unique<Sha256>();
        progress.state = EntryState::Arriving;
    }
    if (!write_(entry.spoolAt + progress.received, data, size)) return false;
    progress.hash->add(data, size);
    progress.received += size;
    if (progress.received < entry.length) return true;
    const std::optional<Sha256Digest> digest = progress.hash->finish();
    progress.hash.reset();
    progress.state =
        digest && *digest == entry.bytesSha256 ? EntryState::Checked : EntryState::Refused;
    return true;
}

bool RangeAssembly::take(uint64_t offset, const uint8_t* data, size_t size) {
    if (size == 0) return true;
    if (offset > UINT64_MAX - size) return false;
    const uint64_t end = offset + size;
    // The first entry that ends past the offset.
    auto at = std::upper_bound(entries_.begin(), entries_.end(), offset,
                               [](uint64_t value, const WantedEntry& e) {
                                   return value < e.offset + e.length;
                               });
    for (; at != entries_.end() && at->offset < end; ++at) {
        const uint64_t from = std::max(offset, at->offset);
        const uint64_t to = std::min(end, at->offset + at->length);
        if (!takeInto(static_cast<size_t>(at - entries_.begin()), from,
                      data + (from - offset), static_cast<size_t>(to - from)))
            return false;
    }
    return true;
}

void RangeAssembly::endAnswer() {
    for (Progress& progress : progress_) {
        if (progress.state != EntryState::Arriving) continue;
        progress = Progress{};
    }
}

void RangeAssembly::wantRefusedAgain() {
    for (Progress& progress : progress_)
        if (progress.state == EntryState::Refused) progress = Progress{};
}

EntryState RangeAssembly::state(size_t index) const { return progress_[index].state; }

size_t RangeAssembly::checkedCount() const {
    return static_cast<size_t>(std::count_if(progress_.begin(), progress_.end(), [](const Progress& p) {
        return p.state == EntryState::Checked;
    }));
}

size_t RangeAssembly::refusedCount() const {
    return static_cast<size_t>(std::count_if(progress_.begin(), progress_.end(), [](const Progress& p) {
        return p.state == EntryState::Refused;
    }));
}

bool mayRequestAgain(const RangeTally& tally) { return tally.requests < kMostRangeRequests; }

RangeStep afterAnswer(RangeTally& tally, bool read, bool gained, size_t refused) {
    ++tally.requests;
    if (read && gained && refused == 0) return RangeStep::Next;
    return ++tally.failures > 1 ? RangeStep::WholePackage : RangeStep::Again;
}

size_t sourceAfterFailure(size_t source, size_t sources) {
    return sources == 0 ? 0 : std::min(source + 1, sources - 1);
}

}  // namespace tessaryn

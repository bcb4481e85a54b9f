#pragma once
// The package entries an update fetches as byte ranges, gathered as the ranges' bytes arrive:
// each entry's bytes are hashed in order and written to the spool, and an entry counts only once
// its bytes match the digest the signed settings give for them.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "package/sha256.h"

namespace tessaryn {

struct WantedEntry {
    uint64_t offset = 0;  // in the package
    uint64_t length = 0;
    Sha256Digest bytesSha256{};
    uint64_t spoolAt = 0;  // where its bytes go in the spool
};

enum class EntryState { Waiting, Arriving, Checked, Refused };

class RangeAssembly {
  public:
    // Writes `size` bytes at `spoolAt` of the spool; false when it cannot.
    using SpoolWrite = std::function<bool(uint64_t spoolAt, const uint8_t*, size_t)>;

    // The entries in package order, none overlapping (the signed index's order).
    RangeAssembly(std::vector<WantedEntry> entries, SpoolWrite write);
    ~RangeAssembly();
    RangeAssembly(const RangeAssembly&) = delete;
    RangeAssembly& operator=(const RangeAssembly&) = delete;

    // Bytes of the package at `offset`, as an answer's part delivers them. Bytes between the
    // entries are dropped, as are more bytes of an entry that is complete. False when they
    // cannot be taken: an entry's bytes out of order (a gap or a step back) or a spool that
    // cannot be written; the answer is then not to be read further.
    bool take(uint64_t offset, const uint8_t* data, size_t size);

    // An answer has ended (or was dropped): what arrived of an entry not complete is void.
    void endAnswer();

    // The entries refused by their digest become wanted again, for one more try elsewhere.
    void wantRefusedAgain();

    EntryState state(size_t index) const;
    size_t count() const { return entries_.size(); }
    const WantedEntry& entry(size_t index) const { return entries_[index]; }
    size_t checkedCount() const;
    size_t refusedCount() const;

  private:
    struct Progress;
    bool takeInto(size_t index, uint64_t offset, const uint8_t* data, size_t size);
    std::vector<WantedEntry> entries_;
    std::vector<Progress> progress_;
    SpoolWrite write_;
};

// How the fetching of an update's entries goes on after an answer, whatever a host does: a
// bounded number of requests in all, and the ranges given up at their second failed answer.
struct RangeTally {
    size_t requests = 0;  // made so far, retries included
    int failures = 0;     // answers that failed so far
};

inline constexpr size_t kMostRangeRequests = 48;

enum class RangeStep {
    Next,          // the answer brought what it held: ask for what is still wanted
    Again,         // it failed for the first time: ask once more, of the next source
    WholePackage,  // it failed twice: fetch the whole package instead
};

// Whether one more request may be made.
bool mayRequestAgain(const RangeTally& tally);

// Counts an answer that was `read` to its end (every part it held handed on), whether it
// `gained` (an entry checked or refused that was not before) and how many entries stand refused.
RangeStep afterAnswer(RangeTally& tally, bool read, bool gained, size_t refused);

// The source to ask after a failure: the next one, the last staying the last.
size_t sourceAfterFailure(size_t source, size_t sources);

}  // namespace tessaryn

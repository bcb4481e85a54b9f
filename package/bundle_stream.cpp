#include "package/bundle_stream.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "package/cbor_frame.h"

namespace tessaryn {

namespace {

// The cursor's error for bytes that end too soon.
constexpr int kEndOfInput = 110;
constexpr size_t kLzmaHeaderBytes = 13;

}  // namespace

BundleStream::BundleStream(const uint8_t* data, size_t size, WaitFor waitFor)
    : data_(data), size_(size), waitFor_(std::move(waitFor)) {}

void BundleStream::awaitBytes(size_t wanted) {
    available_ = std::min(waitFor_(wanted), size_);
    if (available_ < wanted) throw BundleReadWhole("the package's bytes stopped coming");
}

template <typename Parse>
auto BundleStream::withBytes(Parse parse) {
    // An entry handed out by its head leaves the position past what had arrived.
    if (position_ > available_) awaitBytes(position_);
    for (;;) {
        CborCursor cursor(data_, available_, position_);
        try {
            if constexpr (std::is_void_v<decltype(parse(cursor))>) {
                parse(cursor);
                position_ = cursor.position();
                return;
            } else {
                auto result = parse(cursor);
                position_ = cursor.position();
                return result;
            }
        } catch (const nlohmann::json::parse_error& error) {
            // Only the end of what has arrived is worth a wait; anything else is for the whole
            // document to judge.
            if (error.id != kEndOfInput || available_ == size_) judgeWhole();
        }
        awaitBytes(available_ + 1);
    }
}

void BundleStream::judgeWhole() {
    (void)confirm(false);
    throw BundleReadWhole("the document is read otherwise when whole");
}

std::string BundleStream::confirm(bool complete) {
    if (available_ < size_) available_ = std::min(waitFor_(size_), size_);
    if (available_ < size_) throw BundleReadWhole("the package's bytes stopped coming");
    const BundleDocument whole(data_, size_);
    bool same = complete ? whole.entryCount() == places_.size()
                         : whole.entryCount() >= places_.size();
    for (size_t index = 0; same && index < places_.size(); ++index)
        same = whole.entryOffset(index) == places_[index];
    if (!same) throw BundleReadWhole("the document lists other entries than those read");
    return whole.version();
}

void BundleStream::openList() {
    const CborHead root = withBytes([](CborCursor& cursor) { return cursor.head(); });
    if (root.major != 5) judgeWhole();
    for (uint64_t i = 0;; ++i) {
        const bool ended = withBytes([&](CborCursor& cursor) {
            return root.indefinite ? cursor.nextIsBreak() : i >= root.value;
        });
        if (ended) judgeWhole();  // no "files": the whole document says what is wrong
        // A key with its value, or with the head of the list: one step, so that a wait retries
        // both.
        const std::optional<CborHead> list = withBytes([](CborCursor& cursor) {
            const std::string key = cursor.text(cursor.head());
            const CborHead value = cursor.head();
            if (key == "files") return std::optional<CborHead>(value);
            cursor.skip(value);
            return std::optional<CborHead>();
        });
        if (!list) continue;
        // Only an array is read in its own order.
        if (list->major != 4) judgeWhole();
        listIndefinite_ = list->indefinite;
        listCount_ = list->value;
        listed_ = list->indefinite
                      ? 0
                      : static_cast<size_t>(std::min<uint64_t>(list->value, SIZE_MAX));
        phase_ = Phase::List;
        return;
    }
}

std::optional<BundleEntry> BundleStream::next() {
    if (phase_ == Phase::Head) openList();
    if (phase_ == Phase::Ended) return std::nullopt;
    const bool ended = withBytes([&](CborCursor& cursor) {
        return listIndefinite_ ? cursor.nextIsBreak() : places_.size() >= listCount_;
    });
    if (ended) {
        phase_ = Phase::Ended;
        return std::nullopt;
    }
    const size_t at = position_;
    if (const auto data = streamableData()) {
        // Its end is where the entry ends: readBundleEntry reads its head only.
        position_ = data->first + data->second;
        places_.push_back(at);
        BundleEntry entry = readBundleEntry(data_, position_, at);
        if (position_ > available_) entry.arriving = waitFor_;
        return entry;
    }
    position_ = at;
    // Framed whole first, at the depth the whole document's walk gives it.
    withBytes([](CborCursor& cursor) { cursor.skip(cursor.head(), 1); });
    places_.push_back(at);
    return readBundleEntry(data_, position_, at);
}

std::optional<std::pair<size_t, size_t>> BundleStream::streamableData() {
    // A large file's data need not have arrived for its entry to be handed out: once its name,
    // kind and the place of its data are known, a worker decodes the data as it arrives. That
    // holds when the data is the entry's last key (nothing after it could change the entry), in
    // one definite byte string (it lies in one place) as our packer writes it. The entry's other
    // values are framed as the whole walk would frame them; the LZMA header (13 bytes) must have
    // arrived too, as the budgets are read from it before the decoding starts.
    using Span = std::optional<std::pair<size_t, size_t>>;
    return withBytes([&](CborCursor& cursor) -> Span {
        const CborHead map = cursor.head();
        if (map.major != 5 || map.indefinite) return std::nullopt;
        for (uint64_t i = 0; i < map.value; ++i) {
            const std::string key = cursor.text(cursor.head());
            const CborHead value = cursor.head();
            if (i + 1 < map.value) {
                cursor.skip(value, 2);
                continue;
            }
            const size_t start = cursor.position();
            if (key != "d" || value.major != 2 || value.indefinite || value.value > size_ - start)
                return std::nullopt;
            const size_t length = static_cast<size_t>(value.value);
            if (available_ - start < std::min<size_t>(length, kLzmaHeaderBytes))
                cursor.fail(kEndOfInput, "unexpected end of input");
            return std::make_pair(start, length);
        }
        return std::nullopt;
    });
}

}  // namespace tessaryn

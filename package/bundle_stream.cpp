#include "package/bundle_stream.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "package/cbor_frame.h"
#include "package/lzma_entry.h"

namespace tessaryn {

namespace {

// The cursor's error for bytes that end too soon.
constexpr int kEndOfInput = 110;

}  // namespace

BundleStream::BundleStream(const uint8_t* data, size_t size, WaitFor waitFor)
    : data_(data), size_(size), waitFor_(std::move(waitFor)) {}

bool BundleStream::awaitBytes(size_t wanted) {
    available_ = std::min(waitFor_(wanted), size_);
    if (available_ >= wanted) return true;
    readWholeFor("the package's bytes stopped coming");
    return false;
}

template <typename Parse>
auto BundleStream::withBytes(Parse parse)
    -> std::optional<decltype(parse(std::declval<CborCursor&>()))> {
    if (readWhole_) return std::nullopt;
    // An entry handed out by its head leaves the position past what had arrived.
    if (position_ > available_ && !awaitBytes(position_)) return std::nullopt;
    for (;;) {
        CborCursor cursor(data_, available_, position_);
        try {
            auto result = parse(cursor);
            position_ = cursor.position();
            return result;
        } catch (const nlohmann::json::parse_error& error) {
            // Only the end of what has arrived is worth a wait; anything else is for the whole
            // document to judge.
            if (error.id != kEndOfInput || available_ == size_) {
                judgeWhole();
                return std::nullopt;
            }
        }
        if (!awaitBytes(available_ + 1)) return std::nullopt;
    }
}

void BundleStream::judgeWhole() {
    const UnpackResult whole = confirm(false);
    readWholeFor(whole.isDone() ? "the document is read otherwise when whole" : whole.text());
}

UnpackResult BundleStream::confirm(bool complete) {
    if (available_ < size_) available_ = std::min(waitFor_(size_), size_);
    if (available_ < size_) return UnpackResult::readWhole("the package's bytes stopped coming");
    const BundleDocument whole(data_, size_);
    bool same = complete ? whole.entryCount() == places_.size()
                         : whole.entryCount() >= places_.size();
    for (size_t index = 0; same && index < places_.size(); ++index)
        same = whole.entryOffset(index) == places_[index];
    if (!same) return UnpackResult::readWhole("the document lists other entries than those read");
    version_ = whole.version();
    return UnpackResult::done();
}

bool BundleStream::openList() {
    const auto root = withBytes([](CborCursor& cursor) { return cursor.head(); });
    if (!root) return false;
    if (root->major != 5) {
        judgeWhole();
        return false;
    }
    for (uint64_t i = 0;; ++i) {
        const auto ended = withBytes([&](CborCursor& cursor) {
            return root->indefinite ? cursor.nextIsBreak() : i >= root->value;
        });
        if (!ended) return false;
        if (*ended) {
            judgeWhole();  // no "files": the whole document says what is wrong
            return false;
        }
        // A key with its value, or with the head of the list: one step, so that a wait retries
        // both.
        const auto list = withBytes([](CborCursor& cursor) {
            const std::string key = cursor.text(cursor.head());
            const CborHead value = cursor.head();
            if (key == "files") return std::optional<CborHead>(value);
            cursor.skip(value);
            return std::optional<CborHead>();
        });
        if (!list) return false;
        if (!*list) continue;
        // Only an array is read in its own order.
        if ((*list)->major != 4) {
            judgeWhole();
            return false;
        }
        listIndefinite_ = (*list)->indefinite;
        listCount_ = (*list)->value;
        listed_ = listIndefinite_ ? 0
                                  : static_cast<size_t>(std::min<uint64_t>(listCount_, SIZE_MAX));
        phase_ = Phase::List;
        return true;
    }
}

std::optional<BundleEntry> BundleStream::next() {
    if (phase_ == Phase::Head && !openList()) return std::nullopt;
    if (phase_ == Phase::Ended || readWhole_) return std::nullopt;
    const auto ended = withBytes([&](CborCursor& cursor) {
        return listIndefinite_ ? cursor.nextIsBreak() : places_.size() >= listCount_;
    });
    if (!ended) return std::nullopt;
    if (*ended) {
        phase_ = Phase::Ended;
        return std::nullopt;
    }
    const size_t at = position_;
    const std::optional<Span> data = streamableData();
    if (!data) return std::nullopt;
    if (*data) {
        // Its end is where the entry ends: readBundleEntry reads its head only.
        position_ = (*data)->first + (*data)->second;
        places_.push_back(at);
        BundleEntry entry = readBundleEntry(data_, position_, at);
        if (position_ > available_) entry.arriving = waitFor_;
        return entry;
    }
    position_ = at;
    // Framed whole first, at the depth the whole document's walk gives it.
    const auto framed = withBytes([](CborCursor& cursor) {
        cursor.skip(cursor.head(), 1);
        return true;
    });
    if (!framed) return std::nullopt;
    places_.push_back(at);
    return readBundleEntry(data_, position_, at);
}

std::optional<BundleStream::Span> BundleStream::streamableData() {
    // A large file's data need not have arrived for its entry to be handed out: once its name,
    // kind and the place of its data are known, a worker decodes the data as it arrives. That
    // holds when the data is the entry's last key (nothing after it could change the entry), in
    // one definite byte string (it lies in one place) as our packer writes it. The entry's other
    // values are framed as the whole walk would frame them; the LZMA header (13 bytes) must have
    // arrived too, as the budgets are read from it before the decoding starts.
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
            if (available_ - start < std::min<size_t>(length, kItemHeaderBytes))
                cursor.fail(kEndOfInput, "unexpected end of input");
            return std::make_pair(start, length);
        }
        return std::nullopt;
    });
}

}  // namespace tessaryn

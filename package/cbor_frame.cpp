#include "package/cbor_frame.h"

#include <nlohmann/json.hpp>

namespace tessaryn {

namespace {

// Deeper documents are refused instead of exhausting the stack.
constexpr int kDeepestNesting = 256;

}  // namespace

void CborCursor::fail(int id, const std::string& what) const {
    throw nlohmann::json::parse_error::create(
        id, position_, "syntax error while parsing CBOR value: " + what, nullptr);
}

uint8_t CborCursor::next() {
    if (position_ >= size_) fail(110, "unexpected end of input");
    return data_[position_++];
}

size_t CborCursor::take(uint64_t length) {
    if (length > size_ - position_) {
        position_ = size_;
        fail(110, "unexpected end of input");
    }
    const size_t start = position_;
    position_ += static_cast<size_t>(length);
    return start;
}

CborHead CborCursor::head() {
    CborHead head;
    head.initial = next();
    head.major = head.initial >> 5;
    const uint8_t info = head.initial & 0x1F;
    if (head.major == 7) return head;
    if (info < 24) {
        head.value = info;
    } else if (info <= 27) {
        const int bytes = 1 << (info - 24);
        for (int i = 0; i < bytes; ++i) head.value = (head.value << 8) | next();
    } else if (info == 31 && head.major >= 2 && head.major <= 5) {
        head.indefinite = true;
    } else {
        fail(112, "invalid byte: 0x" + std::to_string(head.initial));
    }
    return head;
}

bool CborCursor::nextIsBreak() {
    if (position_ >= size_) fail(110, "unexpected end of input");
    if (data_[position_] != 0xFF) return false;
    ++position_;
    return true;
}

std::string CborCursor::text(const CborHead& head) {
    if (head.major != 3)
        fail(113,
             "expected a text string head (0x60-0x7B) "
             "or indefinite string type (0x7F)");
    if (!head.indefinite) {
        const size_t start = take(head.value);
        return std::string(reinterpret_cast<const char*>(data_ + start),
                           static_cast<size_t>(head.value));
    }
    std::string joined;
    while (!nextIsBreak()) joined += text(this->head());
    return joined;
}

void CborCursor::bytes(const CborHead& head, std::vector<std::pair<size_t, size_t>>& pieces) {
    if (head.major != 2)
        fail(113,
             "expected a byte string head (0x40-0x5B) "
             "or indefinite binary array type (0x5F)");
    if (!head.indefinite) {
        const size_t start = take(head.value);
        pieces.emplace_back(start, static_cast<size_t>(head.value));
        return;
    }
    while (!nextIsBreak()) bytes(this->head(), pieces);
}

void CborCursor::skip(const CborHead& head, int depth) {
    if (depth > kDeepestNesting) fail(112, "nesting too deep");
    switch (head.major) {
        case 0:
        case 1:
            return;
        case 2: {
            std::vector<std::pair<size_t, size_t>> ignored;
            bytes(head, ignored);
            return;
        }
        case 3:
            if (!head.indefinite) {
                take(head.value);
            } else {
                while (!nextIsBreak()) text(this->head());
            }
            return;
        case 4:
            if (head.indefinite) {
                while (!nextIsBreak()) skip(this->head(), depth + 1);
            } else {
                for (uint64_t i = 0; i < head.value; ++i) skip(this->head(), depth + 1);
            }
            return;
        case 5:
            for (uint64_t i = 0; head.indefinite ? !nextIsBreak() : i < head.value; ++i) {
                text(this->head());
                skip(this->head(), depth + 1);
            }
            return;
        case 6:
            fail(112, "invalid byte: 0x" + std::to_string(head.initial));
        default:
            break;
    }
    switch (head.initial) {
        case 0xF4:
        case 0xF5:
        case 0xF6:
            return;
        case 0xF9:
            take(2);
            return;
        case 0xFA:
            take(4);
            return;
        case 0xFB:
            take(8);
            return;
        default:
            fail(112, "invalid byte: 0x" + std::to_string(head.initial));
    }
}

}  // namespace tessaryn

// Decoding of LZMA-Alone entries: data from xz, our encoder's output, and broken headers.
#include <gtest/gtest.h>

#include <algorithm>

#include "package/lzma_entry.h"
#include "tests/package/package_test_support.h"
#include "tools/lzma_encode.h"
#include "xz_sample.h"

namespace tessaryn {
namespace {

std::vector<uint8_t> withSize(std::vector<uint8_t> data, uint64_t size) {
    for (int i = 0; i < 8; ++i) data[5 + i] = static_cast<uint8_t>(size >> (8 * i));
    return data;
}

std::vector<uint8_t> encode(const std::vector<uint8_t>& plain) {
    return lzmaAloneEncode(plain.data(), plain.size(), 5);
}

TEST(DecompressEntry, DecodesXzOutputWithUnknownAndKnownSize) {
    // xz writes an unknown size and an end marker.
    ASSERT_EQ(withSize(kXzSampleLzma, UINT64_MAX), kXzSampleLzma);
    std::vector<uint8_t> out = {'x'};  // decoded bytes are appended
    ASSERT_EQ(decompressEntry(kXzSampleLzma, out), DecodeStatus::Ok);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 1, out.end()), kXzSamplePlain);

    out.clear();
    EXPECT_EQ(decompressEntry(withSize(kXzSampleLzma, kXzSamplePlain.size()), out), DecodeStatus::Ok);
    EXPECT_EQ(out, kXzSamplePlain);
    // A declared size far above what the input can hold still ends at the end marker.
    out.clear();
    EXPECT_EQ(decompressEntry(withSize(kXzSampleLzma, uint64_t{1} << 62), out), DecodeStatus::Ok);
    EXPECT_EQ(out, kXzSamplePlain);
}

TEST(DecompressEntry, HighestRatiosAndHugeDictionariesDecodeInFull) {
    constexpr size_t kZeros = 64 * 1024 * 1024;
    for (const uint64_t size : {uint64_t{kZeros}, UINT64_MAX}) {
        std::vector<uint8_t> out;
        ASSERT_EQ(decompressEntry(withSize(kXzZerosLzma, size), out), DecodeStatus::Ok);
        ASSERT_EQ(out.size(), kZeros);
        EXPECT_EQ(std::count(out.begin(), out.end(), 0), static_cast<std::ptrdiff_t>(kZeros));
    }
    // A stated 4 GiB dictionary for a small stream.
    auto wide = kXzSampleLzma;
    std::fill(wide.begin() + 1, wide.begin() + 5, 0xFF);
    std::vector<uint8_t> out;
    EXPECT_EQ(decompressEntry(wide, out), DecodeStatus::Ok);
    EXPECT_EQ(out, kXzSamplePlain);
}

TEST(DecompressEntry, RoundTripsOurEncoderAtKnownSizes) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{300000}}) {
        SCOPED_TRACE(size);
        const auto plain = test::patternBytes(size, static_cast<uint32_t>(size));
        const auto packed = encode(plain);
        std::vector<uint8_t> out;
        ASSERT_EQ(decompressEntry(packed, out), DecodeStatus::Ok);
        EXPECT_EQ(out, plain);
    }
    EXPECT_EQ(encode({}).size(), 13u + 5u);  // header plus the range coder's start bytes
}

TEST(DecompressEntry, ReportsTheStatusOfEachKindOfDamage) {
    std::vector<uint8_t> out;
    const auto packed = encode(std::vector<uint8_t>(kXzSamplePlain.begin(), kXzSamplePlain.end()));

    EXPECT_EQ(decompressEntry(std::vector<uint8_t>(packed.begin(), packed.begin() + 12), out), DecodeStatus::HeaderTooShort);
    EXPECT_EQ(decompressEntry({}, out), DecodeStatus::HeaderTooShort);
    // Known size, input ends inside the range coder's start bytes or inside the stream.
    EXPECT_EQ(decompressEntry(std::vector<uint8_t>(packed.begin(), packed.begin() + 17), out), DecodeStatus::InputEnded);
    EXPECT_EQ(decompressEntry(std::vector<uint8_t>(packed.begin(), packed.end() - 20), out), DecodeStatus::InputEnded);
    EXPECT_EQ(decompressEntry(withSize(encode({1, 2, 3}), uint64_t{1} << 62), out), DecodeStatus::InputEnded);
    // Unknown size without the end marker.
    EXPECT_EQ(decompressEntry(withSize(packed, UINT64_MAX), out), DecodeStatus::Data);
    // Unknown size cut before the end marker.
    EXPECT_EQ(
        decompressEntry(std::vector<uint8_t>(kXzSampleLzma.begin(), kXzSampleLzma.end() - 8), out),
        DecodeStatus::Data);
    // Properties byte 225 and above are not LZMA properties.
    for (const uint64_t size : {uint64_t{kXzSamplePlain.size()}, UINT64_MAX}) {
        auto bad = withSize(kXzSampleLzma, size);
        bad[0] = 225;
        EXPECT_EQ(decompressEntry(bad, out), DecodeStatus::Properties);
    }
}

// An item whose bytes arrive a few at a time decodes to the same status (and, when good, the
// same bytes) as when whole, whatever the pace; bytes that stop coming are told apart from damage.
TEST(DecompressEntry, ArrivingBytesDecodeAsWhole) {
    const auto packed = encode(std::vector<uint8_t>(kXzSamplePlain.begin(), kXzSamplePlain.end()));
    auto flipped = packed;
    flipped[packed.size() / 2] ^= 0x55;
    const std::vector<std::vector<uint8_t>> items = {
        packed, kXzSampleLzma, flipped, withSize(packed, UINT64_MAX),
        std::vector<uint8_t>(packed.begin(), packed.end() - 20),
        std::vector<uint8_t>(packed.begin(), packed.begin() + 16)};
    const auto decode = [](const std::vector<uint8_t>& item, size_t step, size_t stopAt,
                           std::vector<uint8_t>& out) {
        EntryDecoder decoder;
        size_t shown = 0;
        return decoder.decode(
            item.data(), item.size(),
            [&](const uint8_t* bytes, size_t size) {
                out.insert(out.end(), bytes, bytes + size);
                return true;
            },
            [&](size_t wanted) {
                EXPECT_GT(wanted, shown);  // only ever for more
                shown = std::min({std::max(wanted, shown + step), item.size(), stopAt});
                return shown;
            });
    };
    for (size_t i = 0; i < items.size(); ++i) {
        std::vector<uint8_t> whole;
        const DecodeStatus status = decompressEntry(items[i], whole);
        for (size_t step : {size_t{1}, size_t{7}, size_t{4096}}) {
            std::vector<uint8_t> out;
            EXPECT_EQ(decode(items[i], step, SIZE_MAX, out), status) << i << ", " << step;
            // A damaged item may yield some output first, in smaller pieces: its file goes.
            if (status == DecodeStatus::Ok) {
                EXPECT_EQ(out, whole) << i << ", " << step;
            }
        }
    }
    for (size_t stopAt : {size_t{0}, size_t{12}, size_t{20}, packed.size() - 1}) {
        std::vector<uint8_t> out;
        EXPECT_EQ(decode(packed, 3, stopAt, out), DecodeStatus::InputStopped) << stopAt;
    }
}

// Bytes said to have arrived past the item's end belong to what follows it: an item cut short
// stays cut short however much of the bundle has arrived, at the first wait or a later one.
TEST(DecompressEntry, ArrivingBytesAreClampedToTheirItem) {
    const auto packed = encode(std::vector<uint8_t>(kXzSamplePlain.begin(), kXzSamplePlain.end()));
    const size_t item = packed.size() - 20;  // the rest of the stream follows it in the bundle
    struct Row {
        const char* what;
        size_t first;  // told at the first wait; all of the bundle at every later one
    };
    for (const Row& row : {Row{"at once", packed.size()}, Row{"later", kItemHeaderBytes},
                           Row{"a part first", item / 2}}) {
        SCOPED_TRACE(row.what);
        EntryDecoder decoder;
        int waits = 0;
        const DecodeStatus status = decoder.decode(
            packed.data(), item, [](const uint8_t*, size_t) { return true; },
            [&](size_t) { return ++waits == 1 ? row.first : packed.size(); });
        EXPECT_EQ(status, DecodeStatus::InputEnded);
    }
}

}  // namespace
}  // namespace tessaryn

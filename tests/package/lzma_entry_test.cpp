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
    ASSERT_EQ(decompressEntry(kXzSampleLzma, out), 0);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 1, out.end()), kXzSamplePlain);

    out.clear();
    EXPECT_EQ(decompressEntry(withSize(kXzSampleLzma, kXzSamplePlain.size()), out), 0);
    EXPECT_EQ(out, kXzSamplePlain);
    // A declared size far above what the input can hold still ends at the end marker.
    out.clear();
    EXPECT_EQ(decompressEntry(withSize(kXzSampleLzma, uint64_t{1} << 62), out), 0);
    EXPECT_EQ(out, kXzSamplePlain);
}

TEST(DecompressEntry, HighestRatiosAndHugeDictionariesDecodeInFull) {
    constexpr size_t kZeros = 64 * 1024 * 1024;
    for (const uint64_t size : {uint64_t{kZeros}, UINT64_MAX}) {
        std::vector<uint8_t> out;
        ASSERT_EQ(decompressEntry(withSize(kXzZerosLzma, size), out), 0);
        ASSERT_EQ(out.size(), kZeros);
        EXPECT_EQ(std::count(out.begin(), out.end(), 0), static_cast<std::ptrdiff_t>(kZeros));
    }
    // A stated 4 GiB dictionary for a small stream.
    auto wide = kXzSampleLzma;
    std::fill(wide.begin() + 1, wide.begin() + 5, 0xFF);
    std::vector<uint8_t> out;
    EXPECT_EQ(decompressEntry(wide, out), 0);
    EXPECT_EQ(out, kXzSamplePlain);
}

TEST(DecompressEntry, RoundTripsOurEncoderAtKnownSizes) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{300000}}) {
        SCOPED_TRACE(size);
        const auto plain = test::patternBytes(size, static_cast<uint32_t>(size));
        const auto packed = encode(plain);
        std::vector<uint8_t> out;
        ASSERT_EQ(decompressEntry(packed, out), 0);
        EXPECT_EQ(out, plain);
    }
    EXPECT_EQ(encode({}).size(), 13u + 5u);  // header plus the range coder's start bytes
}

TEST(DecompressEntry, ReportsTheStatusOfEachKindOfDamage) {
    std::vector<uint8_t> out;
    const auto packed = encode(std::vector<uint8_t>(kXzSamplePlain.begin(), kXzSamplePlain.end()));

    EXPECT_EQ(decompressEntry(std::vector<uint8_t>(packed.begin(), packed.begin() + 12), out), 100);
    EXPECT_EQ(decompressEntry({}, out), 100);
    // Known size, input ends inside the range coder's start bytes or inside the stream.
    EXPECT_EQ(decompressEntry(std::vector<uint8_t>(packed.begin(), packed.begin() + 17), out), 6);
    EXPECT_EQ(decompressEntry(std::vector<uint8_t>(packed.begin(), packed.end() - 20), out), 6);
    EXPECT_EQ(decompressEntry(withSize(encode({1, 2, 3}), uint64_t{1} << 62), out), 6);
    // Unknown size without the end marker.
    EXPECT_EQ(decompressEntry(withSize(packed, UINT64_MAX), out), 1);
    // Unknown size cut before the end marker.
    EXPECT_EQ(
        decompressEntry(std::vector<uint8_t>(kXzSampleLzma.begin(), kXzSampleLzma.end() - 8), out),
        1);
    // Properties byte 225 and above are not LZMA properties.
    for (const uint64_t size : {uint64_t{kXzSamplePlain.size()}, UINT64_MAX}) {
        auto bad = withSize(kXzSampleLzma, size);
        bad[0] = 225;
        EXPECT_EQ(decompressEntry(bad, out), 4);
    }
}

}  // namespace
}  // namespace tessaryn

// The reader of several ranges in one answer, fed arbitrary bytes in chunks of a size the input
// chooses; whatever it hands on must lie in the ranges asked, once each. The headers' readers
// get the same bytes as text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "net/byte_ranges.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tessaryn;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    multipartBoundary(text);
    parseContentRange(text);
    if (size == 0) return 0;
    constexpr uint64_t kFileSize = 1000;
    const std::vector<ByteSpan> asked = {{0, 99}, {200, 299}, {999, 999}};
    std::vector<uint8_t> seen(kFileSize, 0);
    MultipartRanges reader("B", asked, kFileSize, [&](uint64_t offset, const uint8_t*, size_t n) {
        for (uint64_t at = offset; at < offset + n; ++at) {
            const bool inAsked = at < 100 || (at >= 200 && at < 300) || at == 999;
            if (!inAsked || seen[at]++ != 0) abort();
        }
        return true;
    });
    const size_t chunk = data[0] % 17 + 1;
    for (size_t at = 1; at < size; at += chunk) {
        if (!reader.feed(data + at, std::min(chunk, size - at))) break;
    }
    reader.finish();
    return 0;
}

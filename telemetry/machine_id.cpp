#include "telemetry/machine_id.h"

namespace tessaryn {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

std::string upperHex(const uint8_t* bytes, size_t size) {
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += kHexDigits[bytes[i] >> 4];
        text += kHexDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::string digestFailureCode(int step) {
    uint8_t code = static_cast<uint8_t>(step);
    return "0x" + upperHex(&code, 1);
}

std::string machineIdFromDigest(const std::string& digest) {
    return "anon-" + digest;
}

}  // namespace tessaryn

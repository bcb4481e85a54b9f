#include "telemetry/machine_id.h"

#include "system/ascii_text.h"

namespace tessaryn {

std::string digestFailureCode(int step) {
    uint8_t code = static_cast<uint8_t>(step);
    return "0x" + upperHex(&code, 1);
}

std::string machineIdFromDigest(const std::string& digest) {
    return "anon-" + digest;
}

}  // namespace tessaryn

#pragma once
// The development answers key (scripts/dev-key), whose secret half the test web host signs with.
#include <optional>
#include <string>

#include "telemetry/answer_signature.h"

namespace tessaryn::testing {

inline std::optional<AnswersPublicKey> answersKey() {
    const std::string hex = TESSARYN_TEST_ANSWERS_PUBLIC_KEY_HEX;
    if (hex.size() != 64) return std::nullopt;
    AnswersPublicKey key{};
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return key;
}

}  // namespace tessaryn::testing

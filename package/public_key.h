#pragma once
// The publisher's signing public key, compiled in from the key file given at configure time.
#include <optional>

#include "package/signature_check.h"

namespace tessaryn {

const PublicKey& publisherPublicKey();

// The key that signs the web host's answers to events (TESSARYN_ANSWERS_PUBLIC_KEY_FILE); empty
// in a build without one, which then acts on no answer.
const std::optional<PublicKey>& answersPublicKey();

}  // namespace tessaryn

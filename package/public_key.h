#pragma once
// The publisher's signing public key, compiled in from the key file given at configure time.
#include "package/signature_check.h"

namespace tessaryn {

const PublicKey& publisherPublicKey();

}  // namespace tessaryn

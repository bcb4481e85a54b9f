#pragma once
// The publisher's signing public key, compiled in from the key file given at configure time.
#include "package/signed_file.h"

namespace tessaryn {

const PublicKey& publisherPublicKey();

}  // namespace tessaryn

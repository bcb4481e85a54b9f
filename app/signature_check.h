#pragma once
// Takes the trailing signature off a fetched file and checks the rest under a context.
#include <filesystem>

#include "package/signed_file.h"

namespace tessaryn {

// True when the file carried a valid signature; `signature` then holds it and the file holds
// only its payload. A file that vanished or became locked between the two steps counts as
// invalid, like any other failed check.
bool takeAndVerifySignature(const std::filesystem::path& path, const std::string& context,
                            const PublicKey& publicKey, Signature& signature);

}  // namespace tessaryn

#pragma once
// Takes the trailing signature off a fetched file and checks the rest under a context.
#include <filesystem>

#include "package/signed_file.h"

namespace tessaryn {

// True when the file carried a valid signature; `signature` then holds it and the file holds
// only its payload.
[[nodiscard]]
bool takeAndVerifySignature(const std::filesystem::path& path, const std::string& context,
                            const PublicKey& publicKey, Signature& signature);

// The check of a stripped file, where a file that vanished or became locked since it was
// stripped (or a bad context) counts as invalid, like any other failed check.
[[nodiscard]]
bool verifyStrippedFile(const Signature& signature, const std::filesystem::path& path,
                        const std::string& context, const PublicKey& publicKey) noexcept;

}  // namespace tessaryn

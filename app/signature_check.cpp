#include "app/signature_check.h"

#include <algorithm>

namespace tessaryn {

bool takeAndVerifySignature(const std::filesystem::path& path, const std::string& context,
                            const PublicKey& publicKey, Signature& signature) {
    std::vector<uint8_t> taken = takeTrailingSignature(path);
    if (taken.size() != signature.size()) return false;
    std::copy(taken.begin(), taken.end(), signature.begin());
    try {
        return verifySignedFile(signature, path, context, publicKey);
    } catch (const HydrogenError&) {
        return false;
    }
}

}  // namespace tessaryn

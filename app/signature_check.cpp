#include "app/signature_check.h"

#include <algorithm>

namespace tessaryn {

bool verifyStrippedFile(const Signature& signature, const std::filesystem::path& path,
                        const std::string& context, const PublicKey& publicKey) noexcept {
    try {
        return verifySignedFile(signature, path, context, publicKey);
    } catch (const std::exception&) {
        return false;
    }
}

bool takeAndVerifySignature(const std::filesystem::path& path, const std::string& context,
                            const PublicKey& publicKey, Signature& signature) {
    std::vector<uint8_t> taken = takeTrailingSignature(path);
    if (taken.size() != signature.size()) return false;
    std::copy(taken.begin(), taken.end(), signature.begin());
    return verifyStrippedFile(signature, path, context, publicKey);
}

}  // namespace tessaryn

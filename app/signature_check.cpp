#include "app/signature_check.h"

#include <algorithm>

#include "system/run_log.h"

namespace tessaryn {

bool verifyStrippedFile(const Signature& signature, const std::filesystem::path& path,
                        const std::string& context, const PublicKey& publicKey) noexcept {
    try {
        return verifySignedFile(signature, path, context, publicKey);
    } catch (const std::exception&) {
        return false;
    }
}

namespace {

bool logged(bool valid, const std::filesystem::path& path, const std::string& context,
            const char* why) {
    const std::u8string name = path.u8string();
    logLine("Signature check " + context + " of " + std::string(name.begin(), name.end()) + ": " +
            (valid ? "valid" : why));
    return valid;
}

}  // namespace

bool takeAndVerifySignature(const std::filesystem::path& path, const std::string& context,
                            const PublicKey& publicKey, Signature& signature) {
    std::vector<uint8_t> taken = takeTrailingSignature(path);
    if (taken.size() != signature.size())
        return logged(false, path, context, "INVALID (no signature: file too short or unreadable)");
    std::copy(taken.begin(), taken.end(), signature.begin());
    return logged(verifyStrippedFile(signature, path, context, publicKey), path, context,
                  "INVALID");
}

}  // namespace tessaryn

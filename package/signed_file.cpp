// Portable half of signed files checked from streams and by path (publisher tool, tests).
#include "package/signed_file.h"

#include <hydrogen.h>

#include <fstream>

#include "package/path_text.h"

namespace tessaryn {

bool verifySignedStream(const Signature& signature, std::istream& payload,
                        std::optional<uint64_t> payloadBytes, const std::string& context,
                        const PublicKey& publicKey) {
    if (context.size() != hydro_sign_CONTEXTBYTES) {
        throw HydrogenError("Context must be exactly " + std::to_string(hydro_sign_CONTEXTBYTES) +
                            " bytes");
    }
    hydro_sign_state state;
    hydro_sign_init(&state, context.data());
    // One fixed buffer: memory use does not depend on the payload's size.
    std::array<char, 8192> buffer;
    uint64_t left = payloadBytes.value_or(UINT64_MAX);
    while (left > 0 && !payload.eof() && !payload.fail()) {
        const auto want = static_cast<std::streamsize>(std::min<uint64_t>(buffer.size(), left));
        payload.read(buffer.data(), want);
        const std::streamsize got = payload.gcount();
        if (got > 0) {
            hydro_sign_update(&state, buffer.data(), static_cast<size_t>(got));
            left -= static_cast<uint64_t>(got);
        }
    }
    // A stream that ends before the stated payload length cannot match its signature.
    if (payloadBytes && left != 0) return false;
    return hydro_sign_final_verify(&state, signature.data(), publicKey.data()) == 0;
}

bool verifySignedFile(const Signature& signature, const std::filesystem::path& path,
                      const std::string& context, const PublicKey& publicKey) {
    if (context.size() != hydro_sign_CONTEXTBYTES) {
        throw HydrogenError("Context must be exactly " + std::to_string(hydro_sign_CONTEXTBYTES) +
                            " bytes");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) throw HydrogenError("Failed to open file: " + pathText(path));
    return verifySignedStream(signature, file, std::nullopt, context, publicKey);
}

}  // namespace tessaryn

// Signatures checked over bytes in memory, with the libhydrogen build the processor runs best.
#include <hydrogen.h>

#include "package/signed_file.h"

// The SSSE3 build of libhydrogen: the same sources, compiled with -mssse3 under other names.
extern "C" {
int tessaryn_ssse3_hydro_init(void);
int tessaryn_ssse3_hydro_sign_init(hydro_sign_state* state, const char ctx[hydro_sign_CONTEXTBYTES]);
int tessaryn_ssse3_hydro_sign_update(hydro_sign_state* state, const void* m, size_t mlen);
int tessaryn_ssse3_hydro_sign_final_verify(hydro_sign_state* state,
                                           const uint8_t csig[hydro_sign_BYTES],
                                           const uint8_t pk[hydro_sign_PUBLICKEYBYTES]);
}

namespace tessaryn {

namespace {

bool processorHasSsse3() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
#else
    return false;
#endif
}

}  // namespace

void initSignatures() {
    if (hydro_init() != 0) throw HydrogenError("Initialisation failed");
    if (processorHasSsse3() && tessaryn_ssse3_hydro_init() != 0) {
        throw HydrogenError("Initialisation failed");
    }
}

bool hashCodeAvailable(HashCode code) {
    return code == HashCode::Portable || processorHasSsse3();
}

HashCode preferredHashCode() {
    static const HashCode chosen = processorHasSsse3() ? HashCode::Ssse3 : HashCode::Portable;
    return chosen;
}

bool verifySignedBytes(const uint8_t* bytes, size_t size, const std::string& context,
                       const PublicKey& publicKey) noexcept {
    return verifySignedBytes(bytes, size, context, publicKey, preferredHashCode());
}

bool verifySignedBytes(const uint8_t* bytes, size_t size, const std::string& context,
                       const PublicKey& publicKey, HashCode code) noexcept {
    if (context.size() != hydro_sign_CONTEXTBYTES || size < kSignatureBytes) return false;
    if (!hashCodeAvailable(code)) return false;
    const size_t payload = size - kSignatureBytes;
    const uint8_t* signature = bytes + payload;
    hydro_sign_state state;
    // Parts of 1 MiB: the update takes a size_t, but a mapping is paged in as it is read.
    constexpr size_t kPart = 1024 * 1024;
    if (code == HashCode::Ssse3) {
        tessaryn_ssse3_hydro_sign_init(&state, context.data());
        for (size_t at = 0; at < payload; at += kPart)
            tessaryn_ssse3_hydro_sign_update(&state, bytes + at, std::min(kPart, payload - at));
        return tessaryn_ssse3_hydro_sign_final_verify(&state, signature, publicKey.data()) == 0;
    }
    hydro_sign_init(&state, context.data());
    for (size_t at = 0; at < payload; at += kPart)
        hydro_sign_update(&state, bytes + at, std::min(kPart, payload - at));
    return hydro_sign_final_verify(&state, signature, publicKey.data()) == 0;
}

}  // namespace tessaryn

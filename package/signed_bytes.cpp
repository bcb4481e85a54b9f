// Signatures checked over bytes in memory, with the libhydrogen build the processor runs best.
#include <hydrogen.h>

#include "package/signed_file.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

// The SSSE3 build of libhydrogen's hashing: its sources compiled with -mssse3 under other names.
// A signature state is the hash state of the signed bytes (libhydrogen's sign_init and
// sign_update hash them and nothing else); the final step is the baseline build's.
extern "C" {
int tessaryn_ssse3_hydro_hash_init(hydro_hash_state* state, const char ctx[hydro_hash_CONTEXTBYTES],
                                   const uint8_t key[hydro_hash_KEYBYTES]);
int tessaryn_ssse3_hydro_hash_update(hydro_hash_state* state, const void* in, size_t inlen);
}

namespace tessaryn {

namespace {

bool processorHasSsse3() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_SSSE3) != 0;
#else
    return false;
#endif
}

}  // namespace

void initSignatures() {
    // The SSSE3 build is used for hashing only, which needs none of its own start-up.
    if (hydro_init() != 0) throw HydrogenError("Initialisation failed");
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
        tessaryn_ssse3_hydro_hash_init(&state.hash_st, context.data(), nullptr);
        for (size_t at = 0; at < payload; at += kPart)
            tessaryn_ssse3_hydro_hash_update(&state.hash_st, bytes + at, std::min(kPart, payload - at));
    } else {
        hydro_sign_init(&state, context.data());
        for (size_t at = 0; at < payload; at += kPart)
            hydro_sign_update(&state, bytes + at, std::min(kPart, payload - at));
    }
    // Both builds keep the same state; the final step (a few permutations and the curve
    // arithmetic) is the same code for both, so the SSSE3 build adds only its hashing.
    return hydro_sign_final_verify(&state, signature, publicKey.data()) == 0;
}

}  // namespace tessaryn

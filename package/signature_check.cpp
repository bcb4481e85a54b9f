// Signatures checked as they arrive or over bytes in memory, with the libhydrogen build the
// processor runs best.
#include <hydrogen.h>

#include <algorithm>

#include "package/signature_check.h"

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

bool hashBuildAvailable(HashBuild build) {
    return build == HashBuild::Portable || processorHasSsse3();
}

HashBuild preferredHashBuild() {
    static const HashBuild chosen = processorHasSsse3() ? HashBuild::Ssse3 : HashBuild::Portable;
    return chosen;
}

bool verifySignedBytes(const uint8_t* bytes, size_t size, const std::string& context,
                       const PublicKey& publicKey) noexcept {
    return verifySignedBytes(bytes, size, context, publicKey, preferredHashBuild());
}

bool verifySignedBytes(const uint8_t* bytes, size_t size, const std::string& context,
                       const PublicKey& publicKey, HashBuild build) noexcept {
    ArrivingSignature check(context, build);
    // Parts of 1 MiB: the update takes a size_t, but a mapping is paged in as it is read.
    constexpr size_t kPart = 1024 * 1024;
    for (size_t at = 0; at < size; at += kPart) check.add(bytes + at, std::min(kPart, size - at));
    return check.valid(publicKey);
}

namespace {

hydro_sign_state* signState(std::array<uint8_t, 64>& storage) {
    static_assert(sizeof(hydro_sign_state) <= sizeof storage && alignof(hydro_sign_state) <= 8);
    return reinterpret_cast<hydro_sign_state*>(storage.data());
}

}  // namespace

ArrivingSignature::ArrivingSignature(const std::string& context, HashBuild build)
    : build_(build),
      usable_(context.size() == hydro_sign_CONTEXTBYTES && hashBuildAvailable(build)) {
    if (!usable_) return;
    if (build_ == HashBuild::Ssse3)
        tessaryn_ssse3_hydro_hash_init(&signState(state_)->hash_st, context.data(), nullptr);
    else
        hydro_sign_init(signState(state_), context.data());
}

// Both builds keep the same state; the final step (a few permutations and the curve arithmetic)
// is the baseline build's, so the SSSE3 build adds only its hashing.
void ArrivingSignature::hash(const uint8_t* bytes, size_t size) noexcept {
    if (!usable_ || size == 0) return;
    if (build_ == HashBuild::Ssse3)
        tessaryn_ssse3_hydro_hash_update(&signState(state_)->hash_st, bytes, size);
    else
        hydro_sign_update(signState(state_), bytes, size);
}

void ArrivingSignature::add(const uint8_t* bytes, size_t size) noexcept {
    size_ += size;
    if (size >= kSignatureBytes) {
        // All that was held back and all but the last 64 new bytes are payload.
        hash(tail_.data(), held_);
        hash(bytes, size - kSignatureBytes);
        std::copy(bytes + size - kSignatureBytes, bytes + size, tail_.begin());
        held_ = kSignatureBytes;
        return;
    }
    // Fewer than 64 new bytes: the oldest held ones that no longer fit are payload.
    const size_t overflow = held_ + size > kSignatureBytes ? held_ + size - kSignatureBytes : 0;
    hash(tail_.data(), overflow);
    std::copy(tail_.begin() + overflow, tail_.begin() + held_, tail_.begin());
    held_ -= overflow;
    std::copy(bytes, bytes + size, tail_.begin() + held_);
    held_ += size;
}

bool ArrivingSignature::valid(const PublicKey& publicKey) noexcept {
    if (!usable_ || held_ < kSignatureBytes) return false;
    usable_ = false;  // the state is spent
    return hydro_sign_final_verify(signState(state_), tail_.data(), publicKey.data()) == 0;
}

}  // namespace tessaryn

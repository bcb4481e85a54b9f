// SHA-256 from OpenSSL's libcrypto (the publisher tool and the native tests).
#include "package/sha256.h"

#include <openssl/evp.h>


namespace tessaryn {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
    bool failed = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    state_->failed =
        !state_->context || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1;
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(state_->context);
}

void Sha256::add(const uint8_t* bytes, size_t size) noexcept {
    if (!state_->failed && size > 0)
        state_->failed = EVP_DigestUpdate(state_->context, bytes, size) != 1;
}

std::optional<Sha256Digest> Sha256::finish() noexcept {
    Sha256Digest digest{};
    unsigned length = 0;
    if (state_->failed || EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 ||
        length != digest.size())
        return std::nullopt;
    state_->failed = true;  // spent
    return digest;
}

}  // namespace tessaryn

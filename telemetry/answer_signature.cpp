#include "telemetry/answer_signature.h"

#include <hydrogen.h>

#include "system/ascii_text.h"

namespace tessaryn {

namespace {

}  // namespace

std::string newAnswerNonce() {
    uint8_t bytes[16];
    hydro_random_buf(bytes, sizeof bytes);
    return lowerHex(bytes, sizeof bytes);
}

std::string answerSignedMessage(std::string_view request, std::string_view answer) {
    std::string message;
    message.reserve(8 + request.size() + answer.size());
    uint64_t length = request.size();
    for (int i = 0; i < 8; ++i, length >>= 8) message += static_cast<char>(length & 0xFF);
    message.append(request);
    message.append(answer);
    return message;
}

bool answerSignatureValid(std::string_view request, std::string_view answer,
                          std::string_view signatureHex, const AnswersPublicKey& key) noexcept {
    static_assert(sizeof(AnswersPublicKey) == hydro_sign_PUBLICKEYBYTES);
    uint8_t signature[hydro_sign_BYTES];
    if (!decodeHex(signatureHex, signature, sizeof signature)) return false;
    try {
        const std::string message = answerSignedMessage(request, answer);
        return hydro_sign_verify(signature, message.data(), message.size(), kAnswerContext,
                                 key.data()) == 0;
    } catch (...) {
        return false;
    }
}

}  // namespace tessaryn

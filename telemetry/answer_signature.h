#pragma once
// Signed answers of the web host. Each event request carries a fresh random nonce; the host signs
// its answer together with the exact request it answers, with the answers key (libhydrogen,
// context "TSANSWER"), and sends the signature in the header "Tessaryn-Answer-Signature" as 128
// lower-case hex digits. The signed message is:
//     8-byte little-endian length of the request body || request body || answer body
// (the bytes as sent and received, nothing trimmed).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaryn {

inline constexpr const char* kAnswerContext = "TSANSWER";
inline constexpr const char* kAnswerSignatureHeader = "Tessaryn-Answer-Signature";
using AnswersPublicKey = std::array<uint8_t, 32>;

// A fresh nonce: 16 random bytes as 32 lower-case hex digits.
std::string newAnswerNonce();

// The exact bytes the host signs.
std::string answerSignedMessage(std::string_view request, std::string_view answer);

// True when `signatureHex` (128 hex digits) signs this answer to this request.
bool answerSignatureValid(std::string_view request, std::string_view answer,
                          std::string_view signatureHex, const AnswersPublicKey& key) noexcept;

}  // namespace tessaryn

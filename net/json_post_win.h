#pragma once
// A JSON POST (the usage events): the body goes to every redirect's target as a POST, and the
// answer is read into memory.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessaryn {

struct JsonPost {
    std::string userAgent = "Setup/1.0";
    uint32_t timeoutMs = 30000;
    bool disableCache = true;
    // A larger answer is refused.
    size_t maxAnswerBytes = 65536;
    // When set, the final answer's header of this name is read too.
    const char* headerName = nullptr;
};

struct JsonAnswer {
    std::string body;
    std::string header;  // JsonPost::headerName's value; empty when the answer has none
};

// Throws std::runtime_error naming the failure: no connection, an answer other than 200 or a
// redirect, too many redirects, or an answer over its limit.
JsonAnswer postJson(const std::string& url, const std::string& body, const JsonPost& how = {});

}  // namespace tessaryn

#pragma once
// Authenticode signing and checking of the setup program with osslsigncode.
#include <filesystem>
#include <string>

namespace tessaryn {

struct SignExeOptions {
    std::filesystem::path input;
    std::filesystem::path output;        // empty: the input is replaced once signed
    std::filesystem::path pkcs12;        // certificate and private key
    std::filesystem::path passwordFile;  // empty: the PKCS#12 file has no password
    std::string timestampUrl;            // empty: no time stamp
};

// Throws std::runtime_error with osslsigncode's own words when signing fails; the output is
// then left as it was.
void signExe(const SignExeOptions& options);

struct VerifyExeResult {
    bool valid = false;
    std::string details;  // osslsigncode's last lines when not valid
};

// caFile empty: osslsigncode's default certificate authorities.
VerifyExeResult verifyExe(const std::filesystem::path& exe, const std::filesystem::path& caFile);

}  // namespace tessaryn

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

// Throws std::runtime_error when signing fails (a wrong password said as such, otherwise with
// osslsigncode's own words); the output is then left as it was.
void signExe(const SignExeOptions& options);

enum class ExeSignature {
    Valid,
    Missing,    // the program carries no signature
    Changed,    // the program's digest no longer matches its signature
    Untrusted,  // intact, but the certificate chain ends at no trusted authority
    Invalid,    // any other failure
};

struct VerifyExeResult {
    bool valid = false;
    ExeSignature kind = ExeSignature::Invalid;
    std::string details;  // Untrusted: the certificate error; Invalid: osslsigncode's last lines
};

// caFile empty: osslsigncode's default certificate authorities.
VerifyExeResult verifyExe(const std::filesystem::path& exe, const std::filesystem::path& caFile);

}  // namespace tessaryn

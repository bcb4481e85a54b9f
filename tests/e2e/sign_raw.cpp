// Signs any bytes the way the setup checks them, for end-to-end tests of files that the
// publisher tool rightly refuses to sign (settings without a usable product name).
//   e2e_sign_raw SECRET-KEY-FILE CONTEXT INPUT OUTPUT
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "package/signature_check.h"
#include "tools/signed_output.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: e2e_sign_raw SECRET-KEY-FILE CONTEXT INPUT OUTPUT\n");
        return 2;
    }
    try {
        tessaryn::initSignatures();
        std::ifstream in(argv[3], std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        tessaryn::SignedOutput out(argv[4], argv[2]);
        out.write(bytes.data(), bytes.size());
        out.finish(tessaryn::readSecretKey(argv[1], std::string(argv[2]) == "TSANSWER"
                                                         ? tessaryn::KeyKind::Answers
                                                         : tessaryn::KeyKind::Release));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "e2e_sign_raw: %s\n", error.what());
        return 1;
    }
}

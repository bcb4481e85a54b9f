// Test helper: makes the (throw-away) Wine prefix trust a test certificate authority by adding
// its DER certificate to the machine's Root store. Usage: trust_ca <ca.der>
#include <windows.h>
// After windows.h, which it builds on.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_ca <ca.der>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fprintf(stderr, "trust_ca: cannot read %s\n", argv[1]);
        return 1;
    }
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) {
        std::fprintf(stderr, "trust_ca: cannot open the Root store (%lu)\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(der.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "trust_ca: cannot add the certificate (%lu)\n", error);
        return 1;
    }
    return 0;
}

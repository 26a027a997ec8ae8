// Not a test: what the system's certificate store itself keeps per added and
// deleted entry of the user's "MY" store, with every context freed and every
// store closed. The stand-in library loads and unloads certificates this way
// on each key change; bench/run.sh sets its figure beside the tool's.
#include "bench/Counters.h"
#include <wincrypt.h>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::vector<BYTE> der(65536);
    FILE* f = fopen(argv[1], "rb");
    if (!f) return 1;
    DWORD n = (DWORD)fread(der.data(), 1, der.size(), f);
    fclose(f);
    const int kRounds = 300;
    SIZE_T start = 0;
    for (int i = 0; i <= kRounds; ++i) {
        if (i == 1) start = CountsOf(GetCurrentProcess(), GetCurrentProcessId()).privateBytes;
        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "MY");
        PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), n);
        if (!store || !cert) return 1;
        CRYPT_KEY_PROV_INFO info = {};
        info.pwszContainerName = (LPWSTR)L"probe";
        info.pwszProvName = (LPWSTR)L"probe";
        info.dwProvType = PROV_RSA_FULL;
        info.dwKeySpec = AT_KEYEXCHANGE;
        CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
        CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_NEW, nullptr);
        PCCERT_CONTEXT added = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, nullptr);
        if (added) CertDeleteCertificateFromStore(added);
        CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        CertFreeCertificateContext(cert);
        CertCloseStore(store, 0);
    }
    SIZE_T end = CountsOf(GetCurrentProcess(), GetCurrentProcessId()).privateBytes;
    printf("store_bytes_per_add_delete %.0f\n", (double)(end - start) / kRounds);
    return 0;
}

// cert_viewer FILE.cer: shows the certificate in the system's certificate
// viewer until the user closes it. Registered by the journeys as the program
// that opens .cer files, as a desktop's file association would (this Wine
// has none that works).
#include <windows.h>
#include <wincrypt.h>
#include <prsht.h>
#include <cryptuiapi.h>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::vector<BYTE> der;
    if (FILE* f = fopen(argv[1], "rb")) {
        BYTE chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) der.insert(der.end(), chunk, chunk + n);
        fclose(f);
    }
    if (der.empty()) return 1;
    PCCERT_CONTEXT cert =
        CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), (DWORD)der.size());
    if (!cert) return 1;
    CRYPTUI_VIEWCERTIFICATE_STRUCTA view = {};
    view.dwSize = sizeof view;
    view.pCertContext = cert;
    BOOL changed = FALSE;
    // Looked up at run time: not every tool chain ships its import library.
    typedef BOOL(WINAPI * ViewFn)(PCCRYPTUI_VIEWCERTIFICATE_STRUCTA, BOOL*);
    HMODULE ui = LoadLibraryA("cryptui.dll");
    ViewFn viewCertificate = ui ? (ViewFn)(void*)GetProcAddress(ui, "CryptUIDlgViewCertificateA") : nullptr;
    BOOL shown = viewCertificate && viewCertificate(&view, &changed);
    CertFreeCertificateContext(cert);
    return shown ? 0 : 1;
}

// Exports of the stand-in: PKCS #12 import onto a key, and the entries in the
// current user's "MY" certificate store.
//
// Every store entry the stand-in makes carries a key-provider property with
// the provider name kProviderName and the container's name; CSP_UnloadIECert
// removes exactly the entries with that provider name. An equal certificate
// that someone else put in the store is left as it is.
#include "tokensim/Library.h"

#include <stdio.h>
#include <string.h>

using namespace tokensim;

namespace {

const wchar_t kProviderName[] = L"Tokensim Token CSP";

// Whether a store entry is one of ours; optionally its container and key spec.
bool OurEntry(PCCERT_CONTEXT cert, std::wstring* container = nullptr, DWORD* spec = nullptr) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) ||
        size < sizeof(CRYPT_KEY_PROV_INFO))
        return false;
    std::vector<BYTE> buffer(size);
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
        return false;
    const CRYPT_KEY_PROV_INFO* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    if (!info->pwszProvName || lstrcmpW(info->pwszProvName, kProviderName) != 0) return false;
    if (container) *container = info->pwszContainerName ? info->pwszContainerName : L"";
    if (spec) *spec = info->dwKeySpec;
    return true;
}

HCERTSTORE OpenMyStore() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "MY");
}

// Container name for an imported certificate: "PFX-" and its SHA-1 in hex,
// with a counter when the key already has that name.
std::string ImportedContainerName(PCCERT_CONTEXT cert, CKey& key) {
    BYTE hash[20] = {};
    DWORD size = sizeof(hash);
    CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &size);
    std::string base = "PFX-" + ToHex(std::string(reinterpret_cast<char*>(hash), sizeof(hash)));
    std::string name = base;
    for (int i = 2; key.FindContainer(name.c_str()); ++i) {
        char suffix[16];
        snprintf(suffix, sizeof(suffix), "-%d", i);
        name = base + suffix;
    }
    return name;
}

// Whether an imported certificate came with its private key, and the key's
// specification: a persisted key is named by the key-provider property, a
// key kept in memory (PKCS12_NO_PERSIST_KEY) by the key-context property.
bool PrivateKeySpec(PCCERT_CONTEXT cert, DWORD* spec) {
    DWORD size = 0;
    if (CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) &&
        size >= sizeof(CRYPT_KEY_PROV_INFO)) {
        std::vector<BYTE> buffer(size);
        if (CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size)) {
            *spec = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data())->dwKeySpec;
            return true;
        }
    }
    CERT_KEY_CONTEXT context = {};
    size = sizeof(context);
    if (CertGetCertificateContextProperty(cert, CERT_KEY_CONTEXT_PROP_ID, &context, &size)) {
        *spec = context.dwKeySpec;
        return true;
    }
    return false;
}

// Imports the PKCS #12 file into a temporary store; the certificate that has a
// private key is returned (the caller frees it and closes *store).
TOKEN_RESULT OpenPfx(CRYPT_DATA_BLOB* pfx, const char* password, HCERTSTORE* store,
                     PCCERT_CONTEXT* withKey, DWORD* keySpec) {
    *store = nullptr;
    *withKey = nullptr;
    if (!PFXIsPFXBlob(pfx)) return TS_E_BAD_DATA;
    wchar_t widePassword[256];
    if (!MultiByteToWideChar(CP_ACP, 0, password, -1, widePassword, 256)) return TS_E_PFX_PASSWORD;
    // Keys stay out of the system's key store where the system allows that.
    HCERTSTORE s = PFXImportCertStore(pfx, widePassword, PKCS12_NO_PERSIST_KEY);
    if (!s) s = PFXImportCertStore(pfx, widePassword, 0);
    SecureZeroMemory(widePassword, sizeof(widePassword));
    if (!s) return TS_E_PFX_PASSWORD;   // wrong password, or a file without a key
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(s, c)) != nullptr) {
        DWORD spec = 0;
        if (!PrivateKeySpec(c, &spec)) continue;
        *keySpec = spec == AT_SIGNATURE ? TOKEN_SPEC_SIGNATURE : TOKEN_SPEC_EXCHANGE;
        *withKey = CertDuplicateCertificateContext(c);
        CertFreeCertificateContext(c);
        break;
    }
    *store = s;
    return *withKey ? 0 : TS_E_NO_PRIVATE_KEY;
}

}  // namespace

// Adds one certificate to the open "MY" store with the key-provider
// property naming the container. An entry of ours that already names the same
// container and key specification is left as it is; one naming another container
// is deleted and committed first, since a replacing add keeps the old
// key-provider property. An equal entry of someone else's is left alone.
static TOKEN_RESULT AddToOpenStore(HCERTSTORE store, const BYTE* der, uint32_t length,
                                   uint32_t keySpec, const char* containerName, bool* changed) {
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der, length);
    if (!cert) return TS_E_BAD_DATA;
    wchar_t wideName[TS_CONTAINER_NAME_MAX + 1];
    if (!MultiByteToWideChar(CP_ACP, 0, containerName, -1, wideName, TS_CONTAINER_NAME_MAX + 1))
        wideName[0] = 0;
    wideName[TS_CONTAINER_NAME_MAX] = 0;
    DWORD spec = keySpec == TOKEN_SPEC_SIGNATURE ? AT_SIGNATURE : AT_KEYEXCHANGE;

    TOKEN_RESULT r = 0;
    bool add = true;
    PCCERT_CONTEXT old = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                    CERT_FIND_EXISTING, cert, nullptr);
    if (old) {
        std::wstring oldContainer;
        DWORD oldSpec = 0;
        if (!OurEntry(old, &oldContainer, &oldSpec)) {
            add = false;
            CertFreeCertificateContext(old);
        } else if (oldContainer == wideName && oldSpec == spec) {
            add = false;
            CertFreeCertificateContext(old);
        } else {
            CertDeleteCertificateFromStore(old);
            CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        }
    }
    if (add) {
        CRYPT_KEY_PROV_INFO info = {};
        info.pwszContainerName = wideName;
        info.pwszProvName = const_cast<wchar_t*>(kProviderName);
        info.dwProvType = PROV_RSA_FULL;
        info.dwKeySpec = spec;
        if (!CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) ||
            !CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_NEW, nullptr))
            r = TS_E_CERT_STORE;
        else
            *changed = true;
    }
    CertFreeCertificateContext(cert);
    return r;
}

TOKEN_RESULT tokensim::AddCertToStore(const BYTE* der, uint32_t length, uint32_t keySpec,
                                      const char* containerName) {
    HCERTSTORE store = OpenMyStore();
    if (!store) return TS_E_CERT_STORE;
    bool changed = false;
    TOKEN_RESULT r = AddToOpenStore(store, der, length, keySpec, containerName, &changed);
    if (changed) CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(store, 0);
    return r;
}

extern "C" {

TOKEN_RESULT __stdcall CSP_ImportPfxCert(HWND, TOKEN_KEY key, char* password,
                                         CRYPT_DATA_BLOB* pfx) {
    TOKEN_RESULT injected = 0;
    if (FaultFail(&injected)) return injected;
    if (!password || !pfx || (!pfx->pbData && pfx->cbData != 0)) return TS_E_INVALID_PARAMETER;
    {   // the key must be there before the file is looked at
        CStoreLock lock(false);
        if (!lock.Ok()) return TS_E_STORE;
        CKey k;
        TOKEN_RESULT r = LoadInsertedKey(key, k);
        if (r != 0) return r;
    }
    HCERTSTORE pfxStore = nullptr;
    PCCERT_CONTEXT cert = nullptr;
    DWORD keySpec = TOKEN_SPEC_EXCHANGE;
    TOKEN_RESULT r = OpenPfx(pfx, password, &pfxStore, &cert, &keySpec);
    if (r == 0 && cert->cbCertEncoded > TOKEN_CERT_MAX) r = TS_E_BAD_DATA;
    if (r == 0) {
        CStoreLock lock;
        CKey k;
        if (!lock.Ok()) r = TS_E_STORE;
        if (r == 0) r = LoadInsertedKey(key, k);
        if (r == 0 && k.containers.size() >= TS_CONTAINERS_MAX) r = TS_E_NO_ROOM;
        if (r == 0) {
            CContainer c;
            c.name = ImportedContainerName(cert, k);
            c.flags = keySpec == TOKEN_SPEC_SIGNATURE ? (TOKEN_CF_SPEC2_CERT | TOKEN_CF_SPEC2_KEY)
                                                      : (TOKEN_CF_SPEC1_CERT | TOKEN_CF_SPEC1_KEY);
            c.cert[keySpec - 1].assign(reinterpret_cast<const char*>(cert->pbCertEncoded),
                                       cert->cbCertEncoded);
            k.containers.push_back(c);
            r = SaveKey(k);
        }
    }
    if (cert) CertFreeCertificateContext(cert);
    if (pfxStore) CertCloseStore(pfxStore, 0);
    return r;
}

TOKEN_RESULT __stdcall CSP_AddCertToIE(BYTE* cert, uint32_t length, uint32_t keySpec,
                                       char* containerName) {
    TOKEN_RESULT injected = 0;
    if (FaultFail(&injected)) return injected;
    if (!cert || !containerName || length == 0 || length > TOKEN_CERT_MAX ||
        (keySpec != TOKEN_SPEC_EXCHANGE && keySpec != TOKEN_SPEC_SIGNATURE))
        return TS_E_INVALID_PARAMETER;
    size_t n = BoundedLength(containerName, TS_CONTAINER_NAME_MAX);
    if (n == 0 || n > TS_CONTAINER_NAME_MAX) return TS_E_INVALID_PARAMETER;
    return AddCertToStore(cert, length, keySpec, containerName);
}

// what: bit 0 the exchange certificates (key specification 1), bit 1 the signature ones (2).
TOKEN_RESULT __stdcall CSP_LoadCertToIE(TOKEN_KEY key, uint32_t what) {
    TOKEN_RESULT injected = 0;
    if (FaultFail(&injected)) return injected;
    if (what & ~3u) return TS_E_INVALID_PARAMETER;
    CKey k;
    {
        CStoreLock lock(false);
        if (!lock.Ok()) return TS_E_STORE;
        TOKEN_RESULT r = LoadInsertedKey(key, k);
        if (r != 0) return r;
    }
    HCERTSTORE store = OpenMyStore();
    if (!store) return TS_E_CERT_STORE;
    static const uint32_t kCertBit[2] = {TOKEN_CF_SPEC1_CERT, TOKEN_CF_SPEC2_CERT};
    TOKEN_RESULT first = 0;
    bool changed = false;
    for (const CContainer& c : k.containers) {
        for (uint32_t spec = 1; spec <= 2; ++spec) {
            if (!(what & spec) || !(c.flags & kCertBit[spec - 1]) || c.cert[spec - 1].empty())
                continue;
            const std::string& der = c.cert[spec - 1];
            TOKEN_RESULT r = AddToOpenStore(store, reinterpret_cast<const BYTE*>(der.data()),
                                            static_cast<uint32_t>(der.size()), spec,
                                            c.name.c_str(), &changed);
            if (first == 0) first = r;
        }
    }
    if (changed) CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(store, 0);
    return first;
}

TOKEN_RESULT __stdcall CSP_UnloadIECert(void) {
    TOKEN_RESULT injected = 0;
    if (FaultFail(&injected)) return injected;
    HCERTSTORE store = OpenMyStore();
    if (!store) return TS_E_CERT_STORE;
    // Deleting while enumerating does not work on every system: collect our
    // entries first, then delete them, and commit once.
    std::vector<PCCERT_CONTEXT> ours;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(store, c)) != nullptr)
        if (OurEntry(c)) ours.push_back(CertDuplicateCertificateContext(c));
    for (PCCERT_CONTEXT victim : ours) CertDeleteCertificateFromStore(victim);
    if (!ours.empty()) CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(store, 0);
    return 0;
}

}  // extern "C"

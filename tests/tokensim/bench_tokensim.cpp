// Cost of each library call of the stand-in with 8 inserted keys of 6
// containers each (not a test; run by hand under Wine and read the figures).
#include "tests/tokensim/TokensimTestSupport.h"

#include <stdio.h>
#include <algorithm>
#include <vector>

using namespace tstest;

namespace {

LARGE_INTEGER g_freq;

// Each call timed on its own: median, 90th percentile and maximum.
template <class Fn> void Measure(const char* what, int rounds, Fn fn) {
    fn();   // warm
    std::vector<double> us;
    for (int i = 0; i < rounds; ++i) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        fn();
        QueryPerformanceCounter(&t1);
        us.push_back((t1.QuadPart - t0.QuadPart) * 1e6 / g_freq.QuadPart);
    }
    std::sort(us.begin(), us.end());
    double median = us[us.size() / 2], p90 = us[us.size() * 9 / 10];
    printf("%-26s median %8.1f us  p90 %8.1f us  max %8.1f us%s\n", what, median, p90, us.back(),
           median > 1000.0 ? "  (over 1 ms)" : "");
}

// Times fn only; setup runs before each call, untimed.
template <class Setup, class Fn> void MeasureAfter(const char* what, int rounds, Setup setup, Fn fn) {
    std::vector<double> us;
    for (int i = 0; i < rounds; ++i) {
        setup();
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        fn();
        QueryPerformanceCounter(&t1);
        us.push_back((t1.QuadPart - t0.QuadPart) * 1e6 / g_freq.QuadPart);
    }
    std::sort(us.begin(), us.end());
    printf("%-26s median %8.1f us  p90 %8.1f us  max %8.1f us%s\n", what, us[us.size() / 2],
           us[us.size() * 9 / 10], us.back(), us[us.size() / 2] > 1000.0 ? "  (over 1 ms)" : "");
}

// A self-signed certificate of its own for every container.
std::string SelfSigned(const char* subject) {
    BYTE name[256];
    DWORD size = sizeof(name);
    if (!CertStrToNameA(X509_ASN_ENCODING, subject, CERT_X500_NAME_STR, nullptr, name, &size, nullptr))
        return std::string();
    CERT_NAME_BLOB blob = {size, name};
    PCCERT_CONTEXT c = CertCreateSelfSignCertificate(0, &blob, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!c) return std::string();
    std::string der(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded);
    CertFreeCertificateContext(c);
    return der;
}

}  // namespace

int main() {
    QueryPerformanceFrequency(&g_freq);
    NewStore("bench");
    SetEnvironmentVariableA("TOKENSIM_PIN", "123456");
    std::vector<TOKEN_KEY> keys;
    for (int i = 0; i < 8; ++i) {
        CKeySpec s;
        std::string name = "bench" + std::to_string(i);
        s.name = name.c_str();
        s.containers = 6;
        keys.push_back(MakeKey(s));
    }
    // Distinct certificates, so that loading them makes 48 entries in "MY".
    for (int i = 0; i < 8; ++i) {
        tokensim::CStoreLock lock;
        tokensim::CKey key;
        tokensim::LoadKey("bench" + std::to_string(i), key);
        for (size_t j = 0; j < key.containers.size(); ++j) {
            std::string subject = "CN=bench " + std::to_string(i) + "-" + std::to_string(j);
            std::string der = SelfSigned(subject.c_str());
            if (!der.empty()) key.containers[j].cert[0] = der;
        }
        tokensim::SaveKey(key);
    }
    TOKEN_KEY k = keys[7];
    TOKEN_KEY list[TOKEN_MAX_KEYS];
    uint32_t count = 0, status = 0, flags = 0, length = 0, id = 0xEF11;
    char label[TOKEN_LABEL_BUFFER], name[TOKEN_CONTAINER_NAME_CAP], pin[] = "123456", c0[] = "C0";
    char webfile[] = "WEBFILE";
    std::vector<BYTE> cert(TOKEN_CERT_MAX);
    BYTE page[260] = {};
    uint16_t n16 = 0, ids[TOKEN_MAX_FILE_IDS];
    CSP_FileCreate(k, 7, webfile, 0, 260, &id);
    const int R = 200;
    Measure("(store lock)", R, [&] { tokensim::CStoreLock lock; });
    Measure("(env lookup)", R, [&] {
        char v[32];
        GetEnvironmentVariableA("TOKENSIM_FAULTS", v, sizeof(v));
    });
    Measure("(lock + index read)", R, [&] {
        tokensim::CStoreLock lock;
        tokensim::CIndex index;
        tokensim::LoadIndex(index);
    });
    Measure("(index read)", R, [&] {
        tokensim::CIndex index;
        tokensim::LoadIndex(index);
    });
    Measure("(key read)", R, [&] {
        tokensim::CKey key;
        tokensim::LoadKey("bench7", key);
    });
    // The file system's own cost of a replacing write, for comparison.
    std::string dir;
    tokensim::StoreDir(dir);
    std::string tmp = dir + "\\probe.new", dst = dir + "\\probe.txt";
    std::string blob(7000, 'a');
    Measure("(create+write+close)", R, [&] {
        HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD put = 0;
        WriteFile(h, blob.data(), static_cast<DWORD>(blob.size()), &put, nullptr);
        CloseHandle(h);
    });
    Measure("(two renames)", R, [&] {
        MoveFileExA(tmp.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING);
        MoveFileExA(dst.c_str(), tmp.c_str(), MOVEFILE_REPLACE_EXISTING);
    });
    Measure("(replacing write)", R, [&] {
        HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD put = 0;
        WriteFile(h, blob.data(), static_cast<DWORD>(blob.size()), &put, nullptr);
        CloseHandle(h);
        MoveFileExA(tmp.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING);
    });
    DeleteFileA(tmp.c_str());
    DeleteFileA(dst.c_str());
    Measure("(key write)", R, [&] {
        tokensim::CKey key;
        tokensim::LoadKey("bench7", key);
        tokensim::SaveKey(key);
    });
    Measure("CSP_GetSlotList", R, [&] { CSP_GetSlotList(list, &count); });
    Measure("CSP_GetSlotStatus", R, [&] { CSP_GetSlotStatus(k, &status); });
    Measure("CSP_GetUsbKeyLabel", R, [&] { CSP_GetUsbKeyLabel(k, label); });
    Measure("CSP_ContainerCount", R, [&] { CSP_ContainerCount(k, &count); });
    Measure("CSP_ContainerInfo", R, [&] { CSP_ContainerInfo(k, 5, &flags, sizeof(name), name); });
    Measure("CSP_ReadCertByName", R, [&] {
        length = TOKEN_CERT_MAX;
        CSP_ReadCertByName(k, c0, 1, &length, cert.data());
    });
    Measure("CSP_FileAllID", R, [&] { CSP_FileAllID(k, &n16, ids); });
    Measure("CSP_FileRead", R, [&] { CSP_FileRead(k, 0xEF11, 0, 260, page); });
    Measure("CSP_FileWrite", R, [&] { CSP_FileWrite(k, 0xEF11, 0, 260, page); });
    Measure("CSP_VerifyPassword", R, [&] { CSP_VerifyPassword(k, 1, pin); });
    Measure("CSP_VerifyPassword(NULL)", R, [&] { CSP_VerifyPassword(k, 1, nullptr); });
    Measure("CSP_Reset", R, [&] { CSP_Reset(k); });
    Measure("CSP_SetUsbKeyLabel", R, [&] {
        CSP_VerifyPassword(k, 1, pin);
        CSP_SetUsbKeyLabel(k, label);
    });
    Measure("CSP_ChangePassword", R, [&] { CSP_ChangePassword(k, 1, pin, pin); });
    Measure("TokenWindowMarker", R, [&] { TokenWindowMarker(0, 0); });
    Measure("CSP_AddCertToIE", 20, [&] {
        length = TOKEN_CERT_MAX;
        CSP_ReadCertByName(k, c0, 1, &length, cert.data());
        CSP_AddCertToIE(cert.data(), length, 1, c0);
    });
    MeasureAfter("CSP_LoadCertToIE (6 new)", 10, [&] { CSP_UnloadIECert(); },
                 [&] { CSP_LoadCertToIE(k, 3); });
    Measure("CSP_LoadCertToIE (again)", 10, [&] { CSP_LoadCertToIE(k, 3); });
    MeasureAfter("CSP_UnloadIECert (48)", 5,
                 [&] {
                     for (TOKEN_KEY key : keys) CSP_LoadCertToIE(key, 3);
                 },
                 [&] { CSP_UnloadIECert(); });
    Measure("CSP_UnloadIECert (none)", 10, [&] { CSP_UnloadIECert(); });
    CSP_UnloadIECert();
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do DeleteFileA((dir + "\\" + fd.cFileName).c_str());
        while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
    return 0;
}

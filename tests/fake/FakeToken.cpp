#include "tests/fake/FakeToken.h"
#include <cstdio>
#include <cstring>

FakeToken g_fake;

namespace {

const TOKEN_RESULT kError = 0xE0000001u;   // any failure the fake reports itself

void Log(const char* fn, TOKEN_KEY key, const char* text = nullptr, uint32_t a = 0, uint32_t b = 0) {
    FakeCall c;
    c.fn = fn;
    c.key = key;
    c.text = text ? text : "";
    c.a = a;
    c.b = b;
    g_fake.calls.push_back(c);
}

// A forced result for fn, on every key or on this key; 0 when none.
TOKEN_RESULT Forced(const char* fn, FakeKey* k) {
    auto it = g_fake.fail.find(fn);
    if (it != g_fake.fail.end()) return it->second;
    if (k) {
        auto kt = k->fail.find(fn);
        if (kt != k->fail.end()) return kt->second;
    }
    return 0;
}

FakeContainer* FindContainer(FakeKey* k, const char* name) {
    if (!k || !name) return nullptr;
    for (auto& c : k->containers)
        if (c.name == name) return &c;
    return nullptr;
}

}  // namespace

FakeKey& FakeToken::AddKey(TOKEN_KEY handle, const char* label, uint32_t status) {
    FakeKey k;
    k.handle = handle;
    k.label = label;
    k.status = status;
    keys.push_back(k);
    return keys.back();
}

void FakeToken::AddKeysWithCertificates(int count, int containers, const char* fixture) {
    const std::vector<BYTE> der = ReadFixture(fixture);
    for (TOKEN_KEY k = 1; k <= (TOKEN_KEY)count; ++k) {
        FakeKey& key = AddKey(k, ("KEY" + std::to_string(k)).c_str());
        for (int c = 0; c < containers; ++c) {
            FakeContainer container;
            container.name = "C" + std::to_string(c);
            container.flags = 0x05;
            container.cert[0] = der;
            key.containers.push_back(container);
        }
    }
}

FakeKey* FakeToken::Find(TOKEN_KEY handle) {
    for (auto& k : keys)
        if (k.handle == handle) return &k;
    return nullptr;
}

int FakeToken::Count(const char* fn) const {
    int n = 0;
    for (const auto& c : calls)
        if (c.fn == fn) ++n;
    return n;
}

std::vector<std::string> FakeToken::Names() const {
    std::vector<std::string> names;
    for (const auto& c : calls) names.push_back(c.fn);
    return names;
}

std::string FixturePath(const char* name) {
    return std::string(QRVL_TEST_DATA) + "\\" + name;
}

std::vector<BYTE> ReadFixture(const char* name) {
    std::vector<BYTE> data;
    FILE* f = fopen(FixturePath(name).c_str(), "rb");
    if (!f) return data;
    BYTE buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    fclose(f);
    return data;
}

extern "C" {

TOKEN_RESULT __stdcall CSP_GetSlotList(TOKEN_KEY* keys, uint32_t* count) {
    Log("CSP_GetSlotList", 0, nullptr, keys ? 1 : 0);
    if (TOKEN_RESULT r = Forced("CSP_GetSlotList", nullptr)) return r;
    if (!count) return kError;
    uint32_t n = g_fake.slotCountOverride != 0xFFFFFFFFu ? g_fake.slotCountOverride
                                                         : (uint32_t)g_fake.keys.size();
    if (!g_fake.slotCountSequence.empty()) {
        n = g_fake.slotCountSequence.front();
        g_fake.slotCountSequence.erase(g_fake.slotCountSequence.begin());
    }
    *count = n;
    if (keys)
        for (uint32_t i = 0; i < n && i < TOKEN_MAX_KEYS && i < g_fake.keys.size(); ++i)
            keys[i] = g_fake.keys[i].handle;
    return 0;
}

TOKEN_RESULT __stdcall CSP_GetSlotStatus(TOKEN_KEY key, uint32_t* status) {
    Log("CSP_GetSlotStatus", key);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_GetSlotStatus", k)) return r;
    if (!k || !status) return kError;
    *status = k->status;
    return 0;
}

TOKEN_RESULT __stdcall CSP_GetUsbKeyLabel(TOKEN_KEY key, char* label) {
    Log("CSP_GetUsbKeyLabel", key);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_GetUsbKeyLabel", k)) return r;
    if (!k || !label) return kError;
    snprintf(label, TOKEN_LABEL_BUFFER, "%s", k->label.c_str());
    return 0;
}

TOKEN_RESULT __stdcall CSP_SetUsbKeyLabel(TOKEN_KEY key, char* label) {
    Log("CSP_SetUsbKeyLabel", key, label);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_SetUsbKeyLabel", k)) return r;
    if (!k || !label || strlen(label) > TOKEN_LABEL_MAX) return kError;
    k->label = label;
    return 0;
}

TOKEN_RESULT __stdcall CSP_VerifyPassword(TOKEN_KEY key, uint32_t userType, char* password) {
    Log("CSP_VerifyPassword", key, password, userType);
    if (!password && g_fake.prompt) {
        std::function<void()> prompt = g_fake.prompt;
        prompt();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_VerifyPassword", k)) return r;
    if (!k) return kError;
    TOKEN_RESULT r = password ? (k->pin == password ? 0 : TOKEN_PIN_WRONG_BASE + 5) : g_fake.verifyResult;
    if (r == 0) k->status = 4;
    return r;
}

TOKEN_RESULT __stdcall CSP_ChangePassword(TOKEN_KEY key, uint32_t userType, char* oldPassword,
                                          char* newPassword) {
    Log("CSP_ChangePassword", key, oldPassword, userType);
    g_fake.calls.back().text += std::string("|") + (newPassword ? newPassword : "");
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_ChangePassword", k)) return r;
    if (!k || !oldPassword || !newPassword) return kError;
    if (k->pin != oldPassword) return TOKEN_PIN_WRONG_BASE + 5;
    k->pin = newPassword;
    return 0;
}

TOKEN_RESULT __stdcall CSP_Reset(TOKEN_KEY key) {
    Log("CSP_Reset", key);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_Reset", k)) return r;
    if (!k) return kError;
    if (k->status == 4) k->status = 2;
    return 0;
}

TOKEN_RESULT __stdcall CSP_ContainerCount(TOKEN_KEY key, uint32_t* count) {
    Log("CSP_ContainerCount", key);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_ContainerCount", k)) return r;
    if (!k || !count) return kError;
    *count = (uint32_t)k->containers.size();
    return 0;
}

TOKEN_RESULT __stdcall CSP_ContainerInfo(TOKEN_KEY key, uint32_t index, uint32_t* flags,
                                         uint32_t nameCapacity, char* name) {
    Log("CSP_ContainerInfo", key, nullptr, index, nameCapacity);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_ContainerInfo", k)) return r;
    if (!k || !flags || !name || index >= k->containers.size()) return kError;
    const FakeContainer& c = k->containers[index];
    if (c.name.size() + 1 > nameCapacity) return kError;
    memcpy(name, c.name.c_str(), c.name.size() + 1);
    *flags = c.flags;
    return 0;
}

TOKEN_RESULT __stdcall CSP_ReadCertByName(TOKEN_KEY key, char* containerName, uint32_t keySpec,
                                          uint32_t* length, BYTE* cert) {
    Log("CSP_ReadCertByName", key, containerName, keySpec, length ? *length : 0);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_ReadCertByName", k)) return r;
    FakeContainer* c = FindContainer(k, containerName);
    if (!c || !length || !cert || (keySpec != 1 && keySpec != 2)) return kError;
    const std::vector<BYTE>& der = c->cert[keySpec - 1];
    if (der.empty() || der.size() > *length) return kError;
    memcpy(cert, der.data(), der.size());
    *length = g_fake.certLengthReported ? g_fake.certLengthReported : (uint32_t)der.size();
    return 0;
}

TOKEN_RESULT __stdcall CSP_DeleteContainerByName(TOKEN_KEY key, char* containerName) {
    Log("CSP_DeleteContainerByName", key, containerName);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_DeleteContainerByName", k)) return r;
    if (!k || !containerName) return kError;
    for (auto it = k->containers.begin(); it != k->containers.end(); ++it)
        if (it->name == containerName) {
            k->containers.erase(it);
            return 0;
        }
    return kError;
}

TOKEN_RESULT __stdcall CSP_ImportPfxCert(HWND owner, TOKEN_KEY key, char* password,
                                         CRYPT_DATA_BLOB* pfx) {
    (void)owner;
    Log("CSP_ImportPfxCert", key, password, pfx ? pfx->cbData : 0);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_ImportPfxCert", k)) return r;
    if (!k || !password || !pfx || !pfx->pbData) return kError;
    FakeContainer c;
    c.name = "imported-" + std::to_string(k->containers.size());
    c.flags = TOKEN_CF_SPEC1_CERT | TOKEN_CF_SPEC1_KEY;
    c.cert[0] = ReadFixture("zhangsan.der");
    k->containers.push_back(c);
    return 0;
}

TOKEN_RESULT __stdcall CSP_AddCertToIE(BYTE* cert, uint32_t length, uint32_t keySpec,
                                       char* containerName) {
    Log("CSP_AddCertToIE", 0, containerName, keySpec, length);
    if (TOKEN_RESULT r = Forced("CSP_AddCertToIE", nullptr)) return r;
    if (!cert || !containerName) return kError;
    g_fake.addedToIE.push_back(containerName);
    return g_fake.addToIEResult;
}

TOKEN_RESULT __stdcall CSP_LoadCertToIE(TOKEN_KEY key, uint32_t what) {
    Log("CSP_LoadCertToIE", key, nullptr, what);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_LoadCertToIE", k)) return r;
    if (!k) return kError;
    g_fake.loadedToIE.push_back(key);
    return 0;
}

TOKEN_RESULT __stdcall CSP_UnloadIECert(void) {
    Log("CSP_UnloadIECert", 0);
    if (TOKEN_RESULT r = Forced("CSP_UnloadIECert", nullptr)) return r;
    g_fake.loadedToIE.clear();
    return 0;
}

TOKEN_RESULT __stdcall CSP_FileAllID(TOKEN_KEY key, uint16_t* count, uint16_t* ids) {
    Log("CSP_FileAllID", key);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_FileAllID", k)) return r;
    if (!k || !count || !ids) return kError;
    *count = (uint16_t)k->files.size();
    uint32_t i = 0;
    for (const auto& f : k->files) {
        if (i >= TOKEN_MAX_FILE_IDS) break;
        ids[i++] = f.first;
    }
    return 0;
}

TOKEN_RESULT __stdcall CSP_FileCreate(TOKEN_KEY key, uint32_t kind, char* name, uint32_t reserved,
                                      uint32_t size, uint32_t* fileId) {
    (void)reserved;
    Log("CSP_FileCreate", key, name, fileId ? *fileId : 0, size);
    g_fake.calls.back().text += "|" + std::to_string(kind);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_FileCreate", k)) return r;
    if (!k || !fileId || !name || k->files.count((uint16_t)*fileId)) return kError;
    k->files[(uint16_t)*fileId] = std::vector<BYTE>(size, 0);
    return 0;
}

TOKEN_RESULT __stdcall CSP_FileRead(TOKEN_KEY key, uint32_t fileId, uint32_t offset,
                                    uint32_t length, BYTE* buffer) {
    Log("CSP_FileRead", key, nullptr, fileId, length);
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_FileRead", k)) return r;
    if (!k || !buffer || !k->files.count((uint16_t)fileId)) return kError;
    const std::vector<BYTE>& f = k->files[(uint16_t)fileId];
    if (offset > f.size() || length > f.size() - offset) return kError;
    memcpy(buffer, f.data() + offset, length);
    return 0;
}

TOKEN_RESULT __stdcall CSP_FileWrite(TOKEN_KEY key, uint32_t fileId, uint32_t offset,
                                     uint32_t length, BYTE* buffer) {
    Log("CSP_FileWrite", key, nullptr, fileId, length);
    if (buffer) g_fake.calls.back().text.assign((const char*)buffer, length);   // the bytes written
    FakeKey* k = g_fake.Find(key);
    if (TOKEN_RESULT r = Forced("CSP_FileWrite", k)) return r;
    if (!k || !buffer || !k->files.count((uint16_t)fileId)) return kError;
    std::vector<BYTE>& f = k->files[(uint16_t)fileId];
    if (offset > f.size() || length > f.size() - offset) return kError;
    memcpy(f.data() + offset, buffer, length);
    return 0;
}

uint32_t __cdecl TokenWindowMarker(uint32_t zero1, uint32_t zero2) {
    Log("TokenWindowMarker", 0, nullptr, zero1, zero2);
    return g_fake.marker;
}

}  // extern "C"

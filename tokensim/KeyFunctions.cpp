// Exports of the stand-in: keys, labels, passwords and containers, and the
// ordinal-1 window marker. A call that only reads loads what it needs under
// the read lock; a call that changes a key takes the store's mutex, loads the
// key again and saves it whole.
#include "tokensim/Library.h"

#include <string.h>

using namespace tokensim;

HINSTANCE tokensim::g_module = nullptr;

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

size_t tokensim::BoundedLength(const char* text, size_t limit) {
    size_t n = 0;
    while (n <= limit && text[n]) ++n;
    return n;
}

// A right password on a key whose user is verified with every try left.
static bool PasswordChangesNothing(const CKey& key, const char* password) {
    size_t n = BoundedLength(password, TOKEN_PIN_MAX);
    return key.verified && key.tries == key.maxTries && n == key.pin.size() &&
           memcmp(password, key.pin.data(), n) == 0;
}

TOKEN_RESULT tokensim::CheckPassword(CKey& key, const char* password) {
    if (key.tries == 0) return TOKEN_PIN_LOCKED;
    size_t n = BoundedLength(password, TOKEN_PIN_MAX);
    bool right = n <= TOKEN_PIN_MAX && n == key.pin.size() && memcmp(password, key.pin.data(), n) == 0;
    if (right) {
        if (key.verified && key.tries == key.maxTries) return 0;   // nothing to write
        key.tries = key.maxTries;
        key.verified = true;
    } else {
        --key.tries;
        key.verified = false;
    }
    TOKEN_RESULT r = SaveKey(key);
    if (r != 0) return r;
    return right ? 0 : TOKEN_PIN_WRONG_BASE + key.tries;
}

#define TS_FAULT_POINT()                        \
    do {                                        \
        TOKEN_RESULT injected_ = 0;             \
        if (FaultFail(&injected_)) return injected_; \
    } while (0)

#define TS_LOCK()                               \
    CStoreLock lock_;                           \
    if (!lock_.Ok()) return TS_E_STORE

#define TS_READ_LOCK()                          \
    CStoreLock lock_(false);                    \
    if (!lock_.Ok()) return TS_E_STORE

extern "C" {

TOKEN_RESULT __stdcall CSP_GetSlotList(TOKEN_KEY* keys, uint32_t* count) {
    TS_FAULT_POINT();
    if (!count) return TS_E_INVALID_PARAMETER;
    if (FaultHostile()) {   // more keys than any list has room for
        if (keys)
            for (uint32_t i = 0; i < TOKEN_MAX_KEYS; ++i) keys[i] = FaultRandom();
        *count = TOKEN_MAX_KEYS + 1 + FaultRandom() % 100000;
        return 0;
    }
    TS_READ_LOCK();
    CIndex index;
    TOKEN_RESULT r = LoadIndex(index);
    if (r != 0) return r;
    uint32_t n = 0;
    for (const CIndexEntry& e : index.keys) {
        if (!e.inserted) continue;
        if (n == TOKEN_MAX_KEYS) break;   // never more than the list's room
        if (keys) keys[n] = e.id;
        ++n;
    }
    *count = n;
    return 0;
}

TOKEN_RESULT __stdcall CSP_GetSlotStatus(TOKEN_KEY key, uint32_t* status) {
    TS_FAULT_POINT();
    if (!status) return TS_E_INVALID_PARAMETER;
    if (FaultHostile()) {
        *status = FaultRandom();
        return 0;
    }
    TS_READ_LOCK();
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    *status = k.ReportedStatus();
    return 0;
}

TOKEN_RESULT __stdcall CSP_GetUsbKeyLabel(TOKEN_KEY key, char* label) {
    TS_FAULT_POINT();
    if (!label) return TS_E_INVALID_PARAMETER;
    if (FaultHostile()) {   // the whole buffer, unterminated
        FaultFill(label, TOKEN_LABEL_BUFFER);
        return 0;
    }
    TS_READ_LOCK();
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    lstrcpynA(label, k.label.c_str(), TOKEN_LABEL_BUFFER);
    return 0;
}

TOKEN_RESULT __stdcall CSP_SetUsbKeyLabel(TOKEN_KEY key, char* label) {
    TS_FAULT_POINT();
    if (!label) return TS_E_INVALID_PARAMETER;
    size_t n = BoundedLength(label, TOKEN_LABEL_MAX);
    if (n == 0 || n > TOKEN_LABEL_MAX) return TS_E_INVALID_PARAMETER;
    TS_LOCK();
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    if (!k.verified) return TS_E_NOT_VERIFIED;
    k.label.assign(label, n);
    return SaveKey(k);
}

TOKEN_RESULT __stdcall CSP_VerifyPassword(TOKEN_KEY key, uint32_t userType, char* password) {
    TS_FAULT_POINT();
    if (userType != TOKEN_USER) return TS_E_INVALID_PARAMETER;
    uint32_t triesLeft = 0;
    {
        TS_READ_LOCK();
        CKey k;
        TOKEN_RESULT r = LoadInsertedKey(key, k);
        if (r != 0) return r;
        if (k.tries == 0) return TOKEN_PIN_LOCKED;
        if (password && PasswordChangesNothing(k, password)) return 0;
        triesLeft = k.tries;
    }
    if (password) {
        TS_LOCK();
        CKey k;
        TOKEN_RESULT r = LoadInsertedKey(key, k);
        return r != 0 ? r : CheckPassword(k, password);
    }
    // The prompt runs without the lock: other processes go on meanwhile.
    char typed[TOKEN_PIN_MAX + 1];
    TOKEN_RESULT r = AskPassword(triesLeft, typed, sizeof(typed));
    if (r == 0) {
        TS_LOCK();
        CKey k;
        r = LoadInsertedKey(key, k);   // the key may have gone while the prompt was up
        if (r == 0) r = CheckPassword(k, typed);
    }
    SecureZeroMemory(typed, sizeof(typed));
    return r;
}

TOKEN_RESULT __stdcall CSP_ChangePassword(TOKEN_KEY key, uint32_t userType, char* oldPassword,
                                          char* newPassword) {
    TS_FAULT_POINT();
    if (userType != TOKEN_USER || !oldPassword || !newPassword) return TS_E_INVALID_PARAMETER;
    TS_LOCK();
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    if (k.tries == 0) return TOKEN_PIN_LOCKED;
    size_t n = BoundedLength(newPassword, TOKEN_PIN_MAX);
    if (n < TS_PIN_MIN || n > TOKEN_PIN_MAX) return TS_E_PASSWORD_FORMAT;
    r = CheckPassword(k, oldPassword);
    if (r != 0) return r;
    k.pin.assign(newPassword, n);
    return SaveKey(k);
}

TOKEN_RESULT __stdcall CSP_Reset(TOKEN_KEY key) {
    TS_FAULT_POINT();
    {
        TS_READ_LOCK();
        CKey k;
        TOKEN_RESULT r = LoadInsertedKey(key, k);
        if (r != 0 || !k.verified) return r;
    }
    TS_LOCK();
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    if (!k.verified) return 0;
    k.verified = false;
    return SaveKey(k);
}

TOKEN_RESULT __stdcall CSP_ContainerCount(TOKEN_KEY key, uint32_t* count) {
    TS_FAULT_POINT();
    if (!count) return TS_E_INVALID_PARAMETER;
    if (FaultHostile()) {
        *count = (FaultRandom() & 1) ? 0xFFFFFFFFu : 7 + FaultRandom() % 1000;
        return 0;
    }
    TS_READ_LOCK();
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    *count = static_cast<uint32_t>(k.containers.size());
    return 0;
}

TOKEN_RESULT __stdcall CSP_ContainerInfo(TOKEN_KEY key, uint32_t index, uint32_t* flags,
                                         uint32_t nameCapacity, char* name) {
    TS_FAULT_POINT();
    if (!flags || !name || nameCapacity == 0) return TS_E_INVALID_PARAMETER;
    if (FaultHostile()) {   // the whole capacity, unterminated
        *flags = FaultRandom();
        FaultFill(name, nameCapacity);
        return 0;
    }
    TS_READ_LOCK();
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    if (index >= k.containers.size()) return TS_E_NOT_FOUND;
    const CContainer& c = k.containers[index];
    if (c.name.size() + 1 > nameCapacity) return TS_E_BUFFER_TOO_SMALL;
    memcpy(name, c.name.c_str(), c.name.size() + 1);
    *flags = c.flags;
    return 0;
}

TOKEN_RESULT __stdcall CSP_ReadCertByName(TOKEN_KEY key, char* containerName, uint32_t keySpec,
                                          uint32_t* length, BYTE* cert) {
    TS_FAULT_POINT();
    if (!containerName || !length || (keySpec != TOKEN_SPEC_EXCHANGE &&
                                      keySpec != TOKEN_SPEC_SIGNATURE))
        return TS_E_INVALID_PARAMETER;
    if (BoundedLength(containerName, TS_CONTAINER_NAME_MAX) > TS_CONTAINER_NAME_MAX)
        return TS_E_NOT_FOUND;
    if (FaultHostile()) {   // garbage up to the given room, and a length beyond it
        if (cert) FaultFill(cert, *length < TOKEN_CERT_MAX ? *length : TOKEN_CERT_MAX);
        *length = *length + 1 + FaultRandom() % 0x7FFFFFFF;
        return 0;
    }
    TS_READ_LOCK();
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    const CContainer* c = k.FindContainer(containerName);
    if (!c || c->cert[keySpec - 1].empty()) return TS_E_NOT_FOUND;
    const std::string& der = c->cert[keySpec - 1];
    uint32_t room = *length;
    *length = static_cast<uint32_t>(der.size());
    if (!cert) return 0;   // size query
    if (room < der.size()) return TS_E_BUFFER_TOO_SMALL;
    memcpy(cert, der.data(), der.size());
    return 0;
}

TOKEN_RESULT __stdcall CSP_DeleteContainerByName(TOKEN_KEY key, char* containerName) {
    TS_FAULT_POINT();
    if (!containerName) return TS_E_INVALID_PARAMETER;
    if (BoundedLength(containerName, TS_CONTAINER_NAME_MAX) > TS_CONTAINER_NAME_MAX)
        return TS_E_NOT_FOUND;
    TS_LOCK();
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    for (size_t i = 0; i < k.containers.size(); ++i) {
        if (k.containers[i].name != containerName) continue;
        if (!k.verified) return TS_E_NOT_VERIFIED;
        k.containers.erase(k.containers.begin() + static_cast<ptrdiff_t>(i));
        return SaveKey(k);
    }
    return TS_E_NOT_FOUND;
}

uint32_t __cdecl TokenWindowMarker(uint32_t, uint32_t) {
    return TS_MARKER;
}

}  // extern "C"

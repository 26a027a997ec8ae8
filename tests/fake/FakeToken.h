// In-process test double of the token library: the CSP_* functions and the
// window marker, linked in place of the import library. Tests arrange keys in
// g_fake, force results, and read back the calls that were made.
#pragma once
#include "token/token.h"
#include <functional>
#include <map>
#include <string>
#include <vector>

struct FakeContainer {
    std::string name;
    uint32_t flags = 0;
    std::vector<BYTE> cert[2];   // [0] exchange (key specification 1), [1] signature (2)
};

struct FakeKey {
    TOKEN_KEY handle = 0;
    std::string label;
    uint32_t status = 2;
    std::string pin = "123456";
    std::vector<FakeContainer> containers;
    std::map<uint16_t, std::vector<BYTE>> files;   // id -> content (fixed size)
    // Forced results for calls on this key, by function name ("CSP_GetUsbKeyLabel").
    std::map<std::string, TOKEN_RESULT> fail;
};

struct FakeCall {
    std::string fn;        // "CSP_ReadCertByName"
    TOKEN_KEY key = 0;
    std::string text;      // name, label, password argument ("" when none or null)
    uint32_t a = 0, b = 0; // numeric arguments: index/spec/id/user type, offset/length
};

struct FakeToken {
    std::vector<FakeKey> keys;           // in slot-list order
    std::vector<FakeCall> calls;
    // Forced results for every call of a function, by name; the call then
    // changes nothing and writes no out-values.
    std::map<std::string, TOKEN_RESULT> fail;
    uint32_t slotCountOverride = 0xFFFFFFFFu;   // reported count instead of keys.size()
    // Counts reported by the next CSP_GetSlotList calls, one each, before
    // the override and keys.size() apply again (a key that comes and goes).
    std::vector<uint32_t> slotCountSequence;
    TOKEN_RESULT verifyResult = 0;        // CSP_VerifyPassword with a null password
    // Run by CSP_VerifyPassword with a null password while the library's own
    // prompt would be up; what it posts is then dispatched, as the prompt's
    // message loop would. The key is looked up again afterwards.
    std::function<void()> prompt;
    uint32_t marker = 0x5152564Cu;
    std::vector<TOKEN_KEY> loadedToIE;    // keys passed to CSP_LoadCertToIE since the last unload
    std::vector<std::string> addedToIE;   // container names passed to CSP_AddCertToIE
    TOKEN_RESULT addToIEResult = 0;
    // When non-zero, CSP_ReadCertByName reports this length after a good
    // read, whatever it wrote (a library that overstates the size).
    uint32_t certLengthReported = 0;

    void Reset() { *this = FakeToken(); }
    FakeKey& AddKey(TOKEN_KEY handle, const char* label, uint32_t status = 2);
    // Keys 1..count labelled "KEY1".., each with containers "C0".. that hold
    // the same exchange certificate (the benchmarks' load).
    void AddKeysWithCertificates(int count, int containers, const char* fixture);
    FakeKey* Find(TOKEN_KEY handle);
    int Count(const char* fn) const;                 // calls of fn
    bool Called(const char* fn) const { return Count(fn) > 0; }
    std::vector<std::string> Names() const;          // the functions called, in order
};

extern FakeToken g_fake;

// Reads a fixture of tests/data (e.g. "zhangsan.der"); empty when missing.
std::vector<BYTE> ReadFixture(const char* name);
// The Windows path of a fixture, for code that opens files itself.
std::string FixturePath(const char* name);

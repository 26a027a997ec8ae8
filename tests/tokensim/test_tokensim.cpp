// The stand-in token library through the declarations of token/token.h,
// imported the way the tool imports it, and the tokensim command-line tool.
#include "tests/tokensim/TokensimTestSupport.h"

#include <gtest/gtest.h>
#include <dbt.h>
#include <stdio.h>
#include <string.h>

using namespace tstest;

namespace {

const uint32_t kWebFileId = 0xEF11;

class TokensimTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnvironmentVariableA("TOKENSIM_PIN", nullptr);
        SetEnvironmentVariableA("TOKENSIM_FAULTS", nullptr);
        m_store = NewStore("t");
    }
    void TearDown() override {
        SetEnvironmentVariableA("TOKENSIM_PIN", nullptr);
        SetEnvironmentVariableA("TOKENSIM_FAULTS", nullptr);
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((m_store + "\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do DeleteFileA((m_store + "\\" + fd.cFileName).c_str());
            while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryA(m_store.c_str());
    }
    TOKEN_KEY Key(const char* name = "k", int containers = 0, uint32_t tries = 6) {
        CKeySpec s;
        s.name = name;
        s.containers = containers;
        s.tries = tries;
        return MakeKey(s);
    }
    uint32_t Status(TOKEN_KEY key) {
        uint32_t status = 0xDEAD;
        EXPECT_EQ(0u, CSP_GetSlotStatus(key, &status));
        return status;
    }
    void Verify(TOKEN_KEY key) {
        char pin[] = "123456";
        ASSERT_EQ(0u, CSP_VerifyPassword(key, TOKEN_USER, pin));
    }
    std::string m_store;
};

// ---------------------------------------------------------------- exports

TEST_F(TokensimTest, ExportsTheNamesUndecoratedAndTheMarkerByOrdinalOnly) {
    HMODULE dll = GetModuleHandleA("MorvaneFun_qrvl.dll");
    ASSERT_NE(nullptr, dll);
    for (const char* name : {"CSP_GetSlotList", "CSP_GetSlotStatus", "CSP_GetUsbKeyLabel",
                             "CSP_SetUsbKeyLabel", "CSP_VerifyPassword", "CSP_ChangePassword",
                             "CSP_Reset", "CSP_ContainerCount", "CSP_ContainerInfo",
                             "CSP_ReadCertByName", "CSP_DeleteContainerByName",
                             "CSP_ImportPfxCert", "CSP_AddCertToIE", "CSP_LoadCertToIE",
                             "CSP_UnloadIECert", "CSP_FileAllID", "CSP_FileCreate",
                             "CSP_FileRead", "CSP_FileWrite"})
        EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(dll, name))) << name;
    EXPECT_EQ(nullptr, reinterpret_cast<void*>(GetProcAddress(dll, "TokenWindowMarker")));
    typedef uint32_t(__cdecl * Marker)(uint32_t, uint32_t);
    Marker marker = reinterpret_cast<Marker>(reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(1))));
    ASSERT_NE(nullptr, marker);
    EXPECT_EQ(TokenWindowMarker(0, 0), marker(0, 0));
    EXPECT_NE(0u, marker(0, 0));
}

TEST_F(TokensimTest, MarkerIsTheSameInAnotherProcess) {
    std::string out;
    ASSERT_EQ(0u, RunBin("test_tokensim.exe", L"--print-marker", &out, nullptr));
    char mine[16];
    snprintf(mine, sizeof(mine), "%08lx", static_cast<unsigned long>(TokenWindowMarker(0, 0)));
    EXPECT_EQ(mine, out.substr(0, 8));
}

// ---------------------------------------------------------------- keys

TEST_F(TokensimTest, SlotListHasTheInsertedKeysInOrderAndCountsWithoutAList) {
    uint32_t count = 99;
    EXPECT_EQ(0u, CSP_GetSlotList(nullptr, &count));
    EXPECT_EQ(0u, count);
    TOKEN_KEY a = Key("a");
    CKeySpec s;
    s.name = "out";
    s.inserted = false;
    TOKEN_KEY out = MakeKey(s);
    TOKEN_KEY b = Key("b");
    ASSERT_TRUE(a && b && out);
    EXPECT_NE(a, b);
    TOKEN_KEY list[TOKEN_MAX_KEYS] = {};
    ASSERT_EQ(0u, CSP_GetSlotList(list, &count));
    ASSERT_EQ(2u, count);
    EXPECT_EQ(a, list[0]);
    EXPECT_EQ(b, list[1]);
    EXPECT_EQ(0u, list[2]);
    EXPECT_EQ(0u, CSP_GetSlotList(nullptr, &count));
    EXPECT_EQ(2u, count);

    uint32_t status = 0;
    EXPECT_EQ(TS_E_KEY_REMOVED, CSP_GetSlotStatus(out, &status));
    EXPECT_EQ(TS_E_INVALID_HANDLE, CSP_GetSlotStatus(0, &status));
    EXPECT_EQ(TS_E_INVALID_HANDLE, CSP_GetSlotStatus(0x7777, &status));
}

TEST_F(TokensimTest, LabelsUpToFifteenBytesAfterVerification) {
    TOKEN_KEY key = Key();
    char label[TOKEN_LABEL_BUFFER];
    memset(label, 'x', sizeof(label));
    ASSERT_EQ(0u, CSP_GetUsbKeyLabel(key, label));
    EXPECT_STREQ("label", label);

    char fifteen[] = "工商银行网银盾A";   // 7 double-byte characters and one byte: 15 bytes
    ASSERT_EQ(15u, strlen(fifteen));
    EXPECT_EQ(TS_E_NOT_VERIFIED, CSP_SetUsbKeyLabel(key, fifteen));
    Verify(key);
    ASSERT_EQ(0u, CSP_SetUsbKeyLabel(key, fifteen));
    ASSERT_EQ(0u, CSP_GetUsbKeyLabel(key, label));
    EXPECT_STREQ(fifteen, label);

    char sixteen[] = "0123456789abcdef";
    char empty[] = "";
    EXPECT_EQ(TS_E_INVALID_PARAMETER, CSP_SetUsbKeyLabel(key, sixteen));
    EXPECT_EQ(TS_E_INVALID_PARAMETER, CSP_SetUsbKeyLabel(key, empty));
    ASSERT_EQ(0u, CSP_GetUsbKeyLabel(key, label));
    EXPECT_STREQ(fifteen, label);
}

TEST_F(TokensimTest, StatusIsFourWhileVerifiedUntilReset) {
    TOKEN_KEY key = Key();
    EXPECT_EQ(2u, Status(key));
    Verify(key);
    EXPECT_EQ(4u, Status(key));
    EXPECT_EQ(0u, CSP_Reset(key));
    EXPECT_EQ(2u, Status(key));
    CKeySpec s;
    s.name = "blank";
    s.status = 1;
    EXPECT_EQ(1u, Status(MakeKey(s)));
    EXPECT_EQ(TS_E_INVALID_HANDLE, CSP_Reset(0x5555));
}

TEST_F(TokensimTest, WrongPasswordsCountDownAndLock) {
    TOKEN_KEY key = Key("k", 0, 3);
    char wrong[] = "654321", right[] = "123456", tooLong[] = "12345612345612345";
    struct {
        char* pin;
        TOKEN_RESULT expected;
    } steps[] = {
        {wrong, 0x63C2}, {right, 0},          // a right password gives every try back
        {wrong, 0x63C2}, {tooLong, 0x63C1}, {wrong, 0x63C0},
        {right, TOKEN_PIN_LOCKED}, {wrong, TOKEN_PIN_LOCKED},
    };
    for (size_t i = 0; i < sizeof(steps) / sizeof(steps[0]); ++i)
        EXPECT_EQ(steps[i].expected, CSP_VerifyPassword(key, TOKEN_USER, steps[i].pin)) << "step " << i;
    EXPECT_EQ(TOKEN_PIN_LOCKED, CSP_ChangePassword(key, TOKEN_USER, right, right));
    EXPECT_EQ(TS_E_INVALID_PARAMETER, CSP_VerifyPassword(key, 2, right));
}

TEST_F(TokensimTest, ChangePasswordChecksTheOldAndTheNewLength) {
    TOKEN_KEY key = Key("k", 0, 5);
    char oldPin[] = "123456", wrong[] = "000000", newPin[] = "a1b2c3d4e5f6g7h8";
    char shortPin[] = "12345", longPin[] = "a1b2c3d4e5f6g7h8i";
    EXPECT_EQ(TS_E_PASSWORD_FORMAT, CSP_ChangePassword(key, TOKEN_USER, oldPin, shortPin));
    EXPECT_EQ(TS_E_PASSWORD_FORMAT, CSP_ChangePassword(key, TOKEN_USER, oldPin, longPin));
    EXPECT_EQ(0x63C4u, CSP_ChangePassword(key, TOKEN_USER, wrong, newPin));   // only this one counts
    ASSERT_EQ(0u, CSP_ChangePassword(key, TOKEN_USER, oldPin, newPin));
    EXPECT_EQ(0x63C4u, CSP_VerifyPassword(key, TOKEN_USER, oldPin));
    EXPECT_EQ(0u, CSP_VerifyPassword(key, TOKEN_USER, newPin));
}

// ---------------------------------------------------------------- password prompt

struct CPromptAnswer {
    const char* typed;   // nullptr: press Cancel
    HWND dialog = nullptr, owner = nullptr;
    bool ownerEnabled = true;
    std::string title, tries;
};
CPromptAnswer* g_answer = nullptr;

void CALLBACK AnswerPrompt(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dlg = FindWindowA("#32770", "USBKEY用户密码");
    DWORD pid = 0;
    if (!dlg || !GetWindowThreadProcessId(dlg, &pid) || pid != GetCurrentProcessId()) return;
    KillTimer(nullptr, id);
    char text[128];
    g_answer->dialog = dlg;
    g_answer->owner = GetWindow(dlg, GW_OWNER);
    g_answer->ownerEnabled = g_answer->owner && IsWindowEnabled(g_answer->owner);
    GetWindowTextA(dlg, text, sizeof(text));
    g_answer->title = text;
    GetDlgItemTextA(dlg, 101, text, sizeof(text));
    g_answer->tries = text;
    if (g_answer->typed) SetDlgItemTextA(dlg, 102, g_answer->typed);
    PostMessageA(dlg, WM_COMMAND, g_answer->typed ? IDOK : IDCANCEL, 0);
}

TEST_F(TokensimTest, PromptIsOwnedByTheActiveWindowAndShowsTheTriesLeft) {
    TOKEN_KEY key = Key("k", 0, 5);
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                                 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, owner);
    SetActiveWindow(owner);
    struct {
        const char* typed;
        TOKEN_RESULT expected;
        const char* triesText;
    } cases[] = {
        {nullptr, TOKEN_PIN_NO_VERDICT, "剩余尝试次数：5"},   // Cancel costs no try
        {"999999", 0x63C4, "剩余尝试次数：5"},
        {"123456", 0, "剩余尝试次数：4"},
    };
    for (auto& c : cases) {
        CPromptAnswer answer;
        answer.typed = c.typed;
        g_answer = &answer;
        SetTimer(nullptr, 0, 50, AnswerPrompt);
        EXPECT_EQ(c.expected, CSP_VerifyPassword(key, TOKEN_USER, nullptr));
        ASSERT_NE(nullptr, answer.dialog);
        EXPECT_EQ(owner, answer.owner);
        EXPECT_FALSE(answer.ownerEnabled);   // modal: the owner waits
        EXPECT_TRUE(IsWindowEnabled(owner));
        EXPECT_EQ("USBKEY用户密码", answer.title);
        EXPECT_EQ(c.triesText, answer.tries);
        EXPECT_FALSE(IsWindow(answer.dialog));
    }
    g_answer = nullptr;
    DestroyWindow(owner);
}

TEST_F(TokensimTest, PinVariableAnswersThePromptUnattended) {
    TOKEN_KEY key = Key("k", 0, 4);
    SetEnvironmentVariableA("TOKENSIM_PIN", ":cancel");
    EXPECT_EQ(TOKEN_PIN_NO_VERDICT, CSP_VerifyPassword(key, TOKEN_USER, nullptr));
    SetEnvironmentVariableA("TOKENSIM_PIN", "111111");
    EXPECT_EQ(0x63C3u, CSP_VerifyPassword(key, TOKEN_USER, nullptr));
    SetEnvironmentVariableA("TOKENSIM_PIN", "123456");
    EXPECT_EQ(0u, CSP_VerifyPassword(key, TOKEN_USER, nullptr));
    EXPECT_EQ(4u, Status(key));
}

// ---------------------------------------------------------------- containers

TEST_F(TokensimTest, ContainersWithNamesFlagsAndCapacities) {
    TOKEN_KEY key = Key("k", 3);
    uint32_t count = 0, flags = 0;
    ASSERT_EQ(0u, CSP_ContainerCount(key, &count));
    EXPECT_EQ(3u, count);
    char name[TOKEN_CONTAINER_NAME_CAP];
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(0u, CSP_ContainerInfo(key, i, &flags, sizeof(name), name));
        EXPECT_EQ("C" + std::to_string(i), name);
        EXPECT_EQ(0x05u, flags);
    }
    EXPECT_EQ(TS_E_NOT_FOUND, CSP_ContainerInfo(key, 3, &flags, sizeof(name), name));
    memset(name, 'x', sizeof(name));
    EXPECT_EQ(TS_E_BUFFER_TOO_SMALL, CSP_ContainerInfo(key, 0, &flags, 2, name));
    EXPECT_EQ('x', name[0]);
    EXPECT_EQ(0u, CSP_ContainerInfo(key, 0, &flags, 3, name));   // "C0" and its zero
    EXPECT_STREQ("C0", name);
}

TEST_F(TokensimTest, ReadCertChecksTheGivenLength) {
    TOKEN_KEY key = Key("k", 1);
    std::string der = ReadBytes(DataFile("zhangsan.der"));
    ASSERT_FALSE(der.empty());
    std::vector<BYTE> cert(TOKEN_CERT_MAX);
    char c0[] = "C0", none[] = "nope";
    uint32_t length = TOKEN_CERT_MAX;
    ASSERT_EQ(0u, CSP_ReadCertByName(key, c0, 1, &length, cert.data()));
    ASSERT_EQ(der.size(), length);
    EXPECT_EQ(0, memcmp(der.data(), cert.data(), length));

    length = static_cast<uint32_t>(der.size()) - 1;   // one byte short: nothing written
    cert[0] = 0;
    EXPECT_EQ(TS_E_BUFFER_TOO_SMALL, CSP_ReadCertByName(key, c0, 1, &length, cert.data()));
    EXPECT_EQ(der.size(), length);
    EXPECT_EQ(0, cert[0]);
    length = 0;
    EXPECT_EQ(0u, CSP_ReadCertByName(key, c0, 1, &length, nullptr));   // size query
    EXPECT_EQ(der.size(), length);

    length = TOKEN_CERT_MAX;
    EXPECT_EQ(TS_E_NOT_FOUND, CSP_ReadCertByName(key, c0, 2, &length, cert.data()));
    EXPECT_EQ(TS_E_NOT_FOUND, CSP_ReadCertByName(key, none, 1, &length, cert.data()));
    EXPECT_EQ(TS_E_INVALID_PARAMETER, CSP_ReadCertByName(key, c0, 3, &length, cert.data()));
}

TEST_F(TokensimTest, DeleteContainerNeedsTheVerifiedUser) {
    TOKEN_KEY key = Key("k", 2);
    char c0[] = "C0";
    EXPECT_EQ(TS_E_NOT_VERIFIED, CSP_DeleteContainerByName(key, c0));
    Verify(key);
    ASSERT_EQ(0u, CSP_DeleteContainerByName(key, c0));
    EXPECT_EQ(TS_E_NOT_FOUND, CSP_DeleteContainerByName(key, c0));
    uint32_t count = 0, flags = 0;
    char name[TOKEN_CONTAINER_NAME_CAP];
    ASSERT_EQ(0u, CSP_ContainerCount(key, &count));
    EXPECT_EQ(1u, count);
    ASSERT_EQ(0u, CSP_ContainerInfo(key, 0, &flags, sizeof(name), name));
    EXPECT_STREQ("C1", name);
}

// ---------------------------------------------------------------- files

TEST_F(TokensimTest, FilesWithIdsFixedSizesAndBoundsChecks) {
    TOKEN_KEY key = Key();
    uint16_t count = 99, ids[TOKEN_MAX_FILE_IDS] = {};
    ASSERT_EQ(0u, CSP_FileAllID(key, &count, ids));
    EXPECT_EQ(0u, count);
    char name[] = "WEBFILE";
    uint32_t id = kWebFileId;
    ASSERT_EQ(0u, CSP_FileCreate(key, 7, name, 0, 260, &id));
    EXPECT_EQ(kWebFileId, id);
    EXPECT_EQ(TS_E_EXISTS, CSP_FileCreate(key, 7, name, 0, 260, &id));
    ASSERT_EQ(0u, CSP_FileAllID(key, &count, ids));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(kWebFileId, ids[0]);

    BYTE page[260];
    memset(page, 0x5A, sizeof(page));
    ASSERT_EQ(0u, CSP_FileRead(key, kWebFileId, 0, 260, page));
    EXPECT_EQ(0, page[0]);   // a new file is zero
    const char url[] = "https://bank.example/";
    BYTE record[260] = {};
    memcpy(record, url, sizeof(url));
    ASSERT_EQ(0u, CSP_FileWrite(key, kWebFileId, 0, 260, record));
    ASSERT_EQ(0u, CSP_FileRead(key, kWebFileId, 0, 260, page));
    EXPECT_STREQ(url, reinterpret_cast<char*>(page));

    struct {
        uint32_t offset, length;
        TOKEN_RESULT expected;
    } bounds[] = {
        {0, 260, 0}, {259, 1, 0}, {260, 0, 0}, {0, 261, TS_E_BAD_LENGTH}, {1, 260, TS_E_BAD_LENGTH},
        {261, 0, TS_E_BAD_LENGTH}, {0xFFFFFFFFu, 2, TS_E_BAD_LENGTH}, {2, 0xFFFFFFFFu, TS_E_BAD_LENGTH},
    };
    for (auto& b : bounds) {
        EXPECT_EQ(b.expected, CSP_FileRead(key, kWebFileId, b.offset, b.length, page)) << b.offset << "+" << b.length;
        EXPECT_EQ(b.expected, CSP_FileWrite(key, kWebFileId, b.offset, b.length, record)) << b.offset << "+" << b.length;
    }
    EXPECT_EQ(TS_E_NOT_FOUND, CSP_FileRead(key, 0x1234, 0, 1, page));
    EXPECT_EQ(TS_E_NOT_FOUND, CSP_FileWrite(key, 0x1234, 0, 1, page));
    uint32_t big = 0x10000;
    EXPECT_EQ(TS_E_INVALID_PARAMETER, CSP_FileCreate(key, 7, name, 0, 260, &big));
}

TEST_F(TokensimTest, FiftyFilesAtMost) {
    TOKEN_KEY key = Key();
    char name[] = "F";
    for (uint32_t i = 1; i <= TOKEN_MAX_FILE_IDS; ++i) {
        uint32_t id = 0;   // 0: the library picks a free id
        ASSERT_EQ(0u, CSP_FileCreate(key, 7, name, 0, 16, &id)) << i;
        EXPECT_NE(0u, id);
    }
    uint32_t id = 0x2222;
    EXPECT_EQ(TS_E_NO_ROOM, CSP_FileCreate(key, 7, name, 0, 16, &id));
    uint16_t count = 0, ids[TOKEN_MAX_FILE_IDS + 1] = {};
    ids[TOKEN_MAX_FILE_IDS] = 0xBEEF;
    ASSERT_EQ(0u, CSP_FileAllID(key, &count, ids));
    EXPECT_EQ(TOKEN_MAX_FILE_IDS, count);
    EXPECT_EQ(0xBEEF, ids[TOKEN_MAX_FILE_IDS]);
}

// ---------------------------------------------------------------- PKCS #12

TEST_F(TokensimTest, ImportPfxStoresTheCertificateInANewContainerOrChangesNothing) {
    TOKEN_KEY key = Key("k", 1);
    struct {
        const char* file;
        const char* password;
        bool ok;
    } cases[] = {
        {"zhangsan.p12", "000000", false},          // wrong password
        {"nokey.p12", "123456", false},              // no private key
        {"notpfx.p12", "123456", false},             // not PKCS #12
        {"zhangsan.der", "123456", false},
        {"zhangsan.p12", "123456", true},
        {"signing-legacy.pfx", "123456", true},
    };
    uint32_t expectedCount = 1;
    for (auto& c : cases) {
        std::string bytes = ReadBytes(DataFile(c.file));
        ASSERT_FALSE(bytes.empty()) << c.file;
        CRYPT_DATA_BLOB blob = {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(&bytes[0])};
        char password[32];
        lstrcpynA(password, c.password, sizeof(password));
        TOKEN_RESULT r = CSP_ImportPfxCert(nullptr, key, password, &blob);
        EXPECT_EQ(c.ok, r == 0) << c.file << " " << c.password << " -> " << std::hex << r;
        if (c.ok) ++expectedCount;
        uint32_t count = 0;
        ASSERT_EQ(0u, CSP_ContainerCount(key, &count));
        EXPECT_EQ(expectedCount, count) << c.file;
    }
    // The new container holds the file's certificate as its exchange certificate, with its key.
    std::string der = ReadBytes(DataFile("zhangsan.der"));
    char name[TOKEN_CONTAINER_NAME_CAP];
    uint32_t flags = 0, length = TOKEN_CERT_MAX;
    ASSERT_EQ(0u, CSP_ContainerInfo(key, 1, &flags, sizeof(name), name));
    EXPECT_EQ(0x05u, flags & 0x0F);
    std::vector<BYTE> cert(TOKEN_CERT_MAX);
    ASSERT_EQ(0u, CSP_ReadCertByName(key, name, 1, &length, cert.data()));
    EXPECT_EQ(der, std::string(reinterpret_cast<char*>(cert.data()), length));

    CRYPT_DATA_BLOB empty = {0, nullptr};
    char pw[] = "";
    EXPECT_NE(0u, CSP_ImportPfxCert(nullptr, key, pw, &empty));
    EXPECT_EQ(TS_E_INVALID_PARAMETER, CSP_ImportPfxCert(nullptr, key, pw, nullptr));
}

// ---------------------------------------------------------------- "MY" store

struct CMyEntry {
    bool present = false;
    bool hasProvider = false;
    std::wstring container, provider;
};

CMyEntry FindInMy(const std::string& der) {
    CMyEntry e;
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    if (!store) return e;
    PCCERT_CONTEXT want = CertCreateCertificateContext(X509_ASN_ENCODING,
        reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT c = want ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                         CERT_FIND_EXISTING, want, nullptr)
                            : nullptr;
    if (c) {
        e.present = true;
        DWORD size = 0;
        if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
            std::vector<BYTE> buffer(size);
            CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size);
            auto info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data());
            e.hasProvider = true;
            e.container = info->pwszContainerName ? info->pwszContainerName : L"";
            e.provider = info->pwszProvName ? info->pwszProvName : L"";
        }
        CertFreeCertificateContext(c);
    }
    if (want) CertFreeCertificateContext(want);
    CertCloseStore(store, 0);
    return e;
}

void PutForeign(const std::string& der, bool add) {
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING,
        reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    if (add) {
        CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    } else {
        PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, c, nullptr);
        if (found) CertDeleteCertificateFromStore(found);
    }
    CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertFreeCertificateContext(c);
    CertCloseStore(store, 0);
}

TEST_F(TokensimTest, StoreEntriesNameTheContainerAndUnloadRemovesOnlyOurs) {
    std::string mine = ReadBytes(DataFile("zhangsan.der"));
    std::string foreign = ReadBytes(DataFile("signing.der"));
    std::string other = ReadBytes(DataFile("longname.der"));
    CSP_UnloadIECert();
    PutForeign(foreign, true);
    ASSERT_TRUE(FindInMy(foreign).present);

    // AddCertToIE, twice for the same certificate: the second container wins.
    char first[] = "first", second[] = "second";
    ASSERT_EQ(0u, CSP_AddCertToIE(reinterpret_cast<BYTE*>(&mine[0]), static_cast<uint32_t>(mine.size()), 1, first));
    ASSERT_EQ(0u, CSP_AddCertToIE(reinterpret_cast<BYTE*>(&mine[0]), static_cast<uint32_t>(mine.size()), 1, second));
    CMyEntry e = FindInMy(mine);
    ASSERT_TRUE(e.present && e.hasProvider);
    EXPECT_EQ(L"second", e.container);
    // A certificate someone else registered stays as it was.
    ASSERT_EQ(0u, CSP_AddCertToIE(reinterpret_cast<BYTE*>(&foreign[0]), static_cast<uint32_t>(foreign.size()), 2, first));
    EXPECT_FALSE(FindInMy(foreign).hasProvider);

    // LoadCertToIE registers the key's certificates under their containers.
    CKeySpec s;
    s.containers = 0;
    TOKEN_KEY key = MakeKey(s);
    {
        tokensim::CStoreLock lock;
        tokensim::CKey k;
        ASSERT_EQ(0u, tokensim::LoadInsertedKey(key, k));
        tokensim::CContainer c;
        c.name = "LoadMe";
        c.flags = TOKEN_CF_SPEC2_CERT | TOKEN_CF_SPEC2_KEY;
        c.cert[1] = other;
        k.containers.push_back(c);
        ASSERT_EQ(0u, tokensim::SaveKey(k));
    }
    ASSERT_EQ(0u, CSP_LoadCertToIE(key, TOKEN_LOADCERT_ALL));
    e = FindInMy(other);
    ASSERT_TRUE(e.present && e.hasProvider);
    EXPECT_EQ(L"LoadMe", e.container);

    ASSERT_EQ(0u, CSP_UnloadIECert());
    EXPECT_FALSE(FindInMy(mine).present);
    EXPECT_FALSE(FindInMy(other).present);
    EXPECT_TRUE(FindInMy(foreign).present);
    PutForeign(foreign, false);

    char garbage[] = "not a certificate";
    EXPECT_EQ(TS_E_BAD_DATA, CSP_AddCertToIE(reinterpret_cast<BYTE*>(garbage), sizeof(garbage), 1, first));
    EXPECT_EQ(TS_E_INVALID_PARAMETER, CSP_AddCertToIE(reinterpret_cast<BYTE*>(garbage), 0, 1, first));
    EXPECT_EQ(TS_E_INVALID_PARAMETER, CSP_AddCertToIE(nullptr, 10, 1, first));
}

// ---------------------------------------------------------------- robustness

TEST_F(TokensimTest, NullPointersAndBadHandlesGiveResultCodes) {
    TOKEN_KEY key = Key("k", 1);
    uint32_t u = 0;
    uint16_t w = 0, ids[TOKEN_MAX_FILE_IDS];
    char text[TOKEN_LABEL_BUFFER] = "C0";
    BYTE bytes[8];
    TOKEN_RESULT results[] = {
        CSP_GetSlotList(nullptr, nullptr),
        CSP_GetSlotStatus(key, nullptr),
        CSP_GetUsbKeyLabel(key, nullptr),
        CSP_SetUsbKeyLabel(key, nullptr),
        CSP_ChangePassword(key, 1, nullptr, text),
        CSP_ChangePassword(key, 1, text, nullptr),
        CSP_ContainerCount(key, nullptr),
        CSP_ContainerInfo(key, 0, nullptr, 66, text),
        CSP_ContainerInfo(key, 0, &u, 66, nullptr),
        CSP_ContainerInfo(key, 0, &u, 0, text),
        CSP_ReadCertByName(key, nullptr, 1, &u, bytes),
        CSP_ReadCertByName(key, text, 1, nullptr, bytes),
        CSP_DeleteContainerByName(key, nullptr),
        CSP_AddCertToIE(bytes, sizeof(bytes), 1, nullptr),
        CSP_FileAllID(key, nullptr, ids),
        CSP_FileAllID(key, &w, nullptr),
        CSP_FileCreate(key, 7, nullptr, 0, 260, &u),
        CSP_FileCreate(key, 7, text, 0, 260, nullptr),
        CSP_FileRead(key, kWebFileId, 0, 1, nullptr),
        CSP_FileWrite(key, kWebFileId, 0, 1, nullptr),
        CSP_GetUsbKeyLabel(0, text),
        CSP_GetUsbKeyLabel(key + 1000, text),
        CSP_ContainerCount(0xFFFFFFFF, &u),
        CSP_FileAllID(0, &w, ids),
        CSP_LoadCertToIE(0, 3),
        CSP_LoadCertToIE(key, 8),
    };
    for (size_t i = 0; i < sizeof(results) / sizeof(results[0]); ++i)
        EXPECT_NE(0u, results[i]) << "case " << i;
}

TEST_F(TokensimTest, DamagedStoreGivesErrorsNotCrashes) {
    TOKEN_KEY key = Key("k", 1);
    std::string keyPath = m_store + "\\k.key", indexPath = m_store + "\\index.txt";
    std::string goodKey = ReadBytes(keyPath), goodIndex = ReadBytes(indexPath);
    ASSERT_FALSE(goodKey.empty());
    char label[TOKEN_LABEL_BUFFER];
    ASSERT_EQ(0u, CSP_GetUsbKeyLabel(key, label));

    // Every cut of the key file is refused whole.
    for (size_t cut = 0; cut < goodKey.size(); cut += (cut < 300 ? 1 : 97)) {
        WriteBytes(keyPath, goodKey.substr(0, cut));
        ASSERT_EQ(TS_E_STORE, CSP_GetUsbKeyLabel(key, label)) << "cut at " << cut;
    }
    const char* badKeys[] = {
        "tokensim-key 1\nid 4097\nname 6b\nlabel 41\ntries 7 6\nend\n",   // more tries than the maximum
        "tokensim-key 1\nid 4097\nname 6b\nlabel 4\nend\n",              // odd hex
        "tokensim-key 1\nid 99999999999\nname 6b\nend\n",
        "tokensim-key 1\nid 4097\nname 6b\ncert 1 3082\nend\n",           // certificate without container
        "tokensim-key 1\nid 4097\nname 6b\nfile 1 7 41 00\nfile 1 7 41 00\nend\n",   // same file id twice
        "tokensim-key 1\nid 4097\nname 6b\nlabel 41\nend\ntrailing\n",
        "tokensim-key 1\nid 4098\nname 6b\nend\n",                        // not the key of this handle
        "\xff\xfe garbage",
    };
    for (const char* bad : badKeys) {
        WriteBytes(keyPath, bad);
        EXPECT_EQ(TS_E_STORE, CSP_GetUsbKeyLabel(key, label)) << bad;
    }
    WriteBytes(keyPath, goodKey);
    ASSERT_EQ(0u, CSP_GetUsbKeyLabel(key, label));

    const char* badIndexes[] = {
        "", "tokensim-index 1\n", "tokensim-index 1\nkey 1 6b 1\nend\n",   // id not below next
        "tokensim-index 1\nnext 9\nkey 1 6b 1\nkey 1 6b 1\nend\n", "tokensim-index 2\nend\n",
        "tokensim-index 1\nnext 9\nkey 1 2e2e5c78 1\nend\n",             // name "..\x"
    };
    uint32_t count = 0;
    for (const char* bad : badIndexes) {
        WriteBytes(indexPath, bad);
        TOKEN_KEY list[TOKEN_MAX_KEYS];
        EXPECT_EQ(TS_E_STORE, CSP_GetSlotList(list, &count)) << bad;
        EXPECT_NE(0u, CSP_GetUsbKeyLabel(key, label));
    }
    DeleteFileA(keyPath.c_str());   // the index names a key whose file is gone
    WriteBytes(indexPath, goodIndex);
    EXPECT_EQ(TS_E_STORE, CSP_GetUsbKeyLabel(key, label));

    // A store folder that cannot exist (its path is a file) is no empty store.
    SetEnvironmentVariableA("TOKENSIM_STORE", indexPath.c_str());
    EXPECT_EQ(TS_E_STORE, CSP_GetSlotList(nullptr, &count));
    SetEnvironmentVariableA("TOKENSIM_STORE", m_store.c_str());
}

TEST_F(TokensimTest, WritesLeaveNoTemporaryFiles) {
    TOKEN_KEY key = Key("k", 1);
    Verify(key);
    char label[] = "new";
    ASSERT_EQ(0u, CSP_SetUsbKeyLabel(key, label));
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((m_store + "\\*.new").c_str(), &fd);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
}

// Fault mode: hostile answers, but never a byte beyond the capacities given.
TEST_F(TokensimTest, FaultModeNeverWritesBeyondTheGivenCapacities) {
    TOKEN_KEY key = Key("k", 2);
    SetEnvironmentVariableA("TOKENSIM_FAULTS", "1234");
    SetEnvironmentVariableA("TOKENSIM_PIN", "123456");
    const BYTE kGuard = 0xA5;
    struct CGuarded {
        std::vector<BYTE> b;
        size_t n;
        explicit CGuarded(size_t size) : b(size + 64, 0xA5), n(size) {}
        BYTE* p() { return b.data(); }
        bool intact() const {
            for (size_t i = n; i < b.size(); ++i)
                if (b[i] != 0xA5) return false;
            return true;
        }
    };
    int hostile = 0, failures = 0;
    for (int round = 0; round < 300; ++round) {
        CGuarded slots(TOKEN_MAX_KEYS * sizeof(TOKEN_KEY)), label(TOKEN_LABEL_BUFFER),
            name(TOKEN_CONTAINER_NAME_CAP), cert(TOKEN_CERT_MAX), ids(TOKEN_MAX_FILE_IDS * 2),
            page(260);
        uint32_t count = 0, flags = 0, length = TOKEN_CERT_MAX;
        uint16_t fileCount = 0;
        char c0[] = "C0";
        TOKEN_RESULT r[] = {
            CSP_GetSlotList(reinterpret_cast<TOKEN_KEY*>(slots.p()), &count),
            CSP_GetUsbKeyLabel(key, reinterpret_cast<char*>(label.p())),
            CSP_ContainerInfo(key, 0, &flags, TOKEN_CONTAINER_NAME_CAP, reinterpret_cast<char*>(name.p())),
            CSP_ReadCertByName(key, c0, 1, &length, cert.p()),
            CSP_FileAllID(key, &fileCount, reinterpret_cast<uint16_t*>(ids.p())),
            CSP_FileRead(key, kWebFileId, 0, 260, page.p()),
            CSP_VerifyPassword(key, 1, nullptr),
        };
        for (TOKEN_RESULT x : r) failures += x != 0;
        hostile += count > TOKEN_MAX_KEYS || length > TOKEN_CERT_MAX || fileCount > TOKEN_MAX_FILE_IDS;
        ASSERT_TRUE(slots.intact() && label.intact() && name.intact() && cert.intact() &&
                    ids.intact() && page.intact()) << "round " << round;
        (void)kGuard;
    }
    EXPECT_GT(hostile, 10);
    EXPECT_GT(failures, 100);
}

// ---------------------------------------------------------------- tokensim.exe

class TokensimToolTest : public TokensimTest {};

// Records WM_DEVICECHANGE broadcasts that reach a top-level window of this thread.
std::vector<WPARAM> g_deviceChanges;
LRESULT CALLBACK ListenerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DEVICECHANGE) g_deviceChanges.push_back(wParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST_F(TokensimToolTest, CreateInsertRemoveDeleteAndTheLibrarySeesIt) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ListenerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TokensimListener";
    RegisterClassA(&wc);
    HWND listener = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                    nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, listener);
    g_deviceChanges.clear();

    std::string out, err;
    ASSERT_EQ(0u, RunTool(L"create alpha --label 工行 --pin 888888 --tries 4", &out, &err)) << err;
    ASSERT_EQ(0u, RunTool(L"create beta --status 1", &out, &err)) << err;
    uint32_t count = 9;
    ASSERT_EQ(0u, CSP_GetSlotList(nullptr, &count));
    EXPECT_EQ(0u, count);
    EXPECT_TRUE(g_deviceChanges.empty());

    ASSERT_EQ(0u, RunTool(L"insert beta", &out, &err)) << err;
    ASSERT_EQ(0u, RunTool(L"insert alpha", &out, &err)) << err;
    ASSERT_EQ(2u, g_deviceChanges.size());
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVNODES_CHANGED), g_deviceChanges[0]);
    TOKEN_KEY list[TOKEN_MAX_KEYS];
    ASSERT_EQ(0u, CSP_GetSlotList(list, &count));
    ASSERT_EQ(2u, count);
    char label[TOKEN_LABEL_BUFFER];
    ASSERT_EQ(0u, CSP_GetUsbKeyLabel(list[1], label));
    EXPECT_STREQ("工行", label);   // typed in UTF-8, kept in GBK
    EXPECT_EQ(1u, Status(list[0]));
    char pin[] = "888888";
    EXPECT_EQ(0u, CSP_VerifyPassword(list[1], TOKEN_USER, pin));
    EXPECT_EQ(4u, Status(list[1]));

    ASSERT_EQ(0u, RunTool(L"list", &out, &err));
    EXPECT_NE(std::string::npos, out.find("key alpha 0x")) << out;
    EXPECT_NE(std::string::npos, out.find(" inserted 工行")) << out;

    ASSERT_EQ(0u, RunTool(L"remove alpha", &out, &err)) << err;
    EXPECT_EQ(3u, g_deviceChanges.size());
    uint32_t status = 0;
    EXPECT_EQ(TS_E_KEY_REMOVED, CSP_GetSlotStatus(list[1], &status));
    ASSERT_EQ(0u, RunTool(L"insert alpha", &out, &err)) << err;
    EXPECT_EQ(2u, Status(list[1]));   // removal ended the verified state
    ASSERT_EQ(0u, RunTool(L"delete alpha", &out, &err)) << err;
    EXPECT_EQ(TS_E_INVALID_HANDLE, CSP_GetSlotStatus(list[1], &status));
    EXPECT_EQ(5u, g_deviceChanges.size());
    DestroyWindow(listener);
}

TEST_F(TokensimToolTest, ShowPrintsOneFactPerLine) {
    std::string out, err;
    ASSERT_EQ(0u, RunTool(L"create k --label 张三的盾 --tries 5", &out, &err)) << err;
    std::wstring addCert = L"add-cert k CERT1 1 \"";
    for (char c : DataFile("zhangsan.der")) addCert += static_cast<wchar_t>(c);
    addCert += L"\"";
    ASSERT_EQ(0u, RunTool(addCert.c_str(), &out, &err)) << err;
    std::wstring addSigning = L"add-cert k HALF 2 \"";
    for (char c : DataFile("signing.der")) addSigning += static_cast<wchar_t>(c);
    addSigning += L"\"";
    ASSERT_EQ(0u, RunTool(addSigning.c_str(), &out, &err)) << err;
    ASSERT_EQ(0u, RunTool(L"add-container k HALF --flags 4", &out, &err)) << err;   // flags only
    ASSERT_EQ(0u, RunTool(L"set-webfile k http://bank.example/", &out, &err)) << err;
    ASSERT_EQ(0u, RunTool(L"show k", &out, &err)) << err;
    const char* lines[] = {
        "name k\r\n", "inserted no\r\n", "label 张三的盾\r\n", "status 2\r\n", "tries 5\r\n",
        "locked no\r\n", "containers 2\r\n", "container 0 name CERT1\r\n", "container 0 flags 0x05\r\n",
        "container 0 cert 1 subject 张三\r\n", "container 1 name HALF\r\n", "container 1 flags 0x04\r\n",
        "container 1 cert 2 subject Quorvel Test Signing\r\n",
        "files 1\r\n", "file 0xef11 name WEBFILE\r\n", "file 0xef11 size 260\r\n",
        "file 0xef11 text http://bank.example/\r\n", "file 0xef11 hex 687474703a2f2f62616e6b",
    };
    for (const char* line : lines)
        EXPECT_NE(std::string::npos, out.find(line)) << "missing: " << line << "\n" << out;
    ASSERT_EQ(0u, RunTool(L"set-webfile k --off", &out, &err)) << err;
    ASSERT_EQ(0u, RunTool(L"show k", &out, &err)) << err;
    EXPECT_NE(std::string::npos, out.find("file 0xef11 text \r\n")) << out;
}

// Readers take no cross-process lock: while another process rewrites the
// key again and again, every read sees one whole version of it.
DWORD WINAPI RewriteLabels(LPVOID done) {
    for (int i = 0; i < 8; ++i)
        RunTool(i % 2 ? L"set k --label AAAA --status 4" : L"set k --label BBBBBB --status 2");
    InterlockedExchange(static_cast<LONG*>(done), 1);
    return 0;
}

TEST_F(TokensimToolTest, ReadsWhileAnotherProcessWritesSeeWholeKeys) {
    TOKEN_KEY key = Key("k", 6);
    LONG done = 0;
    HANDLE writer = CreateThread(nullptr, 0, RewriteLabels, &done, 0, nullptr);
    ASSERT_NE(nullptr, writer);
    int reads = 0, bad = 0;
    while (!InterlockedCompareExchange(&done, 0, 0)) {
        char label[TOKEN_LABEL_BUFFER] = {};
        uint32_t status = 0, count = 0;
        TOKEN_RESULT a = CSP_GetUsbKeyLabel(key, label);
        TOKEN_RESULT b = CSP_GetSlotStatus(key, &status);
        TOKEN_RESULT c = CSP_ContainerCount(key, &count);
        std::string l = label;
        if (a || b || c || count != 6 || (l != "label" && l != "AAAA" && l != "BBBBBB") ||
            (status != 2 && status != 4))
            ++bad;
        ++reads;
    }
    WaitForSingleObject(writer, INFINITE);
    CloseHandle(writer);
    EXPECT_EQ(0, bad) << "of " << reads << " reads";
    EXPECT_GT(reads, 50);
}

TEST_F(TokensimToolTest, BadArgumentsGiveOneLineOnStderrAndNonZero) {
    std::string out, err;
    ASSERT_EQ(0u, RunTool(L"create k", &out, &err)) << err;
    const wchar_t* bad[] = {
        L"", L"frobnicate", L"create", L"create k", L"create ../x", L"create x --label 0123456789abcdef",
        L"create x --label 张三张三张三张三", L"create x --pin 12345", L"create x --tries 0",
        L"create x --tries 16", L"create x --bogus 1", L"create x --label", L"insert nobody",
        L"show", L"add-cert k C 3 x.der", L"add-cert k C 1 Z:\\no\\such.der",
        L"add-container k 012345678901234567890123456789012345678901234567890123456789012345",
        L"add-container k C --flags x", L"set-webfile k", L"remove k",
    };
    for (const wchar_t* args : bad) {
        DWORD code = RunTool(args, &out, &err);
        EXPECT_NE(0u, code) << std::hex << code << " args: " << std::string(args, args + wcslen(args)).c_str();
        size_t newline = err.find('\n');
        EXPECT_TRUE(newline != std::string::npos && newline + 1 == err.size())
            << std::string(args, args + wcslen(args)).c_str() << ": " << std::hex << code << " " << err;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--print-marker") == 0) {
        printf("%08lx\n", static_cast<unsigned long>(TokenWindowMarker(0, 0)));
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

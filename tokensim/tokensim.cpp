// tokensim: the command-line tool over the stand-in's key store.
//
//   tokensim create NAME [--label TEXT] [--pin PIN] [--tries N] [--status N]
//   tokensim set NAME [--label TEXT] [--pin PIN] [--tries N] [--status N]
//   tokensim insert NAME | remove NAME | delete NAME
//   tokensim list | show NAME
//   tokensim add-cert NAME CONTAINER 1|2 FILE.der
//   tokensim add-container NAME CONTAINER [--flags N]
//   tokensim set-webfile NAME URL|--off
//
// Arguments are taken from the wide command line and stored in GBK, whatever
// the terminal's encoding. insert, remove and delete of an inserted key
// broadcast WM_DEVICECHANGE / DBT_DEVNODES_CHANGED as a real key would.
// Bad arguments: one line on stderr, exit code 2; failures exit code 1.
#include "tokensim/Store.h"

#include <dbt.h>
#include <shellapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

using namespace tokensim;

namespace {

const uint16_t kWebFileId = 0xEF11;
const uint32_t kWebFileSize = 260;

struct CArg {
    std::string gbk;       // the argument in GBK (code page 936)
    std::wstring wide;     // as typed, for file names
};

std::vector<CArg> g_args;
bool g_broadcast = false;   // after the store's lock is released

int Fail(int code, const char* format, ...) {
    char text[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof(text), format, ap);
    va_end(ap);
    fprintf(stderr, "tokensim: %s\n", text);
    return code;
}
#define USAGE_ERROR(...) Fail(2, __VA_ARGS__)
#define FAILURE(...) Fail(1, __VA_ARGS__)

bool ReadArgs() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return false;
    for (int i = 1; i < argc; ++i) {
        CArg a;
        a.wide = argv[i];
        int n = WideCharToMultiByte(936, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        if (n > 0) {
            std::vector<char> buffer(static_cast<size_t>(n));
            WideCharToMultiByte(936, 0, argv[i], -1, buffer.data(), n, nullptr, nullptr);
            a.gbk = buffer.data();
        }
        g_args.push_back(a);
    }
    LocalFree(argv);
    return true;
}

bool ParseNumber(const std::string& text, uint32_t& value) {
    if (text.empty() || text[0] == '-') return false;
    char* end = nullptr;
    unsigned long long v = strtoull(text.c_str(), &end, 0);
    if (!end || *end || v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

void Broadcast() {
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0,
                        SMTO_ABORTIFHUNG, 5000, &answer);
}

const char* StoreError(TOKEN_RESULT r) {
    return r == TS_E_STORE ? "the key store is damaged or cannot be written" : "store error";
}

// Options of create and set; only the given ones are applied.
struct COptions {
    bool label = false, pin = false, tries = false, status = false;
    std::string labelText, pinText;
    uint32_t triesValue = 0, statusValue = 0;
};

int ParseOptions(size_t from, COptions& o) {
    for (size_t i = from; i < g_args.size(); i += 2) {
        const std::string& opt = g_args[i].gbk;
        if (i + 1 >= g_args.size()) return USAGE_ERROR("%s needs a value", opt.c_str());
        const std::string& value = g_args[i + 1].gbk;
        if (opt == "--label") {
            if (value.empty() || value.size() > TOKEN_LABEL_MAX)
                return USAGE_ERROR("a label has 1 to %u bytes in GBK", TOKEN_LABEL_MAX);
            o.label = true;
            o.labelText = value;
        } else if (opt == "--pin") {
            if (value.size() < TS_PIN_MIN || value.size() > TOKEN_PIN_MAX)
                return USAGE_ERROR("a password has %u to %u bytes", TS_PIN_MIN, TOKEN_PIN_MAX);
            o.pin = true;
            o.pinText = value;
        } else if (opt == "--tries") {
            if (!ParseNumber(value, o.triesValue) || o.triesValue < 1 ||
                o.triesValue > TS_TRIES_MAX)
                return USAGE_ERROR("--tries takes 1 to %u", TS_TRIES_MAX);
            o.tries = true;
        } else if (opt == "--status") {
            if (!ParseNumber(value, o.statusValue))
                return USAGE_ERROR("--status takes a number");
            o.status = true;
        } else {
            return USAGE_ERROR("unknown option %s", opt.c_str());
        }
    }
    return 0;
}

void ApplyOptions(const COptions& o, CKey& key) {
    if (o.label) key.label = o.labelText;
    if (o.pin) key.pin = o.pinText;
    if (o.tries) key.tries = key.maxTries = o.triesValue;
    if (o.status) {   // 4 is a ready key whose user is verified
        key.verified = o.statusValue == 4;
        key.status = o.statusValue == 4 ? 2 : o.statusValue;
    }
}

// Loads index and key NAME; prints the error itself.
int LoadNamed(const std::string& name, CIndex& index, CKey& key) {
    if (!ValidKeyName(name.c_str()))
        return USAGE_ERROR("bad key name '%s' (letters, digits, . _ -; at most %u)", name.c_str(),
                           TS_KEY_NAME_MAX);
    TOKEN_RESULT r = LoadIndex(index);
    if (r != 0) return FAILURE("%s", StoreError(r));
    CIndexEntry* e = index.FindName(name);
    if (!e) return FAILURE("no key named %s", name.c_str());
    r = LoadKey(e->name, key);
    if (r != 0) return FAILURE("key %s: %s", name.c_str(), StoreError(r));
    return 0;
}

int SaveOrFail(const CKey& key) {
    TOKEN_RESULT r = SaveKey(key);
    return r == 0 ? 0 : FAILURE("%s", StoreError(r));
}

int CmdCreate() {
    if (g_args.size() < 2) return USAGE_ERROR("usage: tokensim create NAME [options]");
    const std::string& name = g_args[1].gbk;
    if (!ValidKeyName(name.c_str())) return USAGE_ERROR("bad key name '%s'", name.c_str());
    COptions o;
    if (int e = ParseOptions(2, o)) return e;
    CIndex index;
    TOKEN_RESULT r = LoadIndex(index);
    if (r != 0) return FAILURE("%s", StoreError(r));
    if (index.FindName(name)) return FAILURE("a key named %s exists", name.c_str());
    CKey key;
    key.id = index.next;
    key.name = name;
    key.label = name.substr(0, TOKEN_LABEL_MAX);
    key.pin = "123456";
    ApplyOptions(o, key);
    if (int e = SaveOrFail(key)) return e;
    CIndexEntry entry;
    entry.id = key.id;
    entry.name = name;
    index.keys.push_back(entry);
    ++index.next;
    r = SaveIndex(index);
    if (r != 0) return FAILURE("%s", StoreError(r));
    printf("created %s handle 0x%08lx\n", name.c_str(), static_cast<unsigned long>(key.id));
    return 0;
}

int CmdSet() {
    if (g_args.size() < 2) return USAGE_ERROR("usage: tokensim set NAME [options]");
    COptions o;
    if (int e = ParseOptions(2, o)) return e;
    CIndex index;
    CKey key;
    if (int e = LoadNamed(g_args[1].gbk, index, key)) return e;
    ApplyOptions(o, key);
    return SaveOrFail(key);
}

// insert, remove, delete
int CmdPresence(const std::string& command) {
    if (g_args.size() != 2) return USAGE_ERROR("usage: tokensim %s NAME", command.c_str());
    CIndex index;
    CKey key;
    if (int e = LoadNamed(g_args[1].gbk, index, key)) return e;
    CIndexEntry* e = index.FindName(key.name);
    bool wasInserted = e->inserted;
    if (command == "insert") {
        if (wasInserted) return FAILURE("%s is already inserted", key.name.c_str());
        size_t inserted = 0;
        for (const CIndexEntry& x : index.keys) inserted += x.inserted ? 1 : 0;
        if (inserted >= TOKEN_MAX_KEYS) return FAILURE("%u keys are inserted already", TOKEN_MAX_KEYS);
        CIndexEntry moved = *e;   // a newly inserted key is listed last
        moved.inserted = true;
        index.keys.erase(index.keys.begin() + (e - index.keys.data()));
        index.keys.push_back(moved);
    } else if (command == "remove") {
        if (!wasInserted) return FAILURE("%s is not inserted", key.name.c_str());
        e->inserted = false;
        if (key.verified) {   // a removed key forgets its verified user
            key.verified = false;
            if (int err = SaveOrFail(key)) return err;
        }
    } else {
        index.keys.erase(index.keys.begin() + (e - index.keys.data()));
    }
    TOKEN_RESULT r = SaveIndex(index);
    if (r != 0) return FAILURE("%s", StoreError(r));
    if (command == "delete" && DeleteKeyFile(key.name) != 0)
        return FAILURE("could not delete the file of %s", key.name.c_str());
    g_broadcast = command != "delete" || wasInserted;
    return 0;
}

int CmdList() {
    if (g_args.size() != 1) return USAGE_ERROR("usage: tokensim list");
    CIndex index;
    TOKEN_RESULT r = LoadIndex(index);
    if (r != 0) return FAILURE("%s", StoreError(r));
    for (const CIndexEntry& e : index.keys) {
        CKey key;
        bool ok = LoadKey(e.name, key) == 0;
        printf("key %s 0x%08lx %s %s\n", e.name.c_str(), static_cast<unsigned long>(e.id),
               e.inserted ? "inserted" : "removed", ok ? key.label.c_str() : "(damaged)");
    }
    return 0;
}

std::string Subject(const std::string& der) {
    PCCERT_CONTEXT c = CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    if (!c) return "(not a certificate)";
    DWORD n = CertGetNameStringA(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    std::string name;
    if (n > 1) {
        std::vector<char> buffer(n);
        CertGetNameStringA(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, buffer.data(), n);
        name = buffer.data();
    }
    CertFreeCertificateContext(c);
    return name;
}

int CmdShow() {
    if (g_args.size() != 2) return USAGE_ERROR("usage: tokensim show NAME");
    CIndex index;
    CKey key;
    if (int e = LoadNamed(g_args[1].gbk, index, key)) return e;
    const CIndexEntry* e = index.FindName(key.name);
    printf("name %s\n", key.name.c_str());
    printf("handle 0x%08lx\n", static_cast<unsigned long>(key.id));
    printf("inserted %s\n", e->inserted ? "yes" : "no");
    printf("label %s\n", key.label.c_str());
    printf("label-hex %s\n", ToHex(key.label).c_str());
    printf("status %lu\n", static_cast<unsigned long>(key.ReportedStatus()));
    printf("verified %s\n", key.verified ? "yes" : "no");
    printf("tries %lu\n", static_cast<unsigned long>(key.tries));
    printf("max-tries %lu\n", static_cast<unsigned long>(key.maxTries));
    printf("locked %s\n", key.tries == 0 ? "yes" : "no");
    printf("containers %u\n", static_cast<unsigned>(key.containers.size()));
    for (size_t i = 0; i < key.containers.size(); ++i) {
        const CContainer& c = key.containers[i];
        printf("container %u name %s\n", static_cast<unsigned>(i), c.name.c_str());
        printf("container %u flags 0x%02lx\n", static_cast<unsigned>(i),
               static_cast<unsigned long>(c.flags));
        for (int spec = 1; spec <= 2; ++spec) {
            if (c.cert[spec - 1].empty()) continue;
            printf("container %u cert %d subject %s\n", static_cast<unsigned>(i), spec,
                   Subject(c.cert[spec - 1]).c_str());
            printf("container %u cert %d bytes %u\n", static_cast<unsigned>(i), spec,
                   static_cast<unsigned>(c.cert[spec - 1].size()));
        }
    }
    printf("files %u\n", static_cast<unsigned>(key.files.size()));
    for (const CTokenFile& f : key.files) {
        unsigned id = f.id;
        printf("file 0x%04x name %s\n", id, f.name.c_str());
        printf("file 0x%04x size %u\n", id, static_cast<unsigned>(f.data.size()));
        printf("file 0x%04x hex %s\n", id, ToHex(f.data).c_str());
        std::string text = f.data.substr(0, f.data.find('\0'));
        for (char& ch : text)
            if (static_cast<unsigned char>(ch) < 0x20) ch = '.';
        printf("file 0x%04x text %s\n", id, text.c_str());
    }
    return 0;
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0, size = GetFileSize(h, &high);
    bool ok = size != INVALID_FILE_SIZE && high == 0 && size <= TOKEN_CERT_MAX;
    if (ok) {
        bytes.resize(size);
        DWORD got = 0;
        ok = size == 0 || (ReadFile(h, &bytes[0], size, &got, nullptr) && got == size);
    }
    CloseHandle(h);
    return ok;
}

CContainer* GetContainer(CKey& key, const std::string& name, bool& created) {
    created = false;
    if (CContainer* c = key.FindContainer(name.c_str())) return c;
    if (key.containers.size() >= TS_CONTAINERS_MAX) return nullptr;
    CContainer c;
    c.name = name;
    key.containers.push_back(c);
    created = true;
    return &key.containers.back();
}

bool ValidContainerName(const std::string& name) {
    return !name.empty() && name.size() <= TS_CONTAINER_NAME_MAX;
}

int CmdAddCert() {
    if (g_args.size() != 5) return USAGE_ERROR("usage: tokensim add-cert NAME CONTAINER 1|2 FILE.der");
    const std::string& container = g_args[2].gbk;
    if (!ValidContainerName(container))
        return USAGE_ERROR("a container name has 1 to %u bytes", TS_CONTAINER_NAME_MAX);
    uint32_t spec = 0;
    if (!ParseNumber(g_args[3].gbk, spec) || spec < 1 || spec > 2)
        return USAGE_ERROR("the key specification is 1 or 2");
    std::string der;
    if (!ReadFileBytes(g_args[4].wide, der) || der.empty())
        return USAGE_ERROR("cannot read %s (1 to %u bytes)", g_args[4].gbk.c_str(), TOKEN_CERT_MAX);
    CIndex index;
    CKey key;
    if (int e = LoadNamed(g_args[1].gbk, index, key)) return e;
    bool created = false;
    CContainer* c = GetContainer(key, container, created);
    if (!c) return FAILURE("%s has no room for another container", key.name.c_str());
    c->cert[spec - 1] = der;
    c->flags |= spec == 1 ? (TOKEN_CF_SPEC1_CERT | TOKEN_CF_SPEC1_KEY)
                          : (TOKEN_CF_SPEC2_CERT | TOKEN_CF_SPEC2_KEY);
    return SaveOrFail(key);
}

int CmdAddContainer() {
    if (g_args.size() != 3 && g_args.size() != 5)
        return USAGE_ERROR("usage: tokensim add-container NAME CONTAINER [--flags N]");
    const std::string& container = g_args[2].gbk;
    if (!ValidContainerName(container))
        return USAGE_ERROR("a container name has 1 to %u bytes", TS_CONTAINER_NAME_MAX);
    uint32_t flags = 0;
    if (g_args.size() == 5 && (g_args[3].gbk != "--flags" || !ParseNumber(g_args[4].gbk, flags)))
        return USAGE_ERROR("usage: tokensim add-container NAME CONTAINER [--flags N]");
    CIndex index;
    CKey key;
    if (int e = LoadNamed(g_args[1].gbk, index, key)) return e;
    bool created = false;
    CContainer* c = GetContainer(key, container, created);
    if (!c) return FAILURE("%s has no room for another container", key.name.c_str());
    c->flags = flags;
    return SaveOrFail(key);
}

int CmdSetWebFile() {
    if (g_args.size() != 3) return USAGE_ERROR("usage: tokensim set-webfile NAME URL|--off");
    std::string url = g_args[2].gbk == "--off" ? std::string() : g_args[2].gbk;
    if (url.size() >= kWebFileSize)
        return USAGE_ERROR("an address has at most %u bytes", kWebFileSize - 1);
    CIndex index;
    CKey key;
    if (int e = LoadNamed(g_args[1].gbk, index, key)) return e;
    CTokenFile* f = key.FindFile(kWebFileId);
    if (!f) {
        if (key.files.size() >= TS_FILES_MAX) return FAILURE("%s has no room for a file", key.name.c_str());
        CTokenFile file;
        file.id = kWebFileId;
        file.kind = 7;
        file.name = "WEBFILE";
        file.data.assign(kWebFileSize, '\0');
        key.files.push_back(file);
        f = &key.files.back();
    }
    std::fill(f->data.begin(), f->data.end(), '\0');
    memcpy(&f->data[0], url.data(), url.size() < f->data.size() ? url.size() : f->data.size() - 1);
    return SaveOrFail(key);
}

int Run() {
    CStoreLock lock;
    if (!lock.Ok()) return FAILURE("the key store is busy");
    std::string dir;
    if (!StoreDir(dir)) return FAILURE("cannot create the key store folder");
    const std::string& command = g_args[0].gbk;
    if (command == "create") return CmdCreate();
    if (command == "set") return CmdSet();
    if (command == "insert" || command == "remove" || command == "delete")
        return CmdPresence(command);
    if (command == "list") return CmdList();
    if (command == "show") return CmdShow();
    if (command == "add-cert") return CmdAddCert();
    if (command == "add-container") return CmdAddContainer();
    if (command == "set-webfile") return CmdSetWebFile();
    return USAGE_ERROR("unknown command %s", command.c_str());
}

}  // namespace

int main() {
    if (!ReadArgs() || g_args.empty())
        return USAGE_ERROR("usage: tokensim create|set|insert|remove|delete|list|show|add-cert|"
                           "add-container|set-webfile ...");
    int r = Run();
    // Listeners call the library, which takes the store's lock: broadcast after.
    if (g_broadcast) Broadcast();
    fflush(stdout);
    return r;
}

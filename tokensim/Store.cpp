// The folder store: paths, the lock, and the text format of index and keys.
#include "tokensim/Store.h"

#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

namespace tokensim {

namespace {

const char kIndexMagic[] = "tokensim-index 1";
const char kKeyMagic[] = "tokensim-key 1";
const DWORD kFileSizeMax = 64u * 1024u * 1024u;   // far beyond any sound key file

// A line split at single spaces; at most kMaxFields fields.
struct CFields {
    static const int kMaxFields = 8;
    const char* at[kMaxFields];
    size_t len[kMaxFields];
    int count = 0;
    bool Is(int i, const char* word) const {
        return i < count && len[i] == strlen(word) && memcmp(at[i], word, len[i]) == 0;
    }
};

bool SplitLine(const char* line, size_t length, CFields& f) {
    f.count = 0;
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i == length || line[i] == ' ') {
            if (i == start || f.count == CFields::kMaxFields) return false;
            f.at[f.count] = line + start;
            f.len[f.count] = i - start;
            ++f.count;
            start = i + 1;
        }
    }
    return true;
}

bool ParseU32(const char* text, size_t length, uint32_t& value) {
    if (length == 0 || length > 10) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// "-" stands for no bytes.
bool ParseBytes(const CFields& f, int i, std::string& bytes) {
    if (f.len[i] == 1 && f.at[i][0] == '-') {
        bytes.clear();
        return true;
    }
    return FromHex(f.at[i], f.len[i], bytes);
}

void AppendBytes(std::string& out, const std::string& bytes) {
    out += bytes.empty() ? std::string("-") : ToHex(bytes);
}

void AppendU32(std::string& out, uint32_t v) {
    char text[16];
    snprintf(text, sizeof(text), "%lu", static_cast<unsigned long>(v));
    out += text;
}

std::string PathOf(const std::string& fileName) {
    std::string dir;
    if (!StoreDir(dir)) return std::string();
    return dir + "\\" + fileName;
}

// Reads a whole file. Returns 0, TS_E_NOT_FOUND when it is absent, else TS_E_STORE.
TOKEN_RESULT ReadWholeUncached(const std::string& path, std::string& text) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        return (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) ? TS_E_NOT_FOUND
                                                                        : TS_E_STORE;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(h, &high);
    TOKEN_RESULT r = TS_E_STORE;
    if (size != INVALID_FILE_SIZE && high == 0 && size <= kFileSizeMax) {
        text.resize(size);
        DWORD got = 0;
        if (size == 0 || (ReadFile(h, &text[0], size, &got, nullptr) && got == size)) r = 0;
    }
    CloseHandle(h);
    return r;
}

// The texts of the files read last, each with the size and write time it was
// read at. Every write replaces a file by a new one (or a test rewrites it),
// which changes its write time, so an entry whose file still has the same
// size and time is the file's current text: reading it again is skipped.
// Used under the store's lock only.
struct CCachedText {
    std::string path;
    ULONGLONG size = 0;
    FILETIME written = {};
    std::string text;
};
CCachedText g_cache[12];
unsigned g_cacheNext = 0;

TOKEN_RESULT ReadWhole(const std::string& path, std::string& text) {
    if (path.empty()) return TS_E_STORE;   // no store folder
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a))
        return ReadWholeUncached(path, text);
    ULONGLONG size = (static_cast<ULONGLONG>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
    for (CCachedText& c : g_cache) {
        if (c.path == path && c.size == size && CompareFileTime(&c.written, &a.ftLastWriteTime) == 0) {
            text = c.text;
            return 0;
        }
    }
    TOKEN_RESULT r = ReadWholeUncached(path, text);
    if (r != 0 || text.size() != size) return r;   // changed meanwhile: keep nothing
    CCachedText* slot = nullptr;
    for (CCachedText& c : g_cache)
        if (c.path == path) slot = &c;
    if (!slot) slot = &g_cache[g_cacheNext++ % (sizeof(g_cache) / sizeof(g_cache[0]))];
    slot->path = path;
    slot->size = size;
    slot->written = a.ftLastWriteTime;
    slot->text = text;
    return 0;
}

// Writes "<path>.new" and renames it over path, so readers see old or new whole.
TOKEN_RESULT WriteReplacing(const std::string& path, const std::string& text) {
    if (path.empty()) return TS_E_STORE;
    std::string temp = path + ".new";
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return TS_E_STORE;
    DWORD put = 0;
    BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
              put == text.size();
    CloseHandle(h);
    // A reader may hold the old file open for a moment (shared for deletion);
    // where the system refuses to replace it meanwhile, try again shortly.
    for (int attempt = 0; ok; ++attempt) {
        if (MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
        if (attempt == 50 || GetLastError() != ERROR_ACCESS_DENIED) break;
        Sleep(2);
    }
    DeleteFileA(temp.c_str());
    return TS_E_STORE;
}

// Calls fn(fields) for each line after the magic line; stops at "end".
// Returns false when the magic, a line, or the final "end" is missing.
template <class Fn> bool ForEachLine(const std::string& text, const char* magic, Fn fn) {
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) return false;
        const char* line = text.data() + pos;
        size_t length = eol - pos;
        if (length > 0 && line[length - 1] == '\r') --length;
        pos = eol + 1;
        if (first) {
            if (length != strlen(magic) || memcmp(line, magic, length) != 0) return false;
            first = false;
            continue;
        }
        CFields f;
        if (!SplitLine(line, length, f)) return false;
        if (f.Is(0, "end") && f.count == 1) return pos == text.size();
        if (!fn(f)) return false;
    }
    return false;
}

bool ParseKey(const std::string& text, CKey& key) {
    key = CKey();
    bool haveId = false;
    bool ok = ForEachLine(text, kKeyMagic, [&](const CFields& f) -> bool {
        uint32_t v = 0;
        if (f.Is(0, "id") && f.count == 2) {
            haveId = ParseU32(f.at[1], f.len[1], key.id) && key.id != 0;
            return haveId;
        }
        if (f.Is(0, "name") && f.count == 2) return ParseBytes(f, 1, key.name);
        if (f.Is(0, "label") && f.count == 2)
            return ParseBytes(f, 1, key.label) && key.label.size() < TOKEN_LABEL_BUFFER &&
                   key.label.find('\0') == std::string::npos;
        if (f.Is(0, "status") && f.count == 2) return ParseU32(f.at[1], f.len[1], key.status);
        if (f.Is(0, "verified") && f.count == 2) {
            if (!ParseU32(f.at[1], f.len[1], v) || v > 1) return false;
            key.verified = v != 0;
            return true;
        }
        if (f.Is(0, "pin") && f.count == 2)
            return ParseBytes(f, 1, key.pin) && key.pin.size() <= TOKEN_PIN_MAX;
        if (f.Is(0, "tries") && f.count == 3)
            return ParseU32(f.at[1], f.len[1], key.tries) &&
                   ParseU32(f.at[2], f.len[2], key.maxTries) && key.maxTries >= 1 &&
                   key.maxTries <= TS_TRIES_MAX && key.tries <= key.maxTries;
        if (f.Is(0, "container") && f.count == 3) {
            if (key.containers.size() >= TS_CONTAINERS_MAX) return false;
            CContainer c;
            if (!ParseBytes(f, 1, c.name) || c.name.empty() ||
                c.name.size() > TS_CONTAINER_NAME_MAX || c.name.find('\0') != std::string::npos ||
                !ParseU32(f.at[2], f.len[2], c.flags))
                return false;
            key.containers.push_back(c);
            return true;
        }
        if (f.Is(0, "cert") && f.count == 3) {   // belongs to the container before it
            if (key.containers.empty() || !ParseU32(f.at[1], f.len[1], v) || v < 1 || v > 2)
                return false;
            std::string& der = key.containers.back().cert[v - 1];
            return ParseBytes(f, 2, der) && der.size() <= TOKEN_CERT_MAX;
        }
        if (f.Is(0, "file") && f.count == 5) {
            if (key.files.size() >= TS_FILES_MAX) return false;
            CTokenFile file;
            if (!ParseU32(f.at[1], f.len[1], v) || v == 0 || v > 0xFFFF) return false;
            file.id = static_cast<uint16_t>(v);
            if (!ParseU32(f.at[2], f.len[2], file.kind) || !ParseBytes(f, 3, file.name) ||
                file.name.size() > TS_FILE_NAME_MAX || !ParseBytes(f, 4, file.data) ||
                file.data.empty() || file.data.size() > TS_FILE_SIZE_MAX ||
                key.FindFile(file.id))
                return false;
            key.files.push_back(file);
            return true;
        }
        return false;
    });
    return ok && haveId && ValidKeyName(key.name.c_str());
}

std::string FormatKey(const CKey& key) {
    std::string out = kKeyMagic;
    out += "\nid ";
    AppendU32(out, key.id);
    out += "\nname ";
    AppendBytes(out, key.name);
    out += "\nlabel ";
    AppendBytes(out, key.label);
    out += "\nstatus ";
    AppendU32(out, key.status);
    out += key.verified ? "\nverified 1" : "\nverified 0";
    out += "\npin ";
    AppendBytes(out, key.pin);
    out += "\ntries ";
    AppendU32(out, key.tries);
    out += " ";
    AppendU32(out, key.maxTries);
    for (const CContainer& c : key.containers) {
        out += "\ncontainer ";
        AppendBytes(out, c.name);
        out += " ";
        AppendU32(out, c.flags);
        for (int spec = 0; spec < 2; ++spec) {
            if (c.cert[spec].empty()) continue;
            out += spec == 0 ? "\ncert 1 " : "\ncert 2 ";
            AppendBytes(out, c.cert[spec]);
        }
    }
    for (const CTokenFile& file : key.files) {
        out += "\nfile ";
        AppendU32(out, file.id);
        out += " ";
        AppendU32(out, file.kind);
        out += " ";
        AppendBytes(out, file.name);
        out += " ";
        AppendBytes(out, file.data);
    }
    out += "\nend\n";
    return out;
}

bool CreateDirs(const std::string& dir) {
    if (dir.empty()) return false;
    DWORD attr = GetFileAttributesA(dir.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES) return (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t cut = dir.find_last_of("\\/");
    if (cut != std::string::npos && cut > 0 && dir[cut - 1] != ':')
        CreateDirs(dir.substr(0, cut));
    return CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

CContainer* CKey::FindContainer(const char* containerName) {
    for (CContainer& c : containers)
        if (c.name == containerName) return &c;
    return nullptr;
}

CTokenFile* CKey::FindFile(uint32_t fileId) {
    for (CTokenFile& f : files)
        if (f.id == fileId) return &f;
    return nullptr;
}

CIndexEntry* CIndex::FindName(const std::string& keyName) {
    for (CIndexEntry& e : keys)
        if (lstrcmpiA(e.name.c_str(), keyName.c_str()) == 0) return &e;
    return nullptr;
}

CIndexEntry* CIndex::FindId(uint32_t id) {
    for (CIndexEntry& e : keys)
        if (e.id == id) return &e;
    return nullptr;
}

// The store's mutex, opened once per process and kept.
static HANDLE StoreMutex() {
    static HANDLE s_mutex = nullptr;
    if (!s_mutex) {
        HANDLE h = CreateMutexA(nullptr, FALSE, "Local\\tokensim-store");
        if (!h) return nullptr;
        if (InterlockedCompareExchangePointer(&s_mutex, h, nullptr) != nullptr) CloseHandle(h);
    }
    return s_mutex;
}

// This process's lock of the read cache.
static CRITICAL_SECTION* CacheLock() {
    struct CLock {
        CRITICAL_SECTION cs;
        CLock() { InitializeCriticalSection(&cs); }
    };
    static CLock s_lock;
    return &s_lock.cs;
}

CStoreLock::CStoreLock(bool write) : m_write(write), m_held(false) {
    if (write) {
        HANDLE m = StoreMutex();
        if (!m) return;
        DWORD w = WaitForSingleObject(m, 10000);
        if (w != WAIT_OBJECT_0 && w != WAIT_ABANDONED) return;
    }
    EnterCriticalSection(CacheLock());
    m_held = true;
}

CStoreLock::~CStoreLock() {
    if (!m_held) return;
    LeaveCriticalSection(CacheLock());
    if (m_write) ReleaseMutex(StoreMutex());
}

bool StoreDir(std::string& dir) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("TOKENSIM_STORE", path, sizeof(path));
    if (n == 0 || n >= sizeof(path)) {
        if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0,
                                    path)))
            return false;
        dir = path;
        dir += "\\tokensim";
    } else {
        dir = path;
    }
    while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    return CreateDirs(dir);
}

bool ValidKeyName(const char* keyName) {
    if (!keyName || !keyName[0] || keyName[0] == '.') return false;
    size_t n = 0;
    for (; keyName[n]; ++n) {
        char c = keyName[n];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-' || c == '.';
        if (!ok || n >= TS_KEY_NAME_MAX) return false;
    }
    return lstrcmpiA(keyName, "index") != 0;
}

TOKEN_RESULT LoadIndex(CIndex& index) {
    index = CIndex();
    std::string text;
    TOKEN_RESULT r = ReadWhole(PathOf("index.txt"), text);
    if (r == TS_E_NOT_FOUND) return 0;
    if (r != 0) return r;
    bool haveNext = false;
    bool ok = ForEachLine(text, kIndexMagic, [&](const CFields& f) -> bool {
        if (f.Is(0, "next") && f.count == 2 && !haveNext && index.keys.empty()) {
            haveNext = ParseU32(f.at[1], f.len[1], index.next) && index.next != 0;
            return haveNext;
        }
        if (f.Is(0, "key") && f.count == 4) {
            CIndexEntry e;
            uint32_t inserted = 0;
            if (!ParseU32(f.at[1], f.len[1], e.id) || e.id == 0 || e.id >= index.next ||
                !ParseBytes(f, 2, e.name) || !ValidKeyName(e.name.c_str()) ||
                !ParseU32(f.at[3], f.len[3], inserted) || inserted > 1 || index.FindId(e.id) ||
                index.FindName(e.name))
                return false;
            e.inserted = inserted != 0;
            index.keys.push_back(e);
            return true;
        }
        return false;
    });
    return ok && haveNext ? 0 : TS_E_STORE;
}

TOKEN_RESULT SaveIndex(const CIndex& index) {
    std::string out = kIndexMagic;
    out += "\nnext ";
    AppendU32(out, index.next);
    for (const CIndexEntry& e : index.keys) {
        out += "\nkey ";
        AppendU32(out, e.id);
        out += " ";
        AppendBytes(out, e.name);
        out += e.inserted ? " 1" : " 0";
    }
    out += "\nend\n";
    return WriteReplacing(PathOf("index.txt"), out);
}

TOKEN_RESULT LoadKey(const std::string& keyName, CKey& key) {
    if (!ValidKeyName(keyName.c_str())) return TS_E_INVALID_PARAMETER;
    std::string text;
    TOKEN_RESULT r = ReadWhole(PathOf(keyName + ".key"), text);
    if (r == TS_E_NOT_FOUND) return TS_E_STORE;   // the index names a key that is gone
    if (r != 0) return r;
    if (!ParseKey(text, key) || lstrcmpiA(key.name.c_str(), keyName.c_str()) != 0)
        return TS_E_STORE;
    return 0;
}

TOKEN_RESULT SaveKey(const CKey& key) {
    if (!ValidKeyName(key.name.c_str())) return TS_E_INVALID_PARAMETER;
    return WriteReplacing(PathOf(key.name + ".key"), FormatKey(key));
}

TOKEN_RESULT DeleteKeyFile(const std::string& keyName) {
    if (!ValidKeyName(keyName.c_str())) return TS_E_INVALID_PARAMETER;
    std::string path = PathOf(keyName + ".key");
    if (path.empty()) return TS_E_STORE;
    return (DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) ? 0 : TS_E_STORE;
}

TOKEN_RESULT LoadInsertedKey(TOKEN_KEY handle, CKey& key) {
    if (handle == 0) return TS_E_INVALID_HANDLE;
    CIndex index;
    TOKEN_RESULT r = LoadIndex(index);
    if (r != 0) return r;
    CIndexEntry* e = index.FindId(handle);
    if (!e) return TS_E_INVALID_HANDLE;
    if (!e->inserted) return TS_E_KEY_REMOVED;
    std::string keyName = e->name;
    r = LoadKey(keyName, key);
    if (r == TS_E_STORE) {
        // A reader may see the index just before a key was deleted: look again.
        if (LoadIndex(index) != 0) return TS_E_STORE;
        e = index.FindId(handle);
        if (!e) return TS_E_INVALID_HANDLE;
        if (!e->inserted) return TS_E_KEY_REMOVED;
    }
    if (r != 0) return r;
    return key.id == handle ? 0 : TS_E_STORE;
}

std::string ToHex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out(bytes.size() * 2, '0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        out[2 * i] = kDigits[b >> 4];
        out[2 * i + 1] = kDigits[b & 15];
    }
    return out;
}

bool FromHex(const char* text, size_t length, std::string& bytes) {
    if (length % 2 != 0) return false;
    bytes.resize(length / 2);
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        int v = (c >= '0' && c <= '9') ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (v < 0) return false;
        if (i % 2 == 0) bytes[i / 2] = static_cast<char>(v << 4);
        else bytes[i / 2] = static_cast<char>(bytes[i / 2] | v);
    }
    return true;
}

}  // namespace tokensim

// The folder store of the simulated keys, shared by every process.
//
// Folder: %TOKENSIM_STORE%, else "tokensim" under the user's local application
// data; looked up on every call, so a test may switch stores at any time.
//   index.txt      every key: id, name, inserted or not, in listing order
//   <name>.key     one key: label, status, password, containers, files
// Both are line-oriented text with every variable field in hex; a file that
// does not parse whole is reported as damaged (TS_E_STORE), never half-used.
// A write goes to "<file>.new" first and is then renamed over the old file.
// One named mutex serialises all readers and writers of every process.
#pragma once
#include "tokensim/Codes.h"

#include <string>
#include <vector>

namespace tokensim {

struct CTokenFile {
    uint16_t id = 0;
    uint32_t kind = 0;
    std::string name;
    std::string data;   // exactly the file's size
};

struct CContainer {
    std::string name;
    uint32_t flags = 0;
    std::string cert[2];   // DER of the exchange and signature certificates; empty: none
};

struct CKey {
    uint32_t id = 0;
    std::string name;
    std::string label;     // GBK, at most TOKEN_LABEL_MAX bytes
    uint32_t status = 2;   // 1 = not initialised, 2 = ready; 4 is reported while verified
    bool verified = false;
    std::string pin;
    uint32_t tries = 6;
    uint32_t maxTries = 6;
    std::vector<CContainer> containers;
    std::vector<CTokenFile> files;

    CContainer* FindContainer(const char* containerName);
    CTokenFile* FindFile(uint32_t fileId);
    uint32_t ReportedStatus() const { return (verified && status > 1) ? 4u : status; }
};

struct CIndexEntry {
    uint32_t id = 0;
    std::string name;
    bool inserted = false;
};

struct CIndex {
    uint32_t next = 0x1001;   // the id (and handle) of the next key created
    std::vector<CIndexEntry> keys;

    CIndexEntry* FindName(const std::string& keyName);
    CIndexEntry* FindId(uint32_t id);
};

// A writer holds the store's mutex, which every process shares, while it
// reads, changes and writes files. A reader needs no mutex: every file is
// replaced whole by a rename, so it reads an old or a new file, never half
// of one. Both hold this process's lock of the read cache. Ok() is false
// when the mutex could not be taken.
class CStoreLock {
public:
    explicit CStoreLock(bool write = true);
    ~CStoreLock();
    bool Ok() const { return m_held; }
private:
    CStoreLock(const CStoreLock&) = delete;
    CStoreLock& operator=(const CStoreLock&) = delete;
    bool m_write;
    bool m_held;
};

// The store folder; false when it can neither be found nor created.
bool StoreDir(std::string& dir);
bool ValidKeyName(const char* keyName);

// All of these expect the lock to be held.
TOKEN_RESULT LoadIndex(CIndex& index);        // a missing index is an empty one
TOKEN_RESULT SaveIndex(const CIndex& index);
TOKEN_RESULT LoadKey(const std::string& keyName, CKey& key);
TOKEN_RESULT SaveKey(const CKey& key);
TOKEN_RESULT DeleteKeyFile(const std::string& keyName);

// Loads the inserted key of a handle: TS_E_INVALID_HANDLE for a handle no key
// has, TS_E_KEY_REMOVED for a key that is not inserted.
TOKEN_RESULT LoadInsertedKey(TOKEN_KEY handle, CKey& key);

// Text helpers shared with the command-line tool.
std::string ToHex(const std::string& bytes);
bool FromHex(const char* text, size_t length, std::string& bytes);

}  // namespace tokensim

// Exports of the stand-in: token files with 16-bit ids, a name and a fixed size.
#include "tokensim/Library.h"

#include <string.h>

using namespace tokensim;

namespace {

// offset + length within size, without overflow.
bool InFile(uint32_t offset, uint32_t length, size_t size) {
    return static_cast<uint64_t>(offset) + length <= size;
}

}  // namespace

extern "C" {

TOKEN_RESULT __stdcall CSP_FileAllID(TOKEN_KEY key, uint16_t* count, uint16_t* ids) {
    TOKEN_RESULT injected = 0;
    if (FaultFail(&injected)) return injected;
    if (!count || !ids) return TS_E_INVALID_PARAMETER;
    if (FaultHostile()) {   // a count beyond the array's room; the array filled whole
        for (uint32_t i = 0; i < TOKEN_MAX_FILE_IDS; ++i) ids[i] = static_cast<uint16_t>(FaultRandom());
        *count = static_cast<uint16_t>(TOKEN_MAX_FILE_IDS + 1 + FaultRandom() % 60000);
        return 0;
    }
    CStoreLock lock(false);
    if (!lock.Ok()) return TS_E_STORE;
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    uint16_t n = 0;
    for (const CTokenFile& f : k.files) {
        if (n == TOKEN_MAX_FILE_IDS) break;
        ids[n++] = f.id;
    }
    *count = n;
    return 0;
}

// fileId in/out: a non-zero id is used as given; 0 asks for a free one.
TOKEN_RESULT __stdcall CSP_FileCreate(TOKEN_KEY key, uint32_t kind, char* name, uint32_t,
                                      uint32_t size, uint32_t* fileId) {
    TOKEN_RESULT injected = 0;
    if (FaultFail(&injected)) return injected;
    if (!name || !fileId || *fileId > 0xFFFF || size == 0 || size > TS_FILE_SIZE_MAX)
        return TS_E_INVALID_PARAMETER;
    size_t nameLength = BoundedLength(name, TS_FILE_NAME_MAX);
    if (nameLength > TS_FILE_NAME_MAX) return TS_E_INVALID_PARAMETER;
    CStoreLock lock;
    if (!lock.Ok()) return TS_E_STORE;
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    uint32_t id = *fileId;
    if (id == 0) {
        for (id = 0x1000; id <= 0xFFFF && k.FindFile(id); ++id) {
        }
        if (id > 0xFFFF) return TS_E_NO_ROOM;
    } else if (k.FindFile(id)) {
        return TS_E_EXISTS;
    }
    if (k.files.size() >= TS_FILES_MAX) return TS_E_NO_ROOM;
    CTokenFile f;
    f.id = static_cast<uint16_t>(id);
    f.kind = kind;
    f.name.assign(name, nameLength);
    f.data.assign(size, '\0');
    k.files.push_back(f);
    r = SaveKey(k);
    if (r == 0) *fileId = id;
    return r;
}

TOKEN_RESULT __stdcall CSP_FileRead(TOKEN_KEY key, uint32_t fileId, uint32_t offset,
                                    uint32_t length, BYTE* buffer) {
    TOKEN_RESULT injected = 0;
    if (FaultFail(&injected)) return injected;
    if (!buffer) return TS_E_INVALID_PARAMETER;
    if (FaultHostile()) {   // the asked length, with no zero byte anywhere
        FaultFill(buffer, length < TS_FILE_SIZE_MAX ? length : TS_FILE_SIZE_MAX);
        return 0;
    }
    CStoreLock lock(false);
    if (!lock.Ok()) return TS_E_STORE;
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    const CTokenFile* f = k.FindFile(fileId);
    if (!f) return TS_E_NOT_FOUND;
    if (!InFile(offset, length, f->data.size())) return TS_E_BAD_LENGTH;
    memcpy(buffer, f->data.data() + offset, length);
    return 0;
}

TOKEN_RESULT __stdcall CSP_FileWrite(TOKEN_KEY key, uint32_t fileId, uint32_t offset,
                                     uint32_t length, BYTE* buffer) {
    TOKEN_RESULT injected = 0;
    if (FaultFail(&injected)) return injected;
    if (!buffer) return TS_E_INVALID_PARAMETER;
    CStoreLock lock;
    if (!lock.Ok()) return TS_E_STORE;
    CKey k;
    TOKEN_RESULT r = LoadInsertedKey(key, k);
    if (r != 0) return r;
    CTokenFile* f = k.FindFile(fileId);
    if (!f) return TS_E_NOT_FOUND;
    if (!InFile(offset, length, f->data.size())) return TS_E_BAD_LENGTH;
    memcpy(&f->data[offset], buffer, length);
    return SaveKey(k);
}

}  // extern "C"

// The web pop-up file on a key: file "WEBFILE", id 0xEF11, 260 bytes. It
// holds the address to open when the key is inserted, as text ending with a
// zero byte; all zeros means no address.
#pragma once
#include "token/token.h"
#include <cstring>

#define WEBFILE_ID    0xEF11u
#define WEBFILE_SIZE  260u
#define WEBFILE_NAME  "WEBFILE"

// The length of the address in a record read from the file. A record
// without a terminating zero holds no address.
inline size_t WebFileAddressLength(const BYTE* record) {
    const BYTE* end = (const BYTE*)memchr(record, 0, WEBFILE_SIZE);
    return end ? (size_t)(end - record) : 0;
}

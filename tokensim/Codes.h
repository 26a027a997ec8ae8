// Result codes of the stand-in token library beyond the ones token.h names.
// The password status words follow the smart-card convention the tool tests
// (0x63Cx, 0x6983); the rest are the crypto API's and smart-card API's codes.
#pragma once
#include "token/token.h"

#define TS_E_INVALID_PARAMETER   0x80090027u   // null pointer, bad value, name too long
#define TS_E_BAD_LENGTH          0x80090004u   // offset/length outside a token file
#define TS_E_BAD_DATA            0x80090005u   // not a certificate / not PKCS #12
#define TS_E_NO_PRIVATE_KEY      0x8009000Du   // PKCS #12 without a private key
#define TS_E_EXISTS              0x8009000Fu   // file id or container already there
#define TS_E_NOT_FOUND           0x80090011u   // no such container, certificate or file
#define TS_E_BUFFER_TOO_SMALL    0x80090028u   // the caller's capacity is too small
#define TS_E_PFX_PASSWORD        0x80070056u   // wrong PKCS #12 password
#define TS_E_STORE               0x80100001u   // the key store is damaged or unreadable
#define TS_E_INVALID_HANDLE      0x80100003u   // no key has this handle
#define TS_E_KEY_REMOVED         0x80100069u   // the key of this handle is not inserted
#define TS_E_CERT_STORE          0x80092004u   // the system certificate store refused
#define TS_E_PASSWORD_FORMAT     0x00006A80u   // a new password of the wrong length
#define TS_E_NOT_VERIFIED        0x00006982u   // the user password was not verified
#define TS_E_NO_ROOM             0x00006A84u   // no room for another file or container
#define TS_E_INJECTED            0x8010001Fu   // a failure made up by the fault mode

// Limits of a simulated key.
#define TS_CONTAINER_NAME_MAX    65u
#define TS_CONTAINERS_MAX        32u
#define TS_PIN_MIN               6u
#define TS_TRIES_MAX             15u      // the tries left fit the low nibble of 0x63Cx
#define TS_FILES_MAX             TOKEN_MAX_FILE_IDS
#define TS_FILE_NAME_MAX         32u
#define TS_FILE_SIZE_MAX         32768u
#define TS_KEY_NAME_MAX          32u
#define TS_MARKER                0x514B4D57u   // what ordinal 1 answers, in every process

// Calls every function of the token library once, through token.h.
//
// Built for both targets. On i686 its link is the calling-convention check:
// the import library resolves only CSP_X@<argument bytes> and the cdecl
// _TokenWindowMarker, so a declaration in token.h with a wrong convention or
// argument list leaves an undefined symbol. Its import table is then checked
// by check-imports.sh. It is never run.
#include "token/token.h"

#include <type_traits>

// The same facts in the type system, so a mismatch names the function.
#define TOKEN_EXPECT(fn, ...) \
    static_assert(std::is_same<decltype(&fn), __VA_ARGS__>::value, #fn " has the wrong signature")
TOKEN_EXPECT(CSP_GetSlotList, TOKEN_RESULT(__stdcall*)(TOKEN_KEY*, uint32_t*));
TOKEN_EXPECT(CSP_GetSlotStatus, TOKEN_RESULT(__stdcall*)(TOKEN_KEY, uint32_t*));
TOKEN_EXPECT(CSP_GetUsbKeyLabel, TOKEN_RESULT(__stdcall*)(TOKEN_KEY, char*));
TOKEN_EXPECT(CSP_SetUsbKeyLabel, TOKEN_RESULT(__stdcall*)(TOKEN_KEY, char*));
TOKEN_EXPECT(CSP_VerifyPassword, TOKEN_RESULT(__stdcall*)(TOKEN_KEY, uint32_t, char*));
TOKEN_EXPECT(CSP_ChangePassword, TOKEN_RESULT(__stdcall*)(TOKEN_KEY, uint32_t, char*, char*));
TOKEN_EXPECT(CSP_Reset, TOKEN_RESULT(__stdcall*)(TOKEN_KEY));
TOKEN_EXPECT(CSP_ContainerCount, TOKEN_RESULT(__stdcall*)(TOKEN_KEY, uint32_t*));
TOKEN_EXPECT(CSP_ContainerInfo,
             TOKEN_RESULT(__stdcall*)(TOKEN_KEY, uint32_t, uint32_t*, uint32_t, char*));
TOKEN_EXPECT(CSP_ReadCertByName,
             TOKEN_RESULT(__stdcall*)(TOKEN_KEY, char*, uint32_t, uint32_t*, BYTE*));
TOKEN_EXPECT(CSP_DeleteContainerByName, TOKEN_RESULT(__stdcall*)(TOKEN_KEY, char*));
TOKEN_EXPECT(CSP_ImportPfxCert,
             TOKEN_RESULT(__stdcall*)(HWND, TOKEN_KEY, char*, CRYPT_DATA_BLOB*));
TOKEN_EXPECT(CSP_AddCertToIE, TOKEN_RESULT(__stdcall*)(BYTE*, uint32_t, uint32_t, char*));
TOKEN_EXPECT(CSP_LoadCertToIE, TOKEN_RESULT(__stdcall*)(TOKEN_KEY, uint32_t));
TOKEN_EXPECT(CSP_UnloadIECert, TOKEN_RESULT(__stdcall*)(void));
TOKEN_EXPECT(CSP_FileAllID, TOKEN_RESULT(__stdcall*)(TOKEN_KEY, uint16_t*, uint16_t*));
TOKEN_EXPECT(CSP_FileCreate, TOKEN_RESULT(__stdcall*)(TOKEN_KEY, uint32_t, char*, uint32_t,
                                                      uint32_t, uint32_t*));
TOKEN_EXPECT(CSP_FileRead,
             TOKEN_RESULT(__stdcall*)(TOKEN_KEY, uint32_t, uint32_t, uint32_t, BYTE*));
TOKEN_EXPECT(CSP_FileWrite,
             TOKEN_RESULT(__stdcall*)(TOKEN_KEY, uint32_t, uint32_t, uint32_t, BYTE*));
TOKEN_EXPECT(TokenWindowMarker, uint32_t(__cdecl*)(uint32_t, uint32_t));
static_assert(sizeof(TOKEN_KEY) == 4 && sizeof(TOKEN_RESULT) == 4, "32-bit handle and result");

int main(int argc, char**) {
    if (argc >= 0) return 0;   // never runs the calls below; they only need to link
    TOKEN_KEY keys[TOKEN_MAX_KEYS] = {};
    uint32_t n = 0, status = 0, flags = 0, length = 0, id = 0;
    char text[TOKEN_LABEL_BUFFER] = {};
    BYTE bytes[260] = {};
    uint16_t count = 0, ids[TOKEN_MAX_FILE_IDS] = {};
    CRYPT_DATA_BLOB blob = {};
    TOKEN_RESULT r = 0;
    r |= CSP_GetSlotList(keys, &n);
    r |= CSP_GetSlotStatus(keys[0], &status);
    r |= CSP_GetUsbKeyLabel(keys[0], text);
    r |= CSP_SetUsbKeyLabel(keys[0], text);
    r |= CSP_VerifyPassword(keys[0], TOKEN_USER, nullptr);
    r |= CSP_ChangePassword(keys[0], TOKEN_USER, text, text);
    r |= CSP_Reset(keys[0]);
    r |= CSP_ContainerCount(keys[0], &n);
    r |= CSP_ContainerInfo(keys[0], 0, &flags, TOKEN_CONTAINER_NAME_CAP, text);
    r |= CSP_ReadCertByName(keys[0], text, TOKEN_SPEC_EXCHANGE, &length, bytes);
    r |= CSP_DeleteContainerByName(keys[0], text);
    r |= CSP_ImportPfxCert(nullptr, keys[0], text, &blob);
    r |= CSP_AddCertToIE(bytes, length, TOKEN_SPEC_SIGNATURE, text);
    r |= CSP_LoadCertToIE(keys[0], TOKEN_LOADCERT_ALL);
    r |= CSP_UnloadIECert();
    r |= CSP_FileAllID(keys[0], &count, ids);
    r |= CSP_FileCreate(keys[0], 7, text, 0, 260, &id);
    r |= CSP_FileRead(keys[0], id, 0, 260, bytes);
    r |= CSP_FileWrite(keys[0], id, 0, 260, bytes);
    r |= TokenWindowMarker(0, 0);
    return static_cast<int>(r);
}

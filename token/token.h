// Interface of the vendor's token library MorvaneFun_qrvl.dll.
//
// The tool imports the named functions by name and the window-marker function
// by ordinal 1, through the import library made from MorvaneFun_qrvl.def, so
// the shipped exe loads the vendor's real DLL. The named functions clean their
// own arguments (stdcall); the ordinal-1 function leaves that to the caller
// (cdecl). The stand-in in tokensim/ exports exactly the same.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <stdint.h>

typedef uint32_t TOKEN_KEY;      // one inserted key; 0 = no key
typedef uint32_t TOKEN_RESULT;   // 0 = success

// Results that callers interpret.
#define TOKEN_OK                    0x00000000u
#define TOKEN_PIN_WRONG_BASE        0x000063C0u   // low 16 bits 0x63C0 + tries left
#define TOKEN_PIN_WRONG_MASK        0x0000FFF0u
#define TOKEN_PIN_LOCKED            0x00006983u
#define TOKEN_PIN_NO_VERDICT        0x80090020u   // password step ended without a verdict

// Key specifications and user type.
#define TOKEN_SPEC_EXCHANGE         1u   // AT_KEYEXCHANGE
#define TOKEN_SPEC_SIGNATURE        2u   // AT_SIGNATURE
#define TOKEN_USER                  1u

// Container flag bits (CSP_ContainerInfo).
#define TOKEN_CF_SPEC1_CERT         0x01u
#define TOKEN_CF_SPEC2_CERT         0x02u
#define TOKEN_CF_SPEC1_KEY          0x04u
#define TOKEN_CF_SPEC2_KEY          0x08u

// Capacities that callers give and the library honours.
#define TOKEN_MAX_KEYS              256u      // CSP_GetSlotList handle array
#define TOKEN_LABEL_BUFFER          100u      // CSP_GetUsbKeyLabel out buffer
#define TOKEN_LABEL_MAX             15u       // bytes of a label
#define TOKEN_PIN_MAX               16u       // bytes of a password
#define TOKEN_CONTAINER_NAME_CAP    66u       // CSP_ContainerInfo name capacity
#define TOKEN_CERT_MAX              409600u   // CSP_ReadCertByName buffer
#define TOKEN_MAX_FILE_IDS          50u       // CSP_FileAllID id array
#define TOKEN_LOADCERT_ALL          3u        // second argument of CSP_LoadCertToIE

#ifdef __cplusplus
extern "C" {
#endif

TOKEN_RESULT __stdcall CSP_GetSlotList(TOKEN_KEY* keys, uint32_t* count);
TOKEN_RESULT __stdcall CSP_GetSlotStatus(TOKEN_KEY key, uint32_t* status);
TOKEN_RESULT __stdcall CSP_GetUsbKeyLabel(TOKEN_KEY key, char* label);
TOKEN_RESULT __stdcall CSP_SetUsbKeyLabel(TOKEN_KEY key, char* label);
TOKEN_RESULT __stdcall CSP_VerifyPassword(TOKEN_KEY key, uint32_t userType, char* password);
TOKEN_RESULT __stdcall CSP_ChangePassword(TOKEN_KEY key, uint32_t userType,
                                          char* oldPassword, char* newPassword);
TOKEN_RESULT __stdcall CSP_Reset(TOKEN_KEY key);
TOKEN_RESULT __stdcall CSP_ContainerCount(TOKEN_KEY key, uint32_t* count);
TOKEN_RESULT __stdcall CSP_ContainerInfo(TOKEN_KEY key, uint32_t index, uint32_t* flags,
                                         uint32_t nameCapacity, char* name);
TOKEN_RESULT __stdcall CSP_ReadCertByName(TOKEN_KEY key, char* containerName, uint32_t keySpec,
                                          uint32_t* length, BYTE* cert);
TOKEN_RESULT __stdcall CSP_DeleteContainerByName(TOKEN_KEY key, char* containerName);
TOKEN_RESULT __stdcall CSP_ImportPfxCert(HWND owner, TOKEN_KEY key, char* password,
                                         CRYPT_DATA_BLOB* pfx);
TOKEN_RESULT __stdcall CSP_AddCertToIE(BYTE* cert, uint32_t length, uint32_t keySpec,
                                       char* containerName);
TOKEN_RESULT __stdcall CSP_LoadCertToIE(TOKEN_KEY key, uint32_t what);
TOKEN_RESULT __stdcall CSP_UnloadIECert(void);
TOKEN_RESULT __stdcall CSP_FileAllID(TOKEN_KEY key, uint16_t* count, uint16_t* ids);
TOKEN_RESULT __stdcall CSP_FileCreate(TOKEN_KEY key, uint32_t kind, char* name, uint32_t reserved,
                                      uint32_t size, uint32_t* fileId);
TOKEN_RESULT __stdcall CSP_FileRead(TOKEN_KEY key, uint32_t fileId, uint32_t offset,
                                    uint32_t length, BYTE* buffer);
TOKEN_RESULT __stdcall CSP_FileWrite(TOKEN_KEY key, uint32_t fileId, uint32_t offset,
                                     uint32_t length, BYTE* buffer);

// Ordinal 1, no name: the window marker, the same value in every process.
uint32_t __cdecl TokenWindowMarker(uint32_t zero1, uint32_t zero2);

#ifdef __cplusplus
}
#endif

#include "pages/KeyPresence.h"

const char kKeyRemovedText[] = "USBKEY已拔出，操作已取消！";

BOOL IsKeyInserted(TOKEN_KEY key) {
    if (key == 0) return FALSE;
    // A list of its own: the main window's key list changes only with the
    // device-change handling and the refresh.
    TOKEN_KEY keys[TOKEN_MAX_KEYS] = {};
    uint32_t count = 0;
    if (CSP_GetSlotList(keys, &count) != TOKEN_OK) return FALSE;
    uint32_t inList = count < TOKEN_MAX_KEYS ? count : TOKEN_MAX_KEYS;
    for (uint32_t i = 0; i < inList; ++i)
        if (keys[i] == key) return TRUE;
    return FALSE;
}

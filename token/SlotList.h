// The process-wide key list, filled only by CSP_GetSlotList (the key list
// and the device changes in devices/), read by the tray tooltip in app/.
#pragma once
#include "token/token.h"

extern TOKEN_KEY g_slotList[TOKEN_MAX_KEYS];
extern uint32_t g_slotCount;   // keys the library last reported; above 0 = a key is present

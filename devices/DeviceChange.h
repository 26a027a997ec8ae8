// Insertion and removal of keys, and the web pop-up file read at insertion.
#pragma once
#include "token/token.h"

// How long the main window lets a device change settle before it lists the
// keys again (milliseconds). Tests set it to 0.
extern DWORD g_deviceSettleMs;

// Reads the web pop-up file of key into text (260 bytes, all zero on entry).
// 1 = the library calls succeeded (length 0: no address), 0 = a call failed.
int ReadWebFile(TOKEN_KEY key, char* text, uint32_t* length);

// Only http:// and https:// addresses (scheme in any case) are opened.
bool IsWebAddress(const char* text);

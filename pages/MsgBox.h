// The tool's message boxes, all captioned "提示".
#pragma once
#include <windows.h>
#include <stdint.h>

int WarnBox(HWND owner, const char* text);   // MB_ICONWARNING
int InfoBox(HWND owner, const char* text);   // MB_ICONINFORMATION
// Warning box for a password status word of the token library: the format
// (one %d) with the tries left for 0x63C1..0x63CF in the low 16 bits, else
// the fallback text.
int PasswordStatusBox(HWND owner, const char* format, const char* fallback, uint32_t status);

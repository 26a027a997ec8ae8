// Tray notifications by index, from any process.
#pragma once
#include <stdint.h>

#define NOTIFY_TEXT_COUNT 21u
extern const char* const NotifyTexts[NOTIFY_TEXT_COUNT];

// Posts WM_USER+5 with the index to every main window of the tool on the
// desktop (class "#32770", the title, and the window marker in its user data).
void NotifyMainWindows(uint32_t index);

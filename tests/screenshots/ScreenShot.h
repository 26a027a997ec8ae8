// Pictures of the screen for the README, shared by the screenshot drivers.
#pragma once
#include <windows.h>
#include <string>

// Saves the screen's rectangle as a bottom-up 24-bit BMP.
bool SaveScreen(const RECT& rc, const std::string& path);
// The window's rectangle on the screen, grown by margin on each side.
RECT Around(HWND wnd, int margin);

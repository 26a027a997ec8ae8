// The notification area as the shell shows it, read from any process: the
// icon windows of Wine's standalone tray, and the texts of the shell's
// tooltip controls (the visible ones are balloons, the hidden ones hold the
// icons' tooltips). Shared by the tray tests and the end-to-end journeys.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace shelltray {

std::string ClassOf(HWND wnd);

// The icon windows of the shell's tray (children of the standalone tray).
std::vector<HWND> TrayIcons();

// The text of one tooltip control of process pid (its first tool), read
// through that process's memory.
std::string BalloonText(HWND wnd, DWORD pid);
std::wstring BalloonTextW(HWND wnd, DWORD pid);   // the same, as the control holds it

// The texts of the visible balloons, as the shell holds them (UTF-16: a text
// that is not valid GBK keeps its length here).
std::vector<std::wstring> BalloonsW();

// Texts of the tooltip controls of other processes, visible or hidden ones.
std::vector<std::string> ShellToolTexts(bool visible);

bool Contains(const std::vector<std::string>& texts, const std::string& text);

// Whether a balloon with exactly this text (GBK) is up.
bool BalloonShown(const std::string& text);

// The tray menu: a tracked pop-up menu ("#32768") runs its own loop in the
// process that tracks it. The visible menu window of process pid, if any.
HWND MenuWindow(DWORD pid);
// The item texts of a menu window of this process (a menu handle is good
// only in its own process).
std::vector<std::string> MenuTexts(HWND menu);
// Posts each key (VK_DOWN/VK_UP to move, VK_RETURN to choose) to the menu
// window, down and up; the menu's loop reads them in order.
void PressMenuKeys(HWND menu, const std::vector<WPARAM>& keys);

}  // namespace shelltray

#include "tests/support/ShellTray.h"
#include <commctrl.h>

namespace shelltray {

std::string ClassOf(HWND wnd) {
    char name[64] = {};
    GetClassNameA(wnd, name, sizeof name);
    return name;
}

std::vector<HWND> TrayIcons() {
    std::vector<HWND> icons;
    HWND tray = nullptr;
    while ((tray = FindWindowExA(nullptr, tray, "__winex11_standalone_tray", nullptr)) != nullptr)
        for (HWND c = GetWindow(tray, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (ClassOf(c) == "__winex11_tray_icon") icons.push_back(c);
    return icons;
}

// A balloon is a tooltip control of the shell's process whose window text is
// empty; its one tool holds the text. The tool record and the text buffer
// must live in that process, so they are placed there.
std::string BalloonText(HWND wnd, DWORD pid) {
    std::string text;
    HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!proc) return text;
    const SIZE_T kTextOffset = 512, kTextChars = 1024;
    BYTE* remote = (BYTE*)VirtualAllocEx(proc, nullptr, kTextOffset + kTextChars * sizeof(WCHAR), MEM_COMMIT, PAGE_READWRITE);
    if (remote) {
        TTTOOLINFOW ti = {};
        ti.cbSize = sizeof ti;
        ti.lpszText = (LPWSTR)(remote + kTextOffset);
        WCHAR none = 0;
        SIZE_T done = 0;
        WriteProcessMemory(proc, remote, &ti, sizeof ti, &done);
        WriteProcessMemory(proc, remote + kTextOffset, &none, sizeof none, &done);
        if (SendMessageW(wnd, TTM_ENUMTOOLSW, 0, (LPARAM)remote)) {
            WCHAR wide[kTextChars] = {};
            ReadProcessMemory(proc, remote + kTextOffset, wide, sizeof wide - sizeof(WCHAR), &done);
            char narrow[kTextChars * 2] = {};
            WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
            text = narrow;
        }
        VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
    }
    CloseHandle(proc);
    return text;
}

namespace {
struct ToolTexts {
    bool visible;
    std::vector<std::string> texts;
};
BOOL CALLBACK CollectToolTexts(HWND wnd, LPARAM out) {
    auto* tt = reinterpret_cast<ToolTexts*>(out);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid != GetCurrentProcessId() && (IsWindowVisible(wnd) != FALSE) == tt->visible &&
        ClassOf(wnd) == "tooltips_class32")
        tt->texts.push_back(BalloonText(wnd, pid));
    return TRUE;
}
}  // namespace

std::vector<std::string> ShellToolTexts(bool visible) {
    ToolTexts tt = {visible, {}};
    EnumWindows(CollectToolTexts, (LPARAM)&tt);
    return tt.texts;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    for (const auto& t : texts)
        if (t == text) return true;
    return false;
}

bool BalloonShown(const std::string& text) { return Contains(ShellToolTexts(true), text); }

HWND MenuWindow(DWORD pid) {
    HWND menu = nullptr;
    while ((menu = FindWindowExA(nullptr, menu, "#32768", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(menu, &owner);
        if (owner == pid && IsWindowVisible(menu)) return menu;
    }
    return nullptr;
}

std::vector<std::string> MenuTexts(HWND menu) {
    std::vector<std::string> texts;
    HMENU h = (HMENU)SendMessageA(menu, 0x01E1 /* MN_GETHMENU */, 0, 0);
    for (int i = 0; h && i < GetMenuItemCount(h); ++i) {
        char text[64] = {};
        GetMenuStringA(h, i, text, sizeof text, MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

void PressMenuKeys(HWND menu, const std::vector<WPARAM>& keys) {
    for (WPARAM key : keys) {
        PostMessageA(menu, WM_KEYDOWN, key, 1);
        PostMessageA(menu, WM_KEYUP, key, 0xC0000001);
    }
}

}  // namespace shelltray

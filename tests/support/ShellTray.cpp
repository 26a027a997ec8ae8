#include "tests/support/ShellTray.h"
#include "tests/support/RemotePage.h"
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
std::wstring BalloonTextW(HWND wnd, DWORD pid) {
    std::wstring text;
    const size_t kTextOffset = 512, kTextChars = 2048;
    remote::CRemotePage page(pid, kTextOffset + (kTextChars + 1) * sizeof(WCHAR));
    if (!page.Ok()) return text;
    TTTOOLINFOW ti = {};
    ti.cbSize = sizeof ti;
    ti.lpszText = (LPWSTR)page.At(kTextOffset);
    page.Write(0, &ti, sizeof ti);   // the rest of a new page is zero: an empty text
    DWORD_PTR found = 0;
    if (SendMessageTimeoutW(wnd, TTM_ENUMTOOLSW, 0, (LPARAM)page.At(0), SMTO_ABORTIFHUNG, 2000, &found) && found) {
        std::vector<WCHAR> wide(kTextChars + 1, 0);
        page.Read(kTextOffset, wide.data(), kTextChars * sizeof(WCHAR));
        text = wide.data();
    }
    return text;
}

std::string BalloonText(HWND wnd, DWORD pid) {
    std::wstring wide = BalloonTextW(wnd, pid);
    int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::vector<char> narrow((size_t)size, 0);
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow.data(), size, nullptr, nullptr);
    return narrow.data();
}

namespace {
struct ToolTexts {
    bool visible;
    std::vector<std::wstring> texts;
};
BOOL CALLBACK CollectToolTexts(HWND wnd, LPARAM out) {
    auto* tt = reinterpret_cast<ToolTexts*>(out);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid != GetCurrentProcessId() && (IsWindowVisible(wnd) != FALSE) == tt->visible &&
        ClassOf(wnd) == "tooltips_class32")
        tt->texts.push_back(BalloonTextW(wnd, pid));
    return TRUE;
}
std::vector<std::wstring> ToolTextsW(bool visible) {
    ToolTexts tt = {visible, {}};
    EnumWindows(CollectToolTexts, (LPARAM)&tt);
    return tt.texts;
}
}  // namespace

std::vector<std::string> ShellToolTexts(bool visible) {
    std::vector<std::string> texts;
    for (const auto& wide : ToolTextsW(visible)) {
        char narrow[4096] = {};
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow, sizeof narrow - 1, nullptr, nullptr);
        texts.push_back(narrow);
    }
    return texts;
}

std::vector<std::wstring> BalloonsW() { return ToolTextsW(true); }

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

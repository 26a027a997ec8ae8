// The tray icon as the shell shows it: the icon windows of Wine's standalone
// tray, the balloon windows, the real tray menu chosen from with the keyboard,
// and real mouse clicks on the icon.
#include "app/DlgMain.h"
#include "devices/DeviceChange.h"
#include "devices/KeyList.h"
#include "devices/UsbCleanup.h"
#include "res/BankSites.h"
#include "res/resource.h"
#include "tests/fake/FakeToken.h"
#include "tests/support/ShellLog.h"
#include "tests/support/TestSupport.h"
#include <commctrl.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string ClassOf(HWND wnd) {
    char name[64] = {};
    GetClassNameA(wnd, name, sizeof name);
    return name;
}

// The icon windows of the shell's tray (children of the standalone tray).
std::vector<HWND> TrayIcons() {
    std::vector<HWND> icons;
    HWND tray = nullptr;
    while ((tray = FindWindowExA(nullptr, tray, "__winex11_standalone_tray", nullptr)) != nullptr)
        for (HWND c = GetWindow(tray, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (ClassOf(c) == "__winex11_tray_icon") icons.push_back(c);
    return icons;
}

// The text of a balloon: a tooltip control of the shell's process whose
// window text is empty; its one tool holds the text. The tool record and the
// text buffer must live in that process, so they are placed there.
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

// Texts of the shell's tooltip controls: the visible ones are balloons; the
// hidden ones include each icon's tooltip.
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

// The tracked tray menu runs its own loop; a timer finds the menu window and
// posts it the queued keys (VK_DOWN/VK_UP to move, VK_RETURN to choose).
std::vector<WPARAM> g_menuKeys;
std::vector<std::string> g_menuSeen;
void CALLBACK PressMenuKeys(HWND, UINT, UINT_PTR id, DWORD) {
    HWND menu = FindWindowA("#32768", nullptr);
    if (!menu || !IsWindowVisible(menu)) return;
    KillTimer(nullptr, id);
    HMENU h = (HMENU)SendMessageA(menu, 0x01E1 /* MN_GETHMENU */, 0, 0);
    g_menuSeen.clear();
    for (int i = 0; i < GetMenuItemCount(h); ++i) {
        char text[64] = {};
        GetMenuStringA(h, i, text, sizeof text, MF_BYPOSITION);
        g_menuSeen.push_back(text);
    }
    for (WPARAM key : g_menuKeys) {
        PostMessageA(menu, WM_KEYDOWN, key, 1);
        PostMessageA(menu, WM_KEYUP, key, 0xC0000001);
    }
}
// Right-clicks the icon (the shell's callback message) and chooses from the
// menu with the keys.
void ChooseFromTrayMenu(HWND main, std::vector<WPARAM> keys) {
    g_menuKeys = keys;
    SetTimer(nullptr, 0, 100, PressMenuKeys);
    SendMessageA(main, WM_QRVL_TRAY, 1, WM_RBUTTONDOWN);
}

BOOL WINAPI NoImageList(PSP_CLASSIMAGELIST_DATA) { return FALSE; }   // no clean-up in these tests

class Tray : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake.Reset();
        g_deviceSettleMs = 0;
        g_slotCount = 0;
        g_deviceSetupApi.getClassImageList = NoImageList;
    }
    void TearDown() override {
        dlg.reset();
        g_deviceSetupApi = kSystemDeviceSetupApi;
        PumpMessages();
    }
    void Open() {
        dlg.reset(new CDlgMain);
        ASSERT_TRUE(dlg->Create(IDD_MAIN, nullptr));
        PumpMessages(20);
    }
    bool Visible() { return IsWindowVisible(dlg->m_hWnd) != FALSE; }
    std::unique_ptr<CDlgMain> dlg;
};

// ---------------------------------------------------------------------------
// What the shell shows

TEST_F(Tray, OneIconFromCreationToDestructionAndAfterTheTaskbarReturns) {
    size_t before = TrayIcons().size();
    Open();
    EXPECT_EQ(before + 1, TrayIcons().size());
    // A re-created taskbar while the icon is still there adds no second one.
    SendMessageA(dlg->m_hWnd, g_msgTaskbarCreated, 0, 0);
    EXPECT_EQ(before + 1, TrayIcons().size());
    // A restarted shell has lost the icon: the message brings it back.
    NOTIFYICONDATAA nid = dlg->m_nid;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &nid));
    EXPECT_TRUE(PumpUntil([&] { return TrayIcons().size() == before; }, 2000));
    SendMessageA(dlg->m_hWnd, g_msgTaskbarCreated, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return TrayIcons().size() == before + 1; }, 2000));
    // The re-added icon still answers: a notification reaches it.
    SendMessageA(dlg->m_hWnd, WM_QRVL_NOTIFY, 13, 0);
    EXPECT_TRUE(PumpUntil([&] { return BalloonShown("导入证书完成!"); }, 6000));
    dlg.reset();
    EXPECT_TRUE(PumpUntil([&] { return TrayIcons().size() == before; }, 2000));
}

// ---------------------------------------------------------------------------
// The tray menu, chosen from with the keyboard

size_t g_iconsDuringRun;
void CALLBACK ExitThroughTheMenu(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    g_iconsDuringRun = TrayIcons().size();
    HWND main = FindWindowExA(nullptr, nullptr, "#32770", QRVL_MAIN_TITLE);
    ChooseFromTrayMenu(main, {VK_UP, VK_RETURN});   // the last item: 退出
}

TEST_F(Tray, ExitFromTheMenuEndsTheModalRunAndTakesTheIconAway) {
    size_t before = TrayIcons().size();
    g_menuSeen.clear();
    SetTimer(nullptr, 0, 200, ExitThroughTheMenu);
    CDlgMain main;
    EXPECT_EQ(IDOK, main.DoModal());
    EXPECT_EQ((std::vector<std::string>{"显示用户管理工具", "刷新设备", "", "关于...", "", "退出"}), g_menuSeen);
    EXPECT_EQ(before + 1, g_iconsDuringRun);
    EXPECT_TRUE(PumpUntil([&] { return TrayIcons().size() == before; }, 2000));
}

// The show command calls no SetForegroundWindow (the left click does). Under
// Wine the show alone already takes the foreground, even from another
// thread's window, so the difference cannot be seen here.
TEST_F(Tray, ShowFromTheMenuShowsTheWindow) {
    Open();
    ChooseFromTrayMenu(dlg->m_hWnd, {VK_DOWN, VK_RETURN});
    PumpMessages(50);
    EXPECT_TRUE(Visible());
    EXPECT_TRUE(dlg->m_allowShow);
    ChooseFromTrayMenu(dlg->m_hWnd, {VK_DOWN, VK_RETURN});   // shown again: stays shown
    PumpMessages(50);
    EXPECT_TRUE(Visible());
}

TEST_F(Tray, RefreshFromTheMenuListsTheKeys) {
    Open();
    g_fake.AddKey(0x4001, "KEY-A");
    ChooseFromTrayMenu(dlg->m_hWnd, {VK_DOWN, VK_DOWN, VK_RETURN});
    PumpMessages(50);
    EXPECT_EQ(0x4001u, dlg->m_hKey);
    EXPECT_FALSE(Visible());
}

// While the About box runs: look at it, click the link, and press Esc.
struct {
    bool found;
    HCURSOR buttonCursor;
    std::string link;
} g_about;
void CALLBACK UseTheAboutBox(HWND, UINT, UINT_PTR id, DWORD) {
    HWND about = FindWindowExA(nullptr, nullptr, "#32770", "关于");
    if (!about || !IsWindowVisible(about)) return;
    KillTimer(nullptr, id);
    UpdateWindow(about);   // the link is drawn and the hand installed
    g_about.found = true;
    g_about.buttonCursor = (HCURSOR)GetClassLongPtrA(GetDlgItem(about, IDOK), GCLP_HCURSOR);
    char text[128] = {};
    GetDlgItemTextA(about, IDC_LINK, text, sizeof text);
    g_about.link = text;
    SendMessageA(GetDlgItem(about, IDC_LINK), BM_CLICK, 0, 0);
    HWND focus = GetFocus();
    PostMessageA(focus ? focus : about, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
}

TEST_F(Tray, AboutFromTheMenuOpensTheSiteAndClosesWithEsc) {
    InstallShellLogger();
    ClearShellLog();
    Open();
    g_about = {};
    SetTimer(nullptr, 0, 100, UseTheAboutBox);
    ChooseFromTrayMenu(dlg->m_hWnd, {VK_UP, VK_UP, VK_RETURN});   // 关于...
    // The command was posted by the menu; the About box runs when it arrives.
    PumpUntil([] { return g_about.found && !FindWindowExA(nullptr, nullptr, "#32770", "关于"); }, 5000);
    ASSERT_TRUE(g_about.found);
    EXPECT_FALSE(FindWindowExA(nullptr, nullptr, "#32770", "关于")) << "Esc closes it";
    EXPECT_EQ(LoadCursorA(nullptr, IDC_HAND), g_about.buttonCursor);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), (HCURSOR)GetClassLongPtrA(dlg->GetDlgItem(IDC_BTN_REFRESH), GCLP_HCURSOR));
    EXPECT_EQ(QRVL_BANK_SITE_HOST, g_about.link);
    // The caption has no scheme; the shell guesses http for a "www." host.
    EXPECT_EQ(std::vector<std::string>{std::string("http://") + QRVL_BANK_SITE_HOST}, WaitShellLog(1));
    EXPECT_FALSE(Visible());
}

// ---------------------------------------------------------------------------
// Real mouse clicks on the icon, through the shell

void ClickAt(POINT pt) {
    SetCursorPos(pt.x, pt.y);
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
}

TEST_F(Tray, ClicksOnTheIconToggleTheWindow) {
    std::vector<HWND> old = TrayIcons();
    Open();
    HWND icon = nullptr;
    for (HWND h : TrayIcons())
        if (std::find(old.begin(), old.end(), h) == old.end()) icon = h;
    ASSERT_TRUE(icon);
    // Keep the shown window off the icon, so the second click reaches the icon.
    SetWindowPos(dlg->m_hWnd, nullptr, 400, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT r;
    GetWindowRect(icon, &r);
    POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClickAt(centre);
    EXPECT_TRUE(PumpUntil([&] { return Visible() && GetForegroundWindow() == dlg->m_hWnd; }, 3000));
    PumpMessages(GetDoubleClickTime() + 100);   // the next click is no double click
    ClickAt(centre);
    EXPECT_TRUE(PumpUntil([&] { return !Visible(); }, 3000));
}

// ---------------------------------------------------------------------------
// Balloons (last: the shell keeps a balloon up for several seconds)

TEST_F(Tray, BalloonsAndTooltipReachTheShell) {
    Open();
    struct {
        const char* what;
        uint32_t keys;
        std::vector<int> indexes;   // posted by index; empty: "abc" by WM_COPYDATA
        const char* balloon;
        const char* tip;
    } cases[] = {
        {"index 20 with a key", 1, {20}, "更改USBKEY标签完成!", "USBKEY已插入，可以正常使用"},
        {"text without terminator, no key", 0, {}, "abc", "当前未插入USBKEY"},
        {"inserted, then registered", 1, {10, 19}, "注册证书到IE完成!", "USBKEY已插入，可以正常使用"},
    };
    for (const auto& c : cases) {
        g_slotCount = c.keys;
        if (c.indexes.empty()) {
            COPYDATASTRUCT cds = {0, 3, (void*)"abcdef"};
            EXPECT_EQ(TRUE, SendMessageA(dlg->m_hWnd, WM_COPYDATA, 0, (LPARAM)&cds)) << c.what;
        } else {
            for (int i : c.indexes) PostMessageA(dlg->m_hWnd, WM_QRVL_NOTIFY, (WPARAM)i, 0);
        }
        // The shell shows a balloon about 2 s after the modification.
        EXPECT_TRUE(PumpUntil([&] { return BalloonShown(c.balloon); }, 6000)) << c.what;
        EXPECT_EQ(1u, ShellToolTexts(true).size()) << c.what;   // one balloon: the new one replaced the old
        EXPECT_TRUE(Contains(ShellToolTexts(false), c.tip)) << c.what;
    }
}

}  // namespace

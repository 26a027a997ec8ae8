// The tray icon as the shell shows it: the icon windows of Wine's standalone
// tray, the balloon windows, the real tray menu chosen from with the keyboard,
// and real mouse clicks on the icon.
#include "app/DlgMain.h"
#include "devices/DeviceChange.h"
#include "token/SlotList.h"
#include "devices/UsbCleanup.h"
#include "res/BankSites.h"
#include "res/resource.h"
#include "tests/fake/FakeToken.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/ShellLog.h"
#include "tests/support/ShellTray.h"
#include "tests/support/TestSupport.h"
#include <commctrl.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace shelltray;

// The tracked tray menu runs its own loop; a timer finds the menu window and
// posts it the queued keys (VK_DOWN/VK_UP to move, VK_RETURN to choose).
std::vector<WPARAM> g_menuKeys;
std::vector<std::string> g_menuSeen;
void CALLBACK PressQueuedMenuKeys(HWND, UINT, UINT_PTR id, DWORD) {
    HWND menu = MenuWindow(GetCurrentProcessId());
    if (!menu) return;
    KillTimer(nullptr, id);
    g_menuSeen = MenuTexts(menu);
    PressMenuKeys(menu, g_menuKeys);
}
// Right-clicks the icon (the shell's callback message) and chooses from the
// menu with the keys.
void ChooseFromTrayMenu(HWND main, std::vector<WPARAM> keys) {
    g_menuKeys = keys;
    SetTimer(nullptr, 0, 100, PressQueuedMenuKeys);
    SendMessageA(main, WM_QRVL_TRAY, 1, WM_RBUTTONDOWN);
}

class Tray : public CMainWindowFixture {
protected:
    Tray() : CMainWindowFixture(SystemDevicesWithoutCleanUp()) {}
    void Open() {
        CMainWindowFixture::Open();
        PumpMessages(20);
    }
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

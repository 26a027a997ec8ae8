// The application shell on the real main window (template 102): hidden
// start, visibility, keys, tabs, private messages, the tray and its menu,
// notifications, the About box, and the single-instance handshake.
#include "app/DlgAbout.h"
#include "app/DlgMain.h"
#include "app/Notify.h"
#include "app/ToolApp.h"
#include "devices/DeviceChange.h"
#include "token/SlotList.h"
#include "devices/UsbCleanup.h"
#include "res/BankSites.h"
#include "res/resource.h"
#include "tests/fake/FakeToken.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/ShellLog.h"
#include "tests/support/TestSupport.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

const TOKEN_KEY kKeyA = 0x4001;

class Shell : public CMainWindowFixture {
protected:
    Shell() : CMainWindowFixture(SystemDevicesWithoutCleanUp()) {}
    // Without pages nothing is pumped: the pages' timer is still to come.
    void Open(bool pages = true) {
        CMainWindowFixture::Open(pages);
        if (pages) PumpMessages(20);
    }
    // The four pages in the order of their tabs.
    std::vector<CDialog*> Pages() {
        return {&dlg->m_pageCerts, &dlg->m_pagePassword, &dlg->m_pageImport, &dlg->m_pageLabel};
    }
    LRESULT Tray(UINT mouse) { return SendMessageA(dlg->m_hWnd, WM_QRVL_TRAY, 1, mouse); }
    LRESULT Command(UINT id) { return SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    bool IconPresent() {
        // Modifying an icon that the shell does not have fails.
        NOTIFYICONDATAA nid = dlg->m_nid;
        nid.uFlags = NIF_TIP;
        return Shell_NotifyIconA(NIM_MODIFY, &nid) != FALSE;
    }
};

// ---------------------------------------------------------------------------
// Main window

// The style of a dialog template (DLGTEMPLATEEX or DLGTEMPLATE).
DWORD TemplateStyle(int id) {
    HRSRC res = FindResourceA(nullptr, MAKEINTRESOURCEA(id), (LPCSTR)RT_DIALOG);
    const WORD* t = res ? (const WORD*)LockResource(LoadResource(nullptr, res)) : nullptr;
    if (!t) return 0;
    const BYTE* b = (const BYTE*)t;
    DWORD style = 0;
    memcpy(&style, t[1] == 0xFFFF ? b + 12 : b, sizeof style);
    return style;
}

TEST_F(Shell, StartsHiddenAndStaysHiddenUntilAskedFor) {
    ASSERT_TRUE(TemplateStyle(IDD_MAIN) & WS_VISIBLE);   // the template alone would show it
    Open();
    EXPECT_FALSE(Visible());
    EXPECT_FALSE(dlg->m_allowShow);
    dlg->ShowWindow(SW_SHOW);   // any other attempt is defeated
    PumpMessages(20);
    EXPECT_FALSE(Visible());
    EXPECT_TRUE(IconPresent());
    EXPECT_EQ((LONG_PTR)g_fake.marker, GetWindowLongPtrA(dlg->m_hWnd, GWLP_USERDATA));
    char title[64] = {};
    GetWindowTextA(dlg->m_hWnd, title, sizeof title);
    EXPECT_STREQ(QRVL_MAIN_TITLE, title);
}

TEST_F(Shell, ActivationRequestFromAnotherThreadShowsTheWindowAndAnswersMinusOne) {
    Open();
    DWORD_PTR result = 0;
    BOOL sent = FALSE;
    HWND wnd = dlg->m_hWnd;
    std::thread other([&] { sent = SendMessageTimeoutA(wnd, WM_QRVL_ACTIVATE, SW_SHOW, 0, SMTO_BLOCK, 2000, &result); });
    PumpUntil([&] { return sent != FALSE; }, 3000);
    other.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ((LRESULT)-1, (LRESULT)result);
    EXPECT_TRUE(Visible());
    EXPECT_TRUE(dlg->m_allowShow);
}

TEST_F(Shell, EscAndCloseHideButKeepTheWindowAndIcon) {
    Open();
    for (int way = 0; way < 2; ++way) {
        SendMessageA(dlg->m_hWnd, WM_QRVL_ACTIVATE, SW_SHOW, 0);
        ASSERT_TRUE(Visible());
        if (way == 0) {
            SetFocus(dlg->GetDlgItem(IDC_KEYLIST));
            PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        } else {
            PostMessageA(dlg->m_hWnd, WM_CLOSE, 0, 0);
        }
        PumpMessages(30);
        EXPECT_FALSE(Visible()) << way;
        EXPECT_TRUE(IsWindow(dlg->m_hWnd));
        EXPECT_TRUE(IconPresent());
    }
}

TEST_F(Shell, EnterRefreshesAndKeepsTheWindowOpen) {
    Open();
    SendMessageA(dlg->m_hWnd, WM_QRVL_ACTIVATE, SW_SHOW, 0);
    g_fake.AddKey(kKeyA, "KEY-A");
    g_fake.calls.clear();
    SetFocus(dlg->GetDlgItem(IDC_BTN_REFRESH));
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PumpMessages(30);
    EXPECT_TRUE(g_fake.Called("CSP_GetUsbKeyLabel"));
    EXPECT_TRUE(Visible());
    EXPECT_EQ(kKeyA, dlg->m_hKey);
}

TEST_F(Shell, TabsShowExactlyOnePageAndTheFourthIsTheLabelPage) {
    Open();
    HWND tab = dlg->GetDlgItem(IDC_TAB);
    const char* texts[] = {"证书管理", "修改密码", "导入证书", "更改KEY标签"};
    ASSERT_EQ(4, TabCtrl_GetItemCount(tab));
    CDialog* pages[] = {&dlg->m_pageCerts, &dlg->m_pagePassword, &dlg->m_pageImport, &dlg->m_pageLabel};
    for (int i = 0; i < 4; ++i) {
        char text[64] = {};
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tab, TCM_GETITEMA, i, (LPARAM)&item);
        EXPECT_STREQ(texts[i], text);
    }
    EXPECT_TRUE(pages[0]->GetStyle() & WS_VISIBLE);
    for (int i : {3, 1, 2, 0}) {
        TabCtrl_SetCurFocus(tab, i);
        for (int p = 0; p < 4; ++p) EXPECT_EQ(p == i, (pages[p]->GetStyle() & WS_VISIBLE) != 0) << i << " " << p;
    }
    EXPECT_EQ(tab, GetParent(dlg->m_pageLabel.m_hWnd));
    EXPECT_EQ(dlg.get(), dlg->m_pageImport.m_pOwner);
}

// Start-up makes no page; the four follow as soon as start-up is over (the
// first messages pumped), or when the window is shown or a tab is chosen,
// each once, on the tab and in one place.
TEST_F(Shell, PagesAreMadeAfterStartUpOrWhenFirstNeeded) {
    struct { const char* what; std::function<void(CDlgMain*)> need; int shownPage; } cases[] = {
        {"messages pumped", [](CDlgMain* d) { PumpUntil([&] { return d->m_pageCerts.m_hWnd != nullptr; }); }, 0},
        {"opened from the tray", [](CDlgMain* d) { SendMessageA(d->m_hWnd, WM_QRVL_TRAY, 1, WM_LBUTTONDOWN); }, 0},
        {"activation request", [](CDlgMain* d) { SendMessageA(d->m_hWnd, WM_QRVL_ACTIVATE, SW_SHOW, 0); }, 0},
        {"tab chosen", [](CDlgMain* d) { TabCtrl_SetCurFocus(d->GetDlgItem(IDC_TAB), 3); }, 3},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        Open(false);
        std::vector<CDialog*> pages = Pages();
        for (int p = 0; p < 4; ++p) EXPECT_EQ(nullptr, pages[p]->m_hWnd) << p;
        c.need(dlg.get());
        RECT certs;
        GetWindowRect(pages[0]->m_hWnd, &certs);
        std::vector<HWND> made;
        for (int p = 0; p < 4; ++p) {
            ASSERT_TRUE(IsWindow(pages[p]->m_hWnd)) << p;
            made.push_back(pages[p]->m_hWnd);
            EXPECT_EQ(dlg->GetDlgItem(IDC_TAB), GetParent(pages[p]->m_hWnd)) << p;
            RECT rc;
            GetWindowRect(pages[p]->m_hWnd, &rc);
            EXPECT_TRUE(EqualRect(&certs, &rc)) << p;
            EXPECT_EQ(p == c.shownPage, (pages[p]->GetStyle() & WS_VISIBLE) != 0) << p;
        }
        PumpMessages(50);
        SendMessageA(dlg->m_hWnd, WM_QRVL_ACTIVATE, SW_SHOW, 0);
        for (int p = 0; p < 4; ++p) EXPECT_EQ(made[p], pages[p]->m_hWnd) << "made again: " << p;
    }
}

TEST_F(Shell, SystemMenuHasASeparatorAndTheAboutItem) {
    Open();
    HMENU menu = GetSystemMenu(dlg->m_hWnd, FALSE);
    int n = GetMenuItemCount(menu);
    ASSERT_GE(n, 2);
    EXPECT_EQ((UINT)IDM_ABOUTBOX, GetMenuItemID(menu, n - 1));
    char text[64] = {};
    GetMenuStringA(menu, n - 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ("关于(&A)...", text);
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    GetMenuItemInfoA(menu, n - 2, TRUE, &info);
    EXPECT_TRUE(info.fType & MFT_SEPARATOR);
}

// The modal run ends through the private quit message and the tray menu's
// exit command, and the icon goes with the window.
UINT g_endHow;
NOTIFYICONDATAA g_endNid;
bool g_endPagesMade;

void CALLBACK EndModalRun(HWND, UINT, UINT_PTR, DWORD) {
    HWND wnd = FindWindowExA(nullptr, nullptr, "#32770", QRVL_MAIN_TITLE);
    CDlgMain* main = static_cast<CDlgMain*>(CWnd::FromHandlePermanent(wnd));
    if (!main) return;
    g_endNid = main->m_nid;
    g_endPagesMade = main->m_pageCerts.m_hWnd && main->m_pagePassword.m_hWnd && main->m_pageImport.m_hWnd &&
                     main->m_pageLabel.m_hWnd;
    if (g_endHow == WM_QRVL_QUIT)
        PostMessageA(wnd, WM_QRVL_QUIT, 0, 0);
    else
        PostMessageA(wnd, WM_COMMAND, MAKEWPARAM(ID_TRAY_EXIT, 0), 0);
}

TEST_F(Shell, QuitAndExitEndTheModalRunAndRemoveTheIcon) {
    for (UINT how : {(UINT)WM_QRVL_QUIT, (UINT)ID_TRAY_EXIT}) {
        g_endHow = how;
        UINT_PTR timer = SetTimer(nullptr, 0, 200, EndModalRun);
        CDlgMain main;
        EXPECT_EQ(IDOK, main.DoModal()) << how;
        KillTimer(nullptr, timer);
        EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &g_endNid)) << "icon left behind";
        EXPECT_TRUE(g_endPagesMade) << "the modal run made no pages";
    }
}

// ---------------------------------------------------------------------------
// Tray notifications

TEST_F(Shell, TooltipIsEmptyUntilTheFirstNotification) {
    Open();
    EXPECT_STREQ("", dlg->m_nid.szTip);
    EXPECT_EQ((DWORD)NOTIFYICONDATAA_V2_SIZE, dlg->m_nid.cbSize);
    EXPECT_EQ((UINT)(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO), dlg->m_nid.uFlags);
    EXPECT_EQ((UINT)WM_QRVL_TRAY, dlg->m_nid.uCallbackMessage);
    EXPECT_EQ(1000u, dlg->m_nid.uTimeout);
}

TEST_F(Shell, NotificationByIndexChoosesTheTooltipByKeyPresence) {
    Open();
    struct { uint32_t keys; const char* tip; } cases[] = {
        {0, "当前未插入USBKEY"},
        {1, "USBKEY已插入，可以正常使用"},
    };
    for (const auto& c : cases) {
        g_slotCount = c.keys;
        EXPECT_EQ(0, SendMessageA(dlg->m_hWnd, WM_QRVL_NOTIFY, 20, 0));
        EXPECT_STREQ("更改USBKEY标签完成!", dlg->m_nid.szInfo);
        EXPECT_STREQ(c.tip, dlg->m_nid.szTip);
        EXPECT_EQ(1003u, dlg->m_nid.uTimeout);
    }
    NOTIFYICONDATAA before = dlg->m_nid;
    SendMessageA(dlg->m_hWnd, WM_QRVL_NOTIFY, 21, 0);
    SendMessageA(dlg->m_hWnd, WM_QRVL_NOTIFY, (WPARAM)-1, 0);
    EXPECT_EQ(0, memcmp(&before, &dlg->m_nid, sizeof before));
    EXPECT_STREQ("注册证书到IE完成!", NotifyTexts[19]);
    EXPECT_STREQ("修改密码完成!", NotifyTexts[0]);
}

TEST_F(Shell, CopyDataShowsTheTextReadingNoMoreThanWasSent) {
    Open();
    struct { std::string data; DWORD sent; std::string shown; } cases[] = {
        {std::string("abc\0", 4), 4, "abc"},
        {"abcdef", 3, "abc"},                                   // no terminator within what was sent
        {std::string(255, 'a'), 255, std::string(255, 'a')},
        {std::string(256, 'b'), 256, std::string(255, 'b')},
        {std::string(4000, 'c'), 4000, std::string(255, 'c')},
        // Cut at 255 bytes inside a double-byte character: the half goes.
        {"ab" + std::string(128 * 2, '\xB0'), 258, "ab" + std::string(126 * 2, '\xB0')},
        {std::string(254, 'd') + "中文", 258, std::string(254, 'd')},
        {"中文", 4, "中文"},
    };
    for (const auto& c : cases) {
        COPYDATASTRUCT cds = {7, c.sent, (void*)c.data.data()};
        EXPECT_EQ(TRUE, SendMessageA(dlg->m_hWnd, WM_COPYDATA, 0, (LPARAM)&cds));
        EXPECT_EQ(c.shown, dlg->m_nid.szInfo);
    }
    NOTIFYICONDATAA before = dlg->m_nid;
    COPYDATASTRUCT none = {0, 10, nullptr};
    EXPECT_EQ(TRUE, SendMessageA(dlg->m_hWnd, WM_COPYDATA, 0, (LPARAM)&none));
    COPYDATASTRUCT empty = {0, 0, (void*)"xyz"};
    EXPECT_EQ(TRUE, SendMessageA(dlg->m_hWnd, WM_COPYDATA, 0, (LPARAM)&empty));
    EXPECT_EQ(0, memcmp(&before, &dlg->m_nid, sizeof before));
}

TEST_F(Shell, TaskbarRecreatedAddsTheIconAgain) {
    Open();
    NOTIFYICONDATAA nid = dlg->m_nid;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &nid));
    EXPECT_FALSE(IconPresent());
    SendMessageA(dlg->m_hWnd, g_msgTaskbarCreated, 0, 0);
    EXPECT_TRUE(IconPresent());
}

TEST_F(Shell, NotifyMainWindowsPostsOnlyToWindowsWithTheMarker) {
    Open();
    HWND decoy = CreateWindowExA(0, "#32770", QRVL_MAIN_TITLE, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrA(decoy, GWLP_USERDATA, (LONG_PTR)g_fake.marker + 1);
    NotifyMainWindows(7);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, decoy, WM_QRVL_NOTIFY, WM_QRVL_NOTIFY, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, dlg->m_hWnd, WM_QRVL_NOTIFY, WM_QRVL_NOTIFY, PM_REMOVE));
    EXPECT_EQ(7u, msg.wParam);
    DestroyWindow(decoy);
}

// ---------------------------------------------------------------------------
// Tray clicks and menu

TEST_F(Shell, LeftClickTogglesAndADoubleClickTogglesOnce) {
    Open();
    EXPECT_EQ(0, Tray(WM_LBUTTONDOWN));
    PumpMessages(20);
    EXPECT_TRUE(Visible());
    EXPECT_EQ(dlg->m_hWnd, GetForegroundWindow());
    Tray(WM_LBUTTONUP);
    Tray(WM_LBUTTONDOWN);
    EXPECT_FALSE(Visible());
    for (UINT m : {(UINT)WM_LBUTTONDOWN, (UINT)WM_LBUTTONUP, (UINT)WM_LBUTTONDBLCLK, (UINT)WM_LBUTTONUP}) Tray(m);
    EXPECT_TRUE(Visible());
    for (UINT m : {(UINT)WM_MOUSEMOVE, (UINT)WM_RBUTTONUP, (UINT)WM_RBUTTONDBLCLK}) EXPECT_EQ(0, Tray(m));
    EXPECT_TRUE(Visible());
}

TEST_F(Shell, MenuShowCommandShowsTheWindow) {
    Open();
    Command(ID_TRAY_SHOW);
    EXPECT_TRUE(Visible());
    EXPECT_TRUE(dlg->m_allowShow);
}

TEST_F(Shell, MenuRefreshCommandRefreshes) {
    Open();
    g_fake.AddKey(kKeyA, "KEY-A");
    Command(ID_TRAY_REFRESH);
    EXPECT_EQ(kKeyA, dlg->m_hKey);
}

std::vector<std::string> g_menuItems;
std::vector<UINT> g_menuIds;
HWND g_foregroundDuringMenu;

// The menu runs its own modal loop; this timer reads its items and closes it.
void CALLBACK ReadTrackedMenu(HWND, UINT, UINT_PTR, DWORD) {
    HWND menu = FindWindowA("#32768", nullptr);
    if (!menu) return;
    g_foregroundDuringMenu = GetForegroundWindow();
    HMENU h = (HMENU)SendMessageA(menu, 0x01E1 /* MN_GETHMENU */, 0, 0);
    for (int i = 0; i < GetMenuItemCount(h); ++i) {
        char text[64] = {};
        GetMenuStringA(h, i, text, sizeof text, MF_BYPOSITION);
        g_menuItems.push_back(text);
        g_menuIds.push_back(GetMenuItemID(h, i));
    }
    EndMenu();
}

// The menu's owner is made the foreground window first, or the menu would
// stay open when the user clicks elsewhere; the hidden window stays hidden.
TEST_F(Shell, RightClickTracksTheTrayMenu) {
    Open();
    g_menuItems.clear();
    g_menuIds.clear();
    g_foregroundDuringMenu = nullptr;
    // Another program's window is in front when the user right-clicks the icon.
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 nullptr, nullptr);
    SetForegroundWindow(other);
    PumpMessages(20);
    ASSERT_EQ(other, GetForegroundWindow());
    UINT_PTR timer = SetTimer(nullptr, 0, 300, ReadTrackedMenu);
    Tray(WM_RBUTTONDOWN);
    KillTimer(nullptr, timer);
    DestroyWindow(other);
    EXPECT_EQ(dlg->m_hWnd, g_foregroundDuringMenu);
    EXPECT_FALSE(Visible());
    EXPECT_EQ((std::vector<std::string>{"显示用户管理工具", "刷新设备", "", "关于...", "", "退出"}), g_menuItems);
    // Other programs may send these commands: the numbers are fixed.
    EXPECT_EQ((std::vector<UINT>{133, 131, 0, 57681, 0, 132}), g_menuIds);
}

// ---------------------------------------------------------------------------
// About box

struct AboutSeen {
    bool found = false;
    std::string caption, link;
    HCURSOR buttonCursor = nullptr;
};
AboutSeen g_about;
int g_aboutCloseWith;

void CALLBACK InspectAbout(HWND, UINT, UINT_PTR, DWORD) {
    HWND about = FindWindowExA(nullptr, nullptr, "#32770", "关于");
    if (!about || !IsWindowVisible(about)) return;
    UpdateWindow(about);   // the link is drawn, and the hand installed
    g_about.found = true;
    char text[128] = {};
    GetWindowTextA(about, text, sizeof text);
    g_about.caption = text;
    GetDlgItemTextA(about, IDC_LINK, text, sizeof text);
    g_about.link = text;
    g_about.buttonCursor = (HCURSOR)GetClassLongPtrA(GetDlgItem(about, IDOK), GCLP_HCURSOR);
    if (g_aboutCloseWith == IDC_LINK) {
        SendMessageA(GetDlgItem(about, IDC_LINK), BM_CLICK, 0, 0);
        PostMessageA(about, WM_COMMAND, IDOK, 0);
    } else if (g_aboutCloseWith == WM_CLOSE) {
        PostMessageA(about, WM_CLOSE, 0, 0);
    } else {
        PostMessageA(about, WM_COMMAND, (WPARAM)g_aboutCloseWith, 0);
    }
}

TEST_F(Shell, AboutOpensFromSystemMenuAndTrayAndRestoresTheArrow) {
    InstallShellLogger();
    ClearShellLog();
    Open();
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    struct { bool fromTray; int closeWith; } cases[] = {
        {false, IDOK}, {true, IDCANCEL}, {true, WM_CLOSE}, {false, IDC_LINK},
    };
    for (const auto& c : cases) {
        g_about = AboutSeen();
        g_aboutCloseWith = c.closeWith;
        UINT_PTR timer = SetTimer(nullptr, 0, 200, InspectAbout);
        if (c.fromTray)
            Command(ID_APP_ABOUT);
        else
            SendMessageA(dlg->m_hWnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        KillTimer(nullptr, timer);
        ASSERT_TRUE(g_about.found) << c.closeWith;
        EXPECT_EQ("关于", g_about.caption);
        EXPECT_EQ(QRVL_BANK_SITE_HOST, g_about.link);
        EXPECT_EQ(LoadCursorA(nullptr, IDC_HAND), g_about.buttonCursor);
        EXPECT_EQ(arrow, (HCURSOR)GetClassLongPtrA(dlg->GetDlgItem(IDC_BTN_REFRESH), GCLP_HCURSOR)) << c.closeWith;
    }
    EXPECT_FALSE(Visible());   // the about box never showed the main window
    // The link's caption is a host name; the shell opens it as a web address.
    EXPECT_EQ(std::vector<std::string>{std::string("http://") + QRVL_BANK_SITE_HOST}, WaitShellLog(1));
}

// Two About boxes at once, the first closed while the second is still up:
// once both are closed the buttons have their arrow again.
HWND g_firstAbout;
int g_aboutsSeen;
void CALLBACK CloseFirstAboutFirst(HWND, UINT, UINT_PTR, DWORD) {
    std::vector<HWND> abouts;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", "关于")) != nullptr;)
        if (IsWindowVisible(w)) abouts.push_back(w);
    g_aboutsSeen = std::max(g_aboutsSeen, (int)abouts.size());
    for (HWND w : abouts) UpdateWindow(w);   // the link drawn, the hand installed
    if (abouts.size() == 1 && !g_firstAbout) {
        g_firstAbout = abouts[0];
        HWND main = FindWindowExA(nullptr, nullptr, "#32770", QRVL_MAIN_TITLE);
        PostMessageA(main, WM_COMMAND, MAKEWPARAM(ID_APP_ABOUT, 0), 0);   // the tray menu's About
    } else if (abouts.size() == 2) {
        PostMessageA(g_firstAbout, WM_COMMAND, IDOK, 0);
    } else if (abouts.size() == 1 && abouts[0] != g_firstAbout) {
        PostMessageA(abouts[0], WM_COMMAND, IDOK, 0);
    }
}

TEST_F(Shell, TwoAboutBoxesClosedInEitherOrderLeaveTheArrow) {
    Open();
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    g_firstAbout = nullptr;
    g_aboutsSeen = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 100, CloseFirstAboutFirst);
    SendMessageA(dlg->m_hWnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    KillTimer(nullptr, timer);
    EXPECT_EQ(2, g_aboutsSeen);
    EXPECT_EQ(arrow, (HCURSOR)GetClassLongPtrA(dlg->GetDlgItem(IDC_BTN_REFRESH), GCLP_HCURSOR));
}

// ---------------------------------------------------------------------------
// Single instance

// A window that looks like the tool's main window and answers the activation
// request with a fixed value, on a thread of its own.
class FakeRunningCopy {
public:
    FakeRunningCopy(LONG_PTR marker, LRESULT answer, DWORD hangMs = 0)
        : m_answer(answer), m_hangMs(hangMs), m_received(0) {
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_thread = std::thread([this, marker, ready] {
            m_wnd = CreateWindowExA(0, "#32770", QRVL_MAIN_TITLE, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
            SetWindowLongPtrA(m_wnd, GWLP_USERDATA, marker);
            SetPropA(m_wnd, "self", this);
            m_old = (WNDPROC)SetWindowLongPtrA(m_wnd, GWLP_WNDPROC, (LONG_PTR)Proc);
            m_threadId = GetCurrentThreadId();
            SetEvent(ready);
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
            DestroyWindow(m_wnd);
        });
        WaitForSingleObject(ready, 5000);
        CloseHandle(ready);
    }
    ~FakeRunningCopy() {
        PostThreadMessageA(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    int Received() const { return m_received; }

private:
    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
        auto* self = (FakeRunningCopy*)GetPropA(h, "self");
        if (msg == WM_QRVL_ACTIVATE) {
            ++self->m_received;
            if (self->m_hangMs) Sleep(self->m_hangMs);
            return self->m_answer;
        }
        return CallWindowProcA(self->m_old, h, msg, w, l);
    }
    LRESULT m_answer;
    DWORD m_hangMs;
    int m_received;
    HWND m_wnd = nullptr;
    WNDPROC m_old = nullptr;
    DWORD m_threadId = 0;
    std::thread m_thread;
};

TEST(SingleInstance, WindowsWithAnotherMarkerGetNoMessage) {
    g_fake.Reset();
    FakeRunningCopy decoy((LONG_PTR)g_fake.marker + 1, -1);
    EXPECT_EQ(kNoRunningCopy, ActivateRunningCopy(2000));
    EXPECT_EQ(0, decoy.Received());
}

TEST(SingleInstance, ACopyAnsweringOtherThanMinusOneIsPassedOver) {
    g_fake.Reset();
    FakeRunningCopy second((LONG_PTR)g_fake.marker, -1);   // created first: found last
    FakeRunningCopy first((LONG_PTR)g_fake.marker, 0);
    EXPECT_EQ(kHandedOver, ActivateRunningCopy(2000));
    EXPECT_EQ(1, first.Received());
    EXPECT_EQ(1, second.Received());
}

TEST(SingleInstance, OnlyZeroAnswersMeanStartingNormally) {
    g_fake.Reset();
    FakeRunningCopy copy((LONG_PTR)g_fake.marker, 0);
    EXPECT_EQ(kNoRunningCopy, ActivateRunningCopy(2000));
    EXPECT_EQ(1, copy.Received()) << "the copy was asked, and its 0 was the answer";
}

TEST(SingleInstance, AHungCopyEndsTheSearchAfterTheTimeOut) {
    g_fake.Reset();
    FakeRunningCopy hung((LONG_PTR)g_fake.marker, -1, 1500);
    DWORD start = GetTickCount();
    EXPECT_EQ(kRunningCopyHung, ActivateRunningCopy(300));
    EXPECT_LT(GetTickCount() - start, 1400u);
}

}  // namespace

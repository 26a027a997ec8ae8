// The main window: hidden start, visibility rules, page host, private messages.
#include "app/DlgMain.h"
#include "app/DlgAbout.h"
#include "res/resource.h"
#include <cstring>

BEGIN_MESSAGE_MAP(CDlgMain, CCspBaseDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_NCPAINT()
    ON_WM_QUERYDRAGICON()
    ON_MESSAGE(WM_QRVL_QUIT, OnQuit)
    ON_MESSAGE(WM_QRVL_ACTIVATE, OnActivateRequest)
    ON_MESSAGE(WM_QRVL_REFRESH, OnRefreshRequest)
    ON_MESSAGE(WM_QRVL_TRAY, OnTrayNotify)
    ON_MESSAGE(WM_QRVL_NOTIFY, OnNotifyIndex)
    ON_MESSAGE(WM_TIMER, OnTimer)
    ON_NOTIFY(TCN_SELCHANGE, IDC_TAB, OnSelchangeTab)
    ON_CBN_SELCHANGE(IDC_KEYLIST, OnSelchangeKeyList)
    ON_WM_WINDOWPOSCHANGING()
    ON_BN_CLICKED(IDC_BTN_REFRESH, OnBtnRefresh)
    ON_WM_DEVICECHANGE()
    ON_WM_DESTROY()
    ON_WM_CLOSE()
    ON_WM_COPYDATA()
    ON_WM_CREATE()
    ON_COMMAND(ID_TRAY_SHOW, OnTrayShow)
    ON_COMMAND(ID_TRAY_REFRESH, OnTrayRefresh)
    ON_COMMAND(ID_APP_ABOUT, OnTrayAbout)
    ON_COMMAND(ID_TRAY_EXIT, OnTrayExit)
    ON_REGISTERED_MESSAGE(g_msgTaskbarCreated, OnTaskbarCreated)
END_MESSAGE_MAP()

CDlgMain::CDlgMain(CWnd* parent)
    : CCspBaseDialog(IDD_MAIN, parent), m_keyHandles(), m_hKey(0), m_lastKeyCount(0), m_allowShow(FALSE),
      m_pagesMade(FALSE) {
    memset(&m_nid, 0, sizeof m_nid);
    m_hIcon = ::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CDlgMain::~CDlgMain() {}

void CDlgMain::DoDataExchange(CDataExchange* dx) {
    CCspBaseDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_TAB, m_tab);
    DDX_Control(dx, IDC_KEYLIST, m_keyCombo);
}

BOOL CDlgMain::OnInitDialog() {
    CCspBaseDialog::OnInitDialog();
    // The marker tells other processes that this window is the tool's.
    ::SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, (LONG_PTR)TokenWindowMarker(0, 0));

    if (HMENU sysMenu = GetSystemMenu(FALSE)) {
        char about[64] = {};
        if (::LoadStringA(AfxGetInstanceHandle(), IDS_ABOUTBOX, about, sizeof about) > 0) {
            ::AppendMenuA(sysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuA(sysMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_tab.InsertItem(0, "证书管理");
    m_tab.InsertItem(1, "修改密码");
    m_tab.InsertItem(2, "导入证书");
    m_tab.InsertItem(3, "更改KEY标签");

    // The pages are made once the tool has first gone idle (CreatePages):
    // nobody sees them before opening the window, and their controls would be
    // most of the start-up. Until then the device check and refreshes give
    // them their key and state, which they take when made. A timer's message
    // comes only when no other is waiting.
    m_pageImport.m_pOwner = this;
    OnDeviceChange(0, 0);
    ::SetTimer(m_hWnd, kPagesTimer, USER_TIMER_MINIMUM, nullptr);
    return TRUE;
}

void CDlgMain::CreatePage(CCspBaseDialog& page, UINT templateId) {
    page.Create(templateId, &m_tab);
    RECT rc;
    m_tab.GetClientRect(&rc);
    page.MoveWindow(rc.left + 1, rc.top + 20, rc.right - rc.left - 2, rc.bottom - rc.top - 21, TRUE);
}

void CDlgMain::CreatePages() {
    if (m_pagesMade || !m_tab.m_hWnd) return;
    m_pagesMade = TRUE;
    ::KillTimer(m_hWnd, kPagesTimer);
    CreatePage(m_pagePassword, IDD_CHGPWD);
    CreatePage(m_pageImport, IDD_CERT);
    CreatePage(m_pageLabel, IDD_CHGLABEL);
    m_pagePassword.EnableControls(m_pagePassword.ItemsEnabled());
    m_pageImport.EnableControls(m_pageImport.ItemsEnabled());
    m_pageLabel.EnableControls(m_pageLabel.ItemsEnabled());
    // Last: the certificate page lists the current key as it is made, and a
    // warning of that listing finds the other pages there.
    CreatePage(m_pageCerts, IDD_DISP);
    m_pageCerts.EnableControls(m_pageCerts.ItemsEnabled());
    m_pageCerts.SetRootButtonState();   // nothing is selected in a new tree
    ShowSelectedPage();
}

LRESULT CDlgMain::OnTimer(WPARAM id, LPARAM) {
    if (id == kPagesTimer) CreatePages();
    return 0;
}

void CDlgMain::ShowMainWindow(int showCmd, BOOL allow) {
    if (allow) m_allowShow = TRUE;
    if (showCmd != SW_HIDE && m_allowShow) CreatePages();
    ShowWindow(showCmd);
}

void CDlgMain::OnOK() { OnRefresh(); }

void CDlgMain::OnCancel() { ShowMainWindow(SW_HIDE, TRUE); }

void CDlgMain::OnSysCommand(UINT id, LPARAM lParam) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CDlgAbout about;
        about.DoModal();
    } else {
        CCspBaseDialog::OnSysCommand(id, lParam);
    }
}

void CDlgMain::OnPaint() {
    if (!IsIconic()) {
        CCspBaseDialog::OnPaint();
        return;
    }
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    SendMessage(WM_ICONERASEBKGND, (WPARAM)dc, 0);
    RECT rc;
    GetClientRect(&rc);
    int x = (rc.right - rc.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (rc.bottom - rc.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &ps);
}

void CDlgMain::OnNcPaint() {
    if (m_allowShow)
        CCspBaseDialog::OnNcPaint();
    else
        ShowMainWindow(SW_HIDE, FALSE);
}

HCURSOR CDlgMain::OnQueryDragIcon() { return (HCURSOR)m_hIcon; }

void CDlgMain::OnWindowPosChanging(WINDOWPOS* pos) {
    CCspBaseDialog::OnWindowPosChanging(pos);
    // Until the user asks for it, the window stays hidden in the tray.
    if (!m_allowShow) pos->flags &= ~SWP_SHOWWINDOW;
}

void CDlgMain::OnDestroy() {
    ::Shell_NotifyIconA(NIM_DELETE, &m_nid);
    CCspBaseDialog::OnDestroy();
}

void CDlgMain::OnClose() { ShowMainWindow(SW_HIDE, TRUE); }

int CDlgMain::OnCreate(CREATESTRUCTA*) {
    AddTrayIcon(TRUE);
    return 0;
}

LRESULT CDlgMain::OnQuit(WPARAM, LPARAM) {
    CDialog::OnOK();
    return 0;
}

LRESULT CDlgMain::OnActivateRequest(WPARAM showCmd, LPARAM) {
    ShowMainWindow((int)showCmd, TRUE);
    SetForegroundWindow();
    return -1;
}

LRESULT CDlgMain::OnRefreshRequest(WPARAM, LPARAM) {
    OnRefresh();
    return 0;
}

void CDlgMain::OnBtnRefresh() { OnRefresh(); }

void CDlgMain::ShowSelectedPage() {
    int tab = m_tab.GetCurSel();
    m_pageCerts.ShowWindow(tab == 0 ? SW_SHOW : SW_HIDE);
    m_pagePassword.ShowWindow(tab == 1 ? SW_SHOW : SW_HIDE);
    m_pageImport.ShowWindow(tab == 2 ? SW_SHOW : SW_HIDE);
    m_pageLabel.ShowWindow(tab == 3 ? SW_SHOW : SW_HIDE);
}

void CDlgMain::OnSelchangeTab(NMHDR*, LRESULT* result) {
    CreatePages();
    ShowSelectedPage();
    *result = 0;
}

void CDlgMain::OnSelchangeKeyList() {
    int index = m_keyCombo.GetCurSel();
    m_pageImport.EnableControls(FALSE);
    m_pageCerts.EnableControls(FALSE);
    m_pagePassword.EnableControls(FALSE);
    m_pageLabel.EnableControls(FALSE);
    if (index < 0 || index >= (int)TOKEN_MAX_KEYS) return;
    m_hKey = m_keyHandles[index];
    m_pageCerts.m_hKey = m_hKey;
    m_pagePassword.m_hKey = m_hKey;
    m_pageImport.m_hKey = m_hKey;
    m_pageLabel.m_hKey = m_hKey;
    m_pageImport.EnableControls(TRUE);
    m_pageCerts.EnableControls(TRUE);
    m_pagePassword.EnableControls(TRUE);
    m_pageLabel.EnableControls(TRUE);
    m_pageCerts.RefreshTree();
}

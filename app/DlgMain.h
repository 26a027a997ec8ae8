// The tool's only top-level window (template 102): banner, key list, refresh
// button and the tab control hosting the four pages. Hidden until the user
// opens it from the tray; owns the tray icon and the private messages.
#pragma once
#include "pages/CspBaseDialog.h"
#include "pages/DlgChgPwd.h"
#include "pages/DlgChgLabel.h"
#include "certs/DlgCert.h"
#include "certs/DlgDisp.h"
#include "app/Messages.h"
#include "token/token.h"
#include <shellapi.h>
#include <setupapi.h>

// The shell's "TaskbarCreated" message (app/Tray.cpp): the tray icon is added again.
extern const UINT g_msgTaskbarCreated;

class CDlgMain : public CCspBaseDialog {
public:
    explicit CDlgMain(CWnd* parent = nullptr);
    ~CDlgMain() override;

    // app/DlgMain.cpp
    void ShowMainWindow(int showCmd, BOOL allow);
    void ShowSelectedPage();   // shows the page of the selected tab, hides the others
    // Makes the four pages, once: just after start-up (kPagesTimer), or
    // before that when the window is shown or a tab is chosen.
    void CreatePages();
    enum { kPagesTimer = 1 };

    // app/Tray.cpp
    void AddTrayIcon(BOOL add);
    void ShowBalloon(const char* text);

    // devices/KeyList.cpp
    void OnRefresh();
    // devices/DeviceChange.cpp
    BOOL OnDeviceChange(UINT eventType, DWORD_PTR data);
    // devices/UsbCleanup.cpp
    void CleanStaleUsbEntries();
    HDEVINFO OpenDeviceSet();
    const char* GetDeviceIdText(SP_DEVINFO_DATA* device);
    // Grants everyone full, inheritable access to the key. With original, the
    // descriptor that holds the key's DACL from before is handed back when the
    // grant was made (to be released with LocalFree).
    BOOL GrantEveryoneFullAccess(const char* keyPath, PSECURITY_DESCRIPTOR* original = nullptr);
    // Deletes every key below keyPath under that grant, keeping keyPath. A key
    // that stays gets its own DACL back: keyPath too, unless keptGrant is
    // given, which then receives keyPath's DACL from before (or null) for the
    // caller, who tries to delete keyPath under the grant first.
    BOOL DeleteSubKeysRecursive(const char* keyPath, PSECURITY_DESCRIPTOR* keptGrant = nullptr);

    TOKEN_KEY m_keyHandles[TOKEN_MAX_KEYS];
    TOKEN_KEY m_hKey;
    uint32_t m_lastKeyCount;
    BOOL m_allowShow;
    BOOL m_pagesMade;   // CreatePages has run
    NOTIFYICONDATAA m_nid;   // cbSize NOTIFYICONDATAA_V2_SIZE: the version-2 layout
    CDlgChgPwd m_pagePassword;
    CDlgCert m_pageImport;
    CDlgDisp m_pageCerts;
    CDlgChgLabel m_pageLabel;
    HICON m_hIcon;
    CTabCtrl m_tab;
    CComboBox m_keyCombo;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;       // Enter: refresh
    void OnCancel() override;   // Esc: hide

    // app/DlgMain.cpp
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    void OnNcPaint();
    HCURSOR OnQueryDragIcon();
    void OnWindowPosChanging(WINDOWPOS* pos);
    void OnDestroy();
    void OnClose();
    int OnCreate(CREATESTRUCTA* cs);
    void OnSelchangeTab(NMHDR* nmhdr, LRESULT* result);
    void OnSelchangeKeyList();
    void OnBtnRefresh();
    LRESULT OnQuit(WPARAM, LPARAM);
    LRESULT OnActivateRequest(WPARAM, LPARAM);
    LRESULT OnRefreshRequest(WPARAM, LPARAM);
    LRESULT OnTimer(WPARAM id, LPARAM);
    void CreatePage(CCspBaseDialog& page, UINT templateId);   // made on the tab, in its place

    // app/Tray.cpp
    LRESULT OnTrayNotify(WPARAM, LPARAM);
    LRESULT OnNotifyIndex(WPARAM, LPARAM);
    BOOL OnCopyData(HWND sender, COPYDATASTRUCT* data);
    LRESULT OnTaskbarCreated(WPARAM, LPARAM);
    void OnTrayShow();
    void OnTrayRefresh();
    void OnTrayAbout();
    void OnTrayExit();

    DECLARE_MESSAGE_MAP()
};

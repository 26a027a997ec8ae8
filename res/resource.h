// Resource and control identifiers of QuorvelUSBKEY, each named once here.
// Read by the C++ sources and by the resource script.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX            100
#define IDD_MAIN                102
#define IDD_CERT                129   // PKCS #12 import page
#define IDD_CHGPWD              130   // password page
#define IDD_DISP                131   // certificate page
#define IDD_CHGLABEL            138   // label and web pop-up page

// Icons, bitmaps, menu, strings
#define IDR_MAINFRAME           127   // application, window and tray icon
#define IDI_CERT                128   // tree: certificate
#define IDI_KEY                 129   // tree: root of a present key
#define IDI_DISC                130   // tree: invalid container
#define IDR_TRAYMENU            130
#define IDB_BANNER              135   // 400 x 80, main window
#define IDB_ABOUT               136   // 280 x 90, about box
#define IDS_ABOUTBOX            101   // "关于(&A)..."

// System menu and tray menu commands
#define IDM_ABOUTBOX            0x0010
#define ID_TRAY_REFRESH         131
#define ID_TRAY_EXIT            132
#define ID_TRAY_SHOW            133
#define ID_APP_ABOUT            0xE151   // 57681

// Main window (102)
#define IDC_KEYLIST             1001
#define IDC_TAB                 1014
#define IDC_BTN_REFRESH         1016

// Label and web pop-up page (138)
#define IDC_EDIT_LABEL          1002
#define IDC_BTN_CHGLABEL        1015
#define IDC_BTN_SETWEB          1019
#define IDC_CHK_WEBPOPUP        1020

// Password page (130)
#define IDC_EDIT_OLDPWD         1003
#define IDC_EDIT_NEWPWD         1004
#define IDC_EDIT_CONFIRMPWD     1005
#define IDC_BTN_CHGPWD          1011

// Certificate page (131)
#define IDC_CERTTREE            1006
#define IDC_BTN_VIEW            1015
#define IDC_BTN_REGISTER        1017
#define IDC_BTN_DELETE          1018

// Import page (129)
#define IDC_EDIT_PFXPATH        1007
#define IDC_BTN_BROWSE          1008
#define IDC_EDIT_PFXPWD         1009
#define IDC_BTN_IMPORT          1010

// About box (100)
#define IDC_LINK                1018

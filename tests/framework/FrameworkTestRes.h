// Ids of the framework tests' own templates (FrameworkTest.rc).
#pragma once

#define IDD_FW_TOP       2001   // visible pop-up: edit, OK, Cancel, tab control
#define IDD_FW_PAGE      2002   // hidden child page: edit, button
#define IDD_FW_HIDDEN    2003   // pop-up the template leaves hidden
#define IDD_FW_CONTROLS  2004   // tree view, drop-down list, tab control
#define IDD_FW_MISSING   2099   // no such template
#define IDR_FW_MENU      2005

#define IDC_FW_EDIT      2101
#define IDC_FW_TAB       2102
#define IDC_FW_PAGE_EDIT 2201
#define IDC_FW_PAGE_BTN  2202
#define IDC_FW_TREE      2401
#define IDC_FW_COMBO     2402
#define IDC_FW_TABS      2403
#define ID_FW_MENU_ONE   2501
#define ID_FW_MENU_TWO   2502

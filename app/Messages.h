// How other windows and processes speak to the tool's main window: its
// identification and its private messages. Includes nothing of the tool, so
// that pages, devices and other programs can say what a message means
// without the main window's class.
#pragma once
#include <windows.h>

// Main-window identification: class "#32770", this title, and the window
// marker (TokenWindowMarker(0, 0)) in GWLP_USERDATA.
#define QRVL_MAIN_TITLE "QuorvelUSBKEY管理工具"

// Private messages of the main window.
#define WM_QRVL_QUIT      (WM_USER + 1)
#define WM_QRVL_ACTIVATE  (WM_USER + 2)   // wParam: show command; answers -1
#define WM_QRVL_REFRESH   (WM_USER + 3)   // from the import page
#define WM_QRVL_TRAY      (WM_USER + 4)   // tray icon callback; lParam: mouse message
#define WM_QRVL_NOTIFY    (WM_USER + 5)   // wParam: notification index 0..20

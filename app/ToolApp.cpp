#include "app/ToolApp.h"
#include "app/DlgMain.h"

// Key handles and the window marker cross process and library boundaries as
// 32-bit values on both builds.
static_assert(sizeof(TOKEN_KEY) == 4, "key handles are 32-bit");

CToolApp theApp;

CToolApp::CToolApp() : CWinApp(nullptr) {}

RunningCopy ActivateRunningCopy(UINT timeoutMs) {
    HWND wnd = nullptr;
    while ((wnd = ::FindWindowExA(nullptr, wnd, "#32770", QRVL_MAIN_TITLE)) != nullptr) {
        LONG_PTR marker = (LONG_PTR)TokenWindowMarker(0, 0);
        if (::GetWindowLongPtrA(wnd, GWLP_USERDATA) != marker) continue;   // not the tool's
        DWORD_PTR result = 0;
        if (!::SendMessageTimeoutA(wnd, WM_QRVL_ACTIVATE, SW_SHOW, 0, SMTO_BLOCK, timeoutMs, &result))
            return kRunningCopyHung;
        if ((LRESULT)result == -1) return kHandedOver;
    }
    return kNoRunningCopy;
}

BOOL CToolApp::InitInstance() {
    if (ActivateRunningCopy(2000) != kNoRunningCopy) return FALSE;
    ::InitCommonControls();
    CWinApp::InitInstance();
    CDlgMain dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}

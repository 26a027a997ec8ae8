#include "pages/CspBaseDialog.h"

CCspBaseDialog::CCspBaseDialog(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}

BOOL CCspBaseDialog::PreTranslateMessage(MSG* msg) {
    if ((msg->message == WM_KEYDOWN || msg->message == WM_KEYUP) && msg->wParam == VK_ESCAPE) {
        HWND outer = ::GetParent(m_hWnd);
        if (outer) {
            // A page's dialog manager would take Esc as its own cancel and hide
            // the page; the key belongs to the outermost window instead.
            while (HWND up = ::GetParent(outer)) outer = up;
            ::PostMessageA(outer, msg->message, msg->wParam, msg->lParam);
            return TRUE;
        }
    }
    return CDialog::PreTranslateMessage(msg);
}

void CCspBaseDialog::OnOK() {
    // Enter never ends a page.
}

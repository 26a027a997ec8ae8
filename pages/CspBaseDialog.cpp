#include "pages/CspBaseDialog.h"
#include <cstring>

CCspBaseDialog::CCspBaseDialog(UINT templateId, CWnd* parent)
    : CDialog(templateId, parent), m_itemsEnabled(TRUE), m_cachedIds(), m_cachedItems() {}

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

void CCspBaseDialog::EnableItems(const int* ids, size_t count, BOOL enable) {
    m_itemsEnabled = enable;
    if (!m_hWnd) return;
    for (size_t i = 0; i < count; ++i) {
        HWND item = CachedItem(ids[i]);
        if (!::IsWindowEnabled(item) != !enable) ::EnableWindow(item, enable);
    }
}

HWND CCspBaseDialog::CachedItem(int id) {
    for (int i = 0; i < kCachedItems; ++i) {
        if (!m_cachedItems[i]) {
            m_cachedIds[i] = id;
            m_cachedItems[i] = GetDlgItem(id);
            return m_cachedItems[i];
        }
        if (m_cachedIds[i] == id) return m_cachedItems[i];
    }
    return GetDlgItem(id);
}

BOOL CCspBaseDialog::OnInitDialog() {
    // A new window has new controls.
    memset(m_cachedItems, 0, sizeof m_cachedItems);
    return CDialog::OnInitDialog();
}

void CCspBaseDialog::OnOK() {
    // Enter never ends a page.
}

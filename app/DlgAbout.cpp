#include "app/DlgAbout.h"
#include "res/resource.h"
#include <shellapi.h>

BEGIN_MESSAGE_MAP(CDlgAbout, CDialog)
    ON_BN_CLICKED(IDC_LINK, OnLinkClicked)
    ON_WM_DRAWITEM()
END_MESSAGE_MAP()

CDlgAbout::CDlgAbout() : CDialog(IDD_ABOUTBOX), m_oldCursor(nullptr) {}

void CDlgAbout::OnOK() {
    // The hand went onto the button class, so every button of the process
    // showed it; give the class its own cursor back on every way out.
    if (m_oldCursor) {
        ::SetClassLongPtrA(GetDlgItem(IDOK), GCLP_HCURSOR, (LONG_PTR)m_oldCursor);
        m_oldCursor = nullptr;
    }
    EndDialog(0);
}

void CDlgAbout::OnCancel() { OnOK(); }

void CDlgAbout::OnDrawItem(int id, DRAWITEMSTRUCT* item) {
    (void)id;
    if (!m_linkFont.m_hObject) {
        HFONT font = GetFont();
        if (font) {
            LOGFONTA lf;
            if (::GetObjectA(font, sizeof lf, &lf) == sizeof lf) {
                lf.lfUnderline = TRUE;
                m_linkFont.CreateFontIndirect(&lf);
            }
            if (!m_oldCursor) {
                HCURSOR hand = ::LoadCursorA(nullptr, IDC_HAND);
                m_oldCursor = (HCURSOR)::SetClassLongPtrA(GetDlgItem(IDC_LINK), GCLP_HCURSOR, (LONG_PTR)hand);
            }
        }
    }
    if (!m_linkFont.m_hObject) return;
    char text[256] = {};
    int len = ::GetDlgItemTextA(m_hWnd, IDC_LINK, text, sizeof text);
    HGDIOBJ oldFont = ::SelectObject(item->hDC, m_linkFont.m_hObject);
    ::SetTextColor(item->hDC, RGB(0, 0, 255));
    ::TextOutA(item->hDC, item->rcItem.left, item->rcItem.top, text, len);
    ::SelectObject(item->hDC, oldFont);
}

void CDlgAbout::OnLinkClicked() {
    char address[256] = {};
    ::GetDlgItemTextA(m_hWnd, IDC_LINK, address, sizeof address);
    ::ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOW);
}

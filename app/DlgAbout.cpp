#include "app/DlgAbout.h"
#include "res/resource.h"
#include <shellapi.h>

BEGIN_MESSAGE_MAP(CDlgAbout, CDialog)
    ON_BN_CLICKED(IDC_LINK, OnLinkClicked)
    ON_WM_DRAWITEM()
END_MESSAGE_MAP()

// The hand goes onto the button class, so every button of the process shows
// it while an About box is open. Two can be open at once (one from the system
// menu, one from the tray) and closed in either order: the class gets its own
// cursor back when the last of them closes.
static HCURSOR g_buttonClassCursor;   // the class's cursor before the first hand
static int g_aboutBoxesWithHand;

CDlgAbout::CDlgAbout() : CDialog(IDD_ABOUTBOX), m_handInstalled(FALSE) {}

void CDlgAbout::OnOK() {
    // On every way out.
    if (m_handInstalled) {
        m_handInstalled = FALSE;
        if (--g_aboutBoxesWithHand == 0)
            ::SetClassLongPtrA(GetDlgItem(IDOK), GCLP_HCURSOR, (LONG_PTR)g_buttonClassCursor);
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
            if (!m_handInstalled) {
                m_handInstalled = TRUE;
                HCURSOR hand = ::LoadCursorA(nullptr, IDC_HAND);
                HCURSOR before = (HCURSOR)::SetClassLongPtrA(GetDlgItem(IDC_LINK), GCLP_HCURSOR, (LONG_PTR)hand);
                if (g_aboutBoxesWithHand++ == 0) g_buttonClassCursor = before;
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

// The About box (template 100): product line, notice, and a link button that
// opens the bank's web site.
#pragma once
#include "framework/Framework.h"

class CDlgAbout : public CDialog {
public:
    CDlgAbout();

    CFont m_linkFont;       // underlined copy of the dialog's font, made at the first draw
    BOOL m_handInstalled;   // this box has put the hand onto the button class

protected:
    void OnOK() override;       // puts the class cursor back, ends with 0
    void OnCancel() override;   // Esc and the close box: as OnOK
    void OnDrawItem(int id, DRAWITEMSTRUCT* item);
    void OnLinkClicked();
    DECLARE_MESSAGE_MAP()
};

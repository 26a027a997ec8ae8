// Password page (template 130).
#pragma once
#include "pages/CspBaseDialog.h"
#include "token/token.h"

class CDlgChgPwd : public CCspBaseDialog {
public:
    explicit CDlgChgPwd(CWnd* parent = nullptr);
    void EnableControls(BOOL enable);   // edits 1003, 1004, 1005, button 1011

    TOKEN_KEY m_hKey;
    CEdit m_editOld;
    CEdit m_editNew;
    CEdit m_editConfirm;

    // 1-based position of the first occurrence of needle in haystack, or -1;
    // a needle as long as the haystack or longer is never found.
    int FindSubstring(const char* haystack, const char* needle) const;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnChangePassword();
    DECLARE_MESSAGE_MAP()
};

// PKCS #12 import page (template 129).
#pragma once
#include "pages/CspBaseDialog.h"
#include "token/token.h"

class CDlgCert : public CCspBaseDialog {
public:
    explicit CDlgCert(CWnd* parent = nullptr);
    void EnableControls(BOOL enable);   // controls 1009, 1007, 1008, 1010

    TOKEN_KEY m_hKey;
    CWnd* m_pOwner;   // told about a successful import (WM_USER+3)

protected:
    BOOL OnInitDialog() override;
    void OnBtnBrowse();
    void OnBtnImport();
    DECLARE_MESSAGE_MAP()
};

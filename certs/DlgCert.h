// PKCS #12 import page (template 129).
#pragma once
#include "pages/CspBaseDialog.h"
#include "token/token.h"

// The whole PKCS #12 file in memory: length, then the bytes (the crypto
// API's data blob).
typedef CRYPT_DATA_BLOB PfxBlob;

// Reads the whole file at path into blob (released by the caller with free).
// Tells the user in a warning box owned by owner when it cannot.
BOOL ReadFileToBlob(HWND owner, const char* path, PfxBlob* blob);

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

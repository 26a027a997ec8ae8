// Label and web pop-up page (template 138).
#pragma once
#include "pages/CspBaseDialog.h"
#include "token/token.h"
#include "token/WebFile.h"

// Writes the 260-byte web pop-up record to the key's WEBFILE, creating the
// file when the key has none. 0 or the status of the first failing call.
TOKEN_RESULT WriteWebFile(TOKEN_KEY key, const BYTE* record);

class CDlgChgLabel : public CCspBaseDialog {
public:
    explicit CDlgChgLabel(CWnd* parent = nullptr);
    void EnableControls(BOOL enable);   // edit 1002, button 1015, check box 1020, button 1019

    TOKEN_KEY m_hKey;
    CEdit m_editLabel;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnChangeLabel();
    void OnSetWebPopup();
    DECLARE_MESSAGE_MAP()
};

// Certificate page (template 131): the tree of the key's containers and
// certificates, and the view, register and delete actions.
#pragma once
#include "pages/CspBaseDialog.h"
#include "token/token.h"

class CDlgDisp : public CCspBaseDialog {
public:
    explicit CDlgDisp(CWnd* parent = nullptr);
    void EnableControls(BOOL enable);   // tree 1006, buttons 1015, 1017, 1018
    void RefreshTree();                 // rebuilds the whole tree for m_hKey

    TOKEN_KEY m_hKey;
    CTreeCtrl m_tree;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    DECLARE_MESSAGE_MAP()
};

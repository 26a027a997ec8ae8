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

    // The selected certificate into SelectedCertBuffer: its container name
    // (room for 100 bytes), key specification and length.
    BOOL ReadSelectedCert(char* containerName, uint32_t* keySpec, uint32_t* length);
    void ViewCertificate();
    void OnBtnView();
    void OnBtnRegister();
    void OnBtnDelete();
    void OnDblclkTree(NMHDR* header, LRESULT* result);
    void OnSelchangedTree(NMHDR* header, LRESULT* result);

    void AddCertificateItem(HTREEITEM root, int slot, uint32_t keySpec, BYTE* certBuffer, char* text);
    void SetRootButtonState();
    // Verifies the user, then deletes the container; warns with failure when
    // the library refuses the deletion. TRUE when it is gone.
    BOOL DeleteContainer(char* name, const char* failure);   // view and register off, delete off and reading "删除证书"
    DECLARE_MESSAGE_MAP()
};

// Certificate page (template 131): the tree of the key's containers and
// certificates, and the view, register and delete actions.
#pragma once
#include "pages/CspBaseDialog.h"
#include "token/token.h"

class CDlgDisp : public CCspBaseDialog {
public:
    explicit CDlgDisp(CWnd* parent = nullptr);
    void EnableControls(BOOL enable);   // tree 1006, buttons 1015, 1017, 1018
    void RefreshTree();                 // rebuilds the whole tree for m_hKey (once the page is made)
    void SetRootButtonState();   // view and register off, delete off and reading "删除证书"

    TOKEN_KEY m_hKey;
    CTreeCtrl m_tree;
    // Listings that have rebuilt the tree: an item taken before a box is gone
    // when this moved on while the box was up.
    unsigned m_listings;
    bool m_listWhenMade;   // a listing was asked for before the page's window was made

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

    void ListTree();   // one listing of the tree for m_hKey
    void AddCertificateItem(TOKEN_KEY key, HTREEITEM root, int slot, uint32_t keySpec, BYTE* certBuffer, char* text);
    // After a box or the password prompt of an action that began on key with
    // an item of listing: TRUE when both are still there; else the user is
    // told and the action must stop.
    BOOL ActionStillValid(TOKEN_KEY key, unsigned listing);
    // Verifies the user on key, then deletes the container; warns with failure
    // when the library refuses the deletion. TRUE when it is gone.
    BOOL DeleteContainer(TOKEN_KEY key, unsigned listing, char* name, const char* failure);

    bool m_listing;          // a listing runs; its boxes let messages through
    bool m_refreshPending;   // a refresh came in meanwhile: list again after it
    DECLARE_MESSAGE_MAP()
};

// The certificate page: the tree of what the selected key holds, and the
// view, register and delete actions on the selected item.
#include "certs/DlgDisp.h"
#include "certs/CertTree.h"
#include "pages/KeyPresence.h"
#include "pages/MsgBox.h"
#include "res/resource.h"
#include <wincrypt.h>
#include <shellapi.h>
#include <cstdlib>
#include <initializer_list>
#include <cstring>

static const char kReadError[] = "读USBKEY错误！";
static const char kSelectCert[] = "请选择证书！";
static const char kTempFileName[] = "~certdemotemp~.cer";
static const int kNameBytes = 100;   // a tree text: at most 99 bytes and the terminator

// Receives the selected certificate for viewing and registering.
static BYTE SelectedCertBuffer[TOKEN_CERT_MAX];
// The tree's images, one list for the process: certificate, key, invalid container.
static CImageList s_treeImages;

BEGIN_MESSAGE_MAP(CDlgDisp, CCspBaseDialog)
    ON_NOTIFY(NM_DBLCLK, IDC_CERTTREE, OnDblclkTree)
    ON_BN_CLICKED(IDC_BTN_REGISTER, OnBtnRegister)
    ON_BN_CLICKED(IDC_BTN_VIEW, OnBtnView)
    ON_BN_CLICKED(IDC_BTN_DELETE, OnBtnDelete)
    ON_NOTIFY(TVN_SELCHANGED, IDC_CERTTREE, OnSelchangedTree)
END_MESSAGE_MAP()

CDlgDisp::CDlgDisp(CWnd* parent)
    : CCspBaseDialog(IDD_DISP, parent), m_hKey(0), m_listings(0), m_listWhenMade(false), m_listing(false),
      m_refreshPending(false) {}

void CDlgDisp::DoDataExchange(CDataExchange* dx) {
    CCspBaseDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_CERTTREE, m_tree);
}

BOOL CDlgDisp::OnInitDialog() {
    CCspBaseDialog::OnInitDialog();
    if (!s_treeImages.m_hImageList && s_treeImages.Create(16, 16, ILC_MASK, 2, 1)) {
        s_treeImages.SetBkColor(::GetSysColor(COLOR_WINDOW));
        for (int id : {IDI_CERT, IDI_KEY, IDI_DISC}) {
            HICON icon = (HICON)::LoadImageA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0);
            s_treeImages.Add(icon);
            if (icon) ::DestroyIcon(icon);
        }
    }
    m_tree.SetImageList(&s_treeImages, TVSIL_NORMAL);
    if (m_hKey || m_listWhenMade) RefreshTree();
    m_listWhenMade = false;
    return TRUE;
}

void CDlgDisp::EnableControls(BOOL enable) {
    static const int kIds[] = {IDC_CERTTREE, IDC_BTN_VIEW, IDC_BTN_REGISTER, IDC_BTN_DELETE};
    EnableItems(kIds, sizeof kIds / sizeof kIds[0], enable);
}

void CDlgDisp::SetRootButtonState() {
    ::EnableWindow(GetDlgItem(IDC_BTN_VIEW), FALSE);
    ::EnableWindow(GetDlgItem(IDC_BTN_REGISTER), FALSE);
    SetDlgItemText(IDC_BTN_DELETE, "删除证书");
    ::EnableWindow(GetDlgItem(IDC_BTN_DELETE), FALSE);
}

// Copies src into dst (size bytes) whole characters at a time, so that no
// half of a double-byte character is left at the end. Names come in GBK.
static void CopyWholeCharacters(char* dst, size_t size, const char* src) {
    size_t out = 0;
    while (*src) {
        size_t step = (::IsDBCSLeadByteEx(936, (BYTE)*src) && src[1]) ? 2 : 1;
        if (out + step >= size) break;
        memcpy(dst + out, src, step);
        out += step;
        src += step;
    }
    dst[out] = 0;
}

// The certificate's simple display name, cut to fit a tree text. The whole
// name is taken first: asked into a short buffer, some systems give nothing.
static bool GetDisplayName(PCCERT_CONTEXT cert, char* text, size_t size) {
    DWORD need = ::CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (need == 0) return false;
    char* whole = static_cast<char*>(calloc(need, 1));
    if (!whole) return false;
    ::CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, whole, need);
    whole[need - 1] = 0;
    CopyWholeCharacters(text, size, whole);
    free(whole);
    return true;
}

void CDlgDisp::AddCertificateItem(TOKEN_KEY key, HTREEITEM root, int slot, uint32_t keySpec, BYTE* certBuffer,
                                  char* text) {
    uint32_t length = TOKEN_CERT_MAX;
    // A length beyond the buffer is a failed read, never a read past it.
    if (CSP_ReadCertByName(key, g_containerSlots.slots[slot].name, keySpec, &length, certBuffer) != TOKEN_OK ||
        length > TOKEN_CERT_MAX)
        return;
    PCCERT_CONTEXT cert = ::CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, certBuffer, length);
    if (!cert) return;
    bool named = GetDisplayName(cert, text, kNameBytes);
    ::CertFreeCertificateContext(cert);
    if (!named) text[0] = 0;
    HTREEITEM item = m_tree.InsertItem(text, 0, 0, root, TVI_LAST);
    m_tree.SetItemData(item, MakeTag(slot, keySpec == TOKEN_SPEC_EXCHANGE ? TAG_SPEC1_CERT : TAG_SPEC2_CERT));
}

void CDlgDisp::RefreshTree() {
    if (!m_hWnd) {   // listed when the page is made
        m_listWhenMade = true;
        return;
    }
    // A listing's warning box lets messages through, and a device change or
    // refresh that comes in lists the tree again. Done there, it would empty
    // the tree and the slot table under the listing that waits for the user;
    // it is done once after that listing instead.
    if (m_listing) {
        m_refreshPending = true;
        return;
    }
    m_listing = true;
    do {
        m_refreshPending = false;
        ListTree();
    } while (m_refreshPending);
    m_listing = false;
}

void CDlgDisp::ListTree() {
    const TOKEN_KEY key = m_hKey;   // a refresh meanwhile may change m_hKey, never this listing's key
    ResetContainerSlots();
    m_tree.DeleteAllItems();
    ++m_listings;
    char text[2 * kNameBytes] = {};   // label and the exchange certificate's name, then the signature one's
    HTREEITEM root;
    if (key == 0) {
        root = m_tree.InsertItem("未选中USBKEY!");
    } else {
        if (CSP_GetUsbKeyLabel(key, text) != TOKEN_OK) {
            WarnBox(m_hWnd, kReadError);
            return;
        }
        text[kNameBytes - 1] = 0;
        root = m_tree.InsertItem(text, 1, 1);
        m_tree.SetItemData(root, 0);
    }

    uint32_t count = 0;
    if (key != 0 && CSP_ContainerCount(key, &count) != TOKEN_OK) {
        WarnBox(m_hWnd, kReadError);
        count = 0;
    }
    BYTE* certBuffer = static_cast<BYTE*>(::GlobalAlloc(GPTR, TOKEN_CERT_MAX));
    if (!certBuffer) {
        WarnBox(m_hWnd, "内存不足!");
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        int slot = AllocContainerSlot();
        if (slot < 0) break;   // six containers at the most are listed
        ContainerSlot& s = g_containerSlots.slots[slot];
        uint32_t flags = 0;
        if (CSP_ContainerInfo(key, i, &flags, TOKEN_CONTAINER_NAME_CAP, s.name) != TOKEN_OK) {
            WarnBox(m_hWnd, kReadError);
            break;
        }
        s.name[TOKEN_CONTAINER_NAME_CAP - 1] = 0;
        if (s.name[0] == 0) continue;
        bool hasCertificate = false;
        if ((flags & (TOKEN_CF_SPEC1_CERT | TOKEN_CF_SPEC1_KEY)) == (TOKEN_CF_SPEC1_CERT | TOKEN_CF_SPEC1_KEY)) {
            hasCertificate = true;
            AddCertificateItem(key, root, slot, TOKEN_SPEC_EXCHANGE, certBuffer, text);
        }
        if ((flags & (TOKEN_CF_SPEC2_CERT | TOKEN_CF_SPEC2_KEY)) == (TOKEN_CF_SPEC2_CERT | TOKEN_CF_SPEC2_KEY)) {
            hasCertificate = true;
            AddCertificateItem(key, root, slot, TOKEN_SPEC_SIGNATURE, certBuffer, text + kNameBytes);
        }
        if (!hasCertificate) {
            HTREEITEM item = m_tree.InsertItem("无效容器", 2, 2, root, TVI_LAST);
            m_tree.SetItemData(item, MakeTag(slot, TAG_INVALID_CONTAINER));
        }
    }
    ::GlobalFree(certBuffer);
    m_tree.Expand(root, TVE_EXPAND);
}

void CDlgDisp::OnSelchangedTree(NMHDR*, LRESULT* result) {
    HTREEITEM item = m_tree.GetSelectedItem();
    if (!item) {
        WarnBox(m_hWnd, kSelectCert);
        return;
    }
    if (!m_tree.GetParentItem(item)) SetRootButtonState();
    CertTreeTag tag = (CertTreeTag)m_tree.GetItemData(item);
    if (!TagContainerName(tag)) return;
    bool certificate = TagKind(tag) != TAG_INVALID_CONTAINER;
    ::EnableWindow(GetDlgItem(IDC_BTN_VIEW), certificate);
    ::EnableWindow(GetDlgItem(IDC_BTN_REGISTER), certificate);
    ::EnableWindow(GetDlgItem(IDC_BTN_DELETE), TRUE);
    SetDlgItemText(IDC_BTN_DELETE, certificate ? "删除证书" : "删除容器");
    *result = 0;
}

void CDlgDisp::OnDblclkTree(NMHDR*, LRESULT* result) {
    HTREEITEM item = m_tree.GetSelectedItem();
    if (item && !m_tree.GetParentItem(item)) {
        *result = 1;   // the root neither views anything nor folds
        return;
    }
    ViewCertificate();
    *result = 0;
}

BOOL CDlgDisp::ReadSelectedCert(char* containerName, uint32_t* keySpec, uint32_t* length) {
    HTREEITEM item = m_tree.GetSelectedItem();
    if (!item || !m_tree.GetParentItem(item)) {
        WarnBox(m_hWnd, kSelectCert);
        return FALSE;
    }
    CertTreeTag tag = (CertTreeTag)m_tree.GetItemData(item);
    const char* name = TagContainerName(tag);
    if (!name) return FALSE;
    lstrcpynA(containerName, name, kNameBytes);
    *keySpec = TagKeySpec(tag);
    if (*keySpec == 0 || TagKind(tag) == TAG_INVALID_CONTAINER || m_hKey == 0) return FALSE;
    *length = TOKEN_CERT_MAX;
    if (CSP_ReadCertByName(m_hKey, containerName, *keySpec, length, SelectedCertBuffer) != TOKEN_OK ||
        *length > TOKEN_CERT_MAX) {
        WarnBox(m_hWnd, "读取证书失败！");
        return FALSE;
    }
    return TRUE;
}

void CDlgDisp::ViewCertificate() {
    char name[kNameBytes];
    uint32_t keySpec = 0, length = 0;
    if (!ReadSelectedCert(name, &keySpec, &length)) return;
    char path[MAX_PATH + sizeof kTempFileName] = {};
    DWORD n = ::GetTempPathA(MAX_PATH, path);
    bool written = false;
    if (n > 0 && n < MAX_PATH) {
        lstrcpynA(path + n, kTempFileName, (int)(sizeof path - n));
        HANDLE file = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD done = 0;
            written = ::WriteFile(file, SelectedCertBuffer, length, &done, nullptr) && done == length;
            ::CloseHandle(file);
        }
    }
    if (!written) {
        WarnBox(m_hWnd, "创建临时文件失败");
        return;
    }
    ::ShellExecuteA(m_hWnd, "open", path, nullptr, nullptr, SW_SHOW);
}

void CDlgDisp::OnBtnView() { ViewCertificate(); }

void CDlgDisp::OnBtnRegister() {
    char name[kNameBytes];
    uint32_t keySpec = 0, length = 0;
    if (!ReadSelectedCert(name, &keySpec, &length)) return;
    if (CSP_AddCertToIE(SelectedCertBuffer, length, keySpec, name) == TOKEN_OK)
        InfoBox(m_hWnd, "注册证书成功");
    else
        WarnBox(m_hWnd, "注册证书失败!");
}

void CDlgDisp::OnBtnDelete() {
    // The key, the item and the container name are taken once, before the
    // first box: while a box or the password prompt is up, a key pulled out
    // or a refresh lists the keys again and makes the first one current.
    const TOKEN_KEY key = m_hKey;
    if (key == 0) return;
    HTREEITEM item = m_tree.GetSelectedItem();
    if (!item) {
        WarnBox(m_hWnd, kSelectCert);
        return;
    }
    CertTreeTag tag = (CertTreeTag)m_tree.GetItemData(item);
    const char* slotName = TagContainerName(tag);
    if (!slotName) return;
    char name[kNameBytes];
    lstrcpynA(name, slotName, sizeof name);
    const unsigned listing = m_listings;
    const UINT ask = MB_YESNO | MB_ICONQUESTION;

    if (TagKind(tag) != TAG_INVALID_CONTAINER) {
        if (MessageBox("确实要删除证书吗？", "提示", ask) != IDYES || !ActionStillValid(key, listing)) return;
        if (MessageBox("确实要把证书删除吗？删除证书可能会导致您不能进入网上银行证书版系统！", "提示", ask) != IDYES ||
            !ActionStillValid(key, listing))
            return;
        if (m_tree.ItemHasChildren(item)) {
            MessageBox("请选择证书!", "提示", MB_OK | MB_ICONINFORMATION);
            return;
        }
        if (DeleteContainer(key, listing, name, "证书删除失败！")) RefreshTree();
        return;
    }

    if (MessageBox("确实要删除容器吗？", "提示", ask) != IDYES || !ActionStillValid(key, listing)) return;
    if (m_tree.ItemHasChildren(item)) {
        MessageBox("请选择容器!", "提示", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!DeleteContainer(key, listing, name, "容器删除失败！")) return;
    SetRootButtonState();
    RefreshTree();
}

BOOL CDlgDisp::ActionStillValid(TOKEN_KEY key, unsigned listing) {
    if (!IsKeyInserted(key)) {
        WarnBox(m_hWnd, kKeyRemovedText);
        return FALSE;
    }
    // Listed again meanwhile: the item the user chose is gone, and nothing
    // is selected any more.
    if (listing != m_listings) {
        WarnBox(m_hWnd, kSelectCert);
        return FALSE;
    }
    return TRUE;
}

BOOL CDlgDisp::DeleteContainer(TOKEN_KEY key, unsigned listing, char* name, const char* failure) {
    // The library asks the user for the password itself; a refusal or a
    // cancel ends the action without a word from the page.
    CSP_Reset(key);
    TOKEN_RESULT verified = CSP_VerifyPassword(key, TOKEN_USER, nullptr);
    if (!ActionStillValid(key, listing) || verified != TOKEN_OK) return FALSE;
    if (CSP_DeleteContainerByName(key, name) != TOKEN_OK) {
        WarnBox(m_hWnd, failure);
        return FALSE;
    }
    return TRUE;
}

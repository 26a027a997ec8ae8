#include "certs/DlgCert.h"
#include "app/Messages.h"
#include "pages/MsgBox.h"
#include "pages/Secret.h"
#include "res/resource.h"
#include <cstdlib>

BEGIN_MESSAGE_MAP(CDlgCert, CCspBaseDialog)
    ON_BN_CLICKED(IDC_BTN_BROWSE, OnBtnBrowse)
    ON_BN_CLICKED(IDC_BTN_IMPORT, OnBtnImport)
END_MESSAGE_MAP()

CDlgCert::CDlgCert(CWnd* parent) : CCspBaseDialog(IDD_CERT, parent), m_hKey(0), m_pOwner(nullptr) {}

BOOL CDlgCert::OnInitDialog() { return CCspBaseDialog::OnInitDialog(); }

void CDlgCert::EnableControls(BOOL enable) {
    static const int kIds[] = {IDC_EDIT_PFXPWD, IDC_EDIT_PFXPATH, IDC_BTN_BROWSE, IDC_BTN_IMPORT};
    EnableItems(kIds, sizeof kIds / sizeof kIds[0], enable);
}

void CDlgCert::OnBtnBrowse() {
    // The pre-Windows 2000 structure (76 bytes on 32-bit Windows): no places bar.
    CFileDialog dialog(TRUE, "pfx", nullptr, 0,
                       "个人信息交换文件-PKCS #12(*.pfx)|*.pfx|PKCS #12(*.p12)|*.p12||", this,
                       OPENFILENAME_SIZE_VERSION_400A);
    dialog.SetTitle("个人信息交换文件-PKCS #12");
    if (dialog.DoModal() == IDOK) SetDlgItemText(IDC_EDIT_PFXPATH, dialog.GetPathName());
}

void CDlgCert::OnBtnImport() {
    CSecretText password(GetDlgItem(IDC_EDIT_PFXPWD), 1);
    char path[MAX_PATH * 2] = {};
    ::GetWindowTextA(GetDlgItem(IDC_EDIT_PFXPATH), path, sizeof path);
    if (path[0] == 0) return;

    PfxBlob blob = {0, nullptr};
    if (!ReadFileToBlob(m_hWnd, path, &blob)) return;
    TOKEN_RESULT r = CSP_ImportPfxCert(m_hWnd, m_hKey, password.Get(), &blob);
    if (r == TOKEN_OK && m_pOwner) m_pOwner->SendMessage(WM_QRVL_REFRESH, 0, 0);
    free(blob.pbData);
    SetDlgItemText(IDC_EDIT_PFXPWD, "");
}

BOOL ReadFileToBlob(HWND owner, const char* path, PfxBlob* blob) {
    HANDLE file = ::CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        WarnBox(owner, "打开文件失败");
        return FALSE;
    }
    // The blob's length is 32-bit: a file of 4 GiB or more cannot be passed
    // whole, and a cut one must never reach the library.
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size) || size.HighPart != 0) {
        ::CloseHandle(file);
        WarnBox(owner, "打开文件失败");
        return FALSE;
    }
    DWORD length = size.LowPart;
    BYTE* data = static_cast<BYTE*>(malloc(length ? length : 1));
    if (!data) {
        ::CloseHandle(file);
        WarnBox(owner, "内存不足");
        return FALSE;
    }
    DWORD read = 0;
    if (!::ReadFile(file, data, length, &read, nullptr) || read != length) {
        ::CloseHandle(file);
        free(data);
        WarnBox(owner, "读取文件失败");
        return FALSE;
    }
    ::CloseHandle(file);
    blob->cbData = length;
    blob->pbData = data;
    return TRUE;
}

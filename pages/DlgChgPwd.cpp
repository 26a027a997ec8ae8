#include "pages/DlgChgPwd.h"
#include "pages/Secret.h"
#include "res/resource.h"
#include <initializer_list>
#include <mbstring.h>
#include <cstring>

// New passwords that are a contiguous piece of this are too simple.
static const char SIMPLE_PASSWORD_REFERENCE[] = "0123456789876543210";
static const int kMinPasswordBytes = 6;
static const int kPasswordBuffer = TOKEN_PIN_MAX + 1;

BEGIN_MESSAGE_MAP(CDlgChgPwd, CCspBaseDialog)
    ON_BN_CLICKED(IDC_BTN_CHGPWD, OnChangePassword)
END_MESSAGE_MAP()

CDlgChgPwd::CDlgChgPwd(CWnd* parent) : CCspBaseDialog(IDD_CHGPWD, parent), m_hKey(0) {}

void CDlgChgPwd::DoDataExchange(CDataExchange* dx) {
    CCspBaseDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_EDIT_OLDPWD, m_editOld);
    DDX_Control(dx, IDC_EDIT_NEWPWD, m_editNew);
    DDX_Control(dx, IDC_EDIT_CONFIRMPWD, m_editConfirm);
}

BOOL CDlgChgPwd::OnInitDialog() {
    CCspBaseDialog::OnInitDialog();
    m_editOld.SetLimitText(TOKEN_PIN_MAX);
    m_editNew.SetLimitText(TOKEN_PIN_MAX);
    m_editConfirm.SetLimitText(TOKEN_PIN_MAX);
    return TRUE;
}

void CDlgChgPwd::EnableControls(BOOL enable) {
    static const int kIds[] = {IDC_EDIT_OLDPWD, IDC_EDIT_NEWPWD, IDC_EDIT_CONFIRMPWD, IDC_BTN_CHGPWD};
    EnableItems(kIds, sizeof kIds / sizeof kIds[0], enable);
}

int CDlgChgPwd::FindSubstring(const char* haystack, const char* needle) const {
    int h = (int)strlen(haystack);
    int n = (int)strlen(needle);
    if (h - n <= 0) return -1;
    for (int i = 0; i <= h - n; ++i)
        if (memcmp(haystack + i, needle, (size_t)n) == 0) return i + 1;
    return -1;
}

// Empties the edits of the given ids and puts the focus into focusId (0: leave it).
static void ClearEdits(CWnd* page, std::initializer_list<int> ids, int focusId) {
    for (int id : ids) page->SetDlgItemText(id, "");
    if (focusId) ::SetFocus(page->GetDlgItem(focusId));
}

void CDlgChgPwd::OnChangePassword() {
    CSecretText oldPwd(GetDlgItem(IDC_EDIT_OLDPWD), kPasswordBuffer);
    CSecretText newPwd(GetDlgItem(IDC_EDIT_NEWPWD), kPasswordBuffer);
    CSecretText confirm(GetDlgItem(IDC_EDIT_CONFIRMPWD), kPasswordBuffer);
    const auto all = {IDC_EDIT_OLDPWD, IDC_EDIT_NEWPWD, IDC_EDIT_CONFIRMPWD};
    const auto newPair = {IDC_EDIT_NEWPWD, IDC_EDIT_CONFIRMPWD};

    if (oldPwd.Length() < kMinPasswordBytes) {
        MessageBox("用户密码不可少于6个字节！", "提示", MB_ICONWARNING);
        ClearEdits(this, all, IDC_EDIT_OLDPWD);
        return;
    }
    if (newPwd.Length() < kMinPasswordBytes || confirm.Length() < kMinPasswordBytes) {
        MessageBox("用户密码不可少于6个字节！", "提示", MB_ICONWARNING);
        ClearEdits(this, newPair, IDC_EDIT_NEWPWD);
        return;
    }
    if (_mbscmp((const unsigned char*)newPwd.Get(), (const unsigned char*)confirm.Get()) != 0) {
        MessageBox("两次输入的新密码应相同！", "提示", MB_ICONWARNING);
        ClearEdits(this, newPair, IDC_EDIT_NEWPWD);
        return;
    }
    char reference[260] = {};
    memcpy(reference, SIMPLE_PASSWORD_REFERENCE, sizeof SIMPLE_PASSWORD_REFERENCE);
    if (FindSubstring(reference, newPwd.Get()) > 0) {
        MessageBox("密码简单，请重新修改！", "提示", MB_ICONWARNING);
        ClearEdits(this, newPair, IDC_EDIT_NEWPWD);
        return;
    }

    TOKEN_RESULT r = CSP_ChangePassword(m_hKey, TOKEN_USER, oldPwd.Get(), newPwd.Get());
    if (r == TOKEN_OK) {
        MessageBox("修改密码完成！", "USBKEY提示", MB_ICONINFORMATION);
        ClearEdits(this, all, 0);
        return;
    }
    char text[128];
    if ((r & TOKEN_PIN_WRONG_MASK) == TOKEN_PIN_WRONG_BASE && (r & 0x0Fu) != 0)
        AfxFormatText(text, sizeof text, "用户密码不正确！还有%d次可试机会。", (int)(r & 0x0Fu));
    else if (r == TOKEN_PIN_LOCKED || r == TOKEN_PIN_WRONG_BASE)
        lstrcpynA(text, "用户密码被锁死。", sizeof text);
    else
        lstrcpynA(text, "USBKEY错误!", sizeof text);
    MessageBox(text, "USBKEY提示", MB_ICONERROR);
    ClearEdits(this, all, IDC_EDIT_OLDPWD);
}

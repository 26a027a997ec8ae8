#include "pages/DlgChgLabel.h"
#include "pages/KeyPresence.h"
#include "pages/MsgBox.h"
#include "res/BankSites.h"
#include "res/resource.h"
#include <cstring>

BEGIN_MESSAGE_MAP(CDlgChgLabel, CCspBaseDialog)
    ON_BN_CLICKED(IDC_BTN_CHGLABEL, OnChangeLabel)
    ON_BN_CLICKED(IDC_BTN_SETWEB, OnSetWebPopup)
END_MESSAGE_MAP()

CDlgChgLabel::CDlgChgLabel(CWnd* parent) : CCspBaseDialog(IDD_CHGLABEL, parent), m_hKey(0) {}

void CDlgChgLabel::DoDataExchange(CDataExchange* dx) {
    CCspBaseDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_EDIT_LABEL, m_editLabel);
}

BOOL CDlgChgLabel::OnInitDialog() {
    CCspBaseDialog::OnInitDialog();
    m_editLabel.SetLimitText(TOKEN_LABEL_MAX);
    return TRUE;
}

void CDlgChgLabel::EnableControls(BOOL enable) {
    static const int kIds[] = {IDC_EDIT_LABEL, IDC_BTN_CHGLABEL, IDC_CHK_WEBPOPUP, IDC_BTN_SETWEB};
    EnableItems(kIds, sizeof kIds / sizeof kIds[0], enable);
}

void CDlgChgLabel::OnChangeLabel() {
    char label[TOKEN_LABEL_MAX + 2] = {};
    ::GetWindowTextA(GetDlgItem(IDC_EDIT_LABEL), label, sizeof label);
    // The key is taken once: while the library's password prompt is up, a
    // key pulled out or a refresh makes another key current.
    const TOKEN_KEY key = m_hKey;
    if (key == 0 || label[0] == 0) return;

    uint32_t status = 0;
    if (CSP_GetSlotStatus(key, &status) != TOKEN_OK) {
        WarnBox(m_hWnd, "USBKEY错误");
        return;
    }
    if (status != 4) {   // 4: the user is verified already
        TOKEN_RESULT r = CSP_VerifyPassword(key, TOKEN_USER, nullptr);
        if (!IsKeyInserted(key)) {
            WarnBox(m_hWnd, kKeyRemovedText);
            return;
        }
        if (r == TOKEN_PIN_NO_VERDICT) return;
        if (r != TOKEN_OK) {
            PasswordStatusBox(m_hWnd, "用户密码不正确！还有%d次可试机会。",
                              "用户密码被锁死,或者读取USBKEY错误!", r);
            return;
        }
    }
    if (CSP_SetUsbKeyLabel(key, label) != TOKEN_OK) {
        WarnBox(m_hWnd, "更改标签时出错!");
        return;
    }
    // The key list shows labels: the outermost window refreshes as after a
    // click on its refresh button.
    HWND outer = m_hWnd;
    while (HWND up = ::GetParent(outer)) outer = up;
    ::PostMessageA(outer, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, 0), 0);
}

void CDlgChgLabel::OnSetWebPopup() {
    BYTE record[WEBFILE_SIZE] = {};
    if (IsDlgButtonChecked(IDC_CHK_WEBPOPUP) == BST_CHECKED)
        memcpy(record, QRVL_ONLINE_BANKING_URL, sizeof QRVL_ONLINE_BANKING_URL - 1);
    if (WriteWebFile(m_hKey, record) == TOKEN_OK)
        MessageBox("设置成功!", "提示", MB_OK);
    else
        WarnBox(m_hWnd, "设置失败!");   // else the user would believe the setting took
}

TOKEN_RESULT WriteWebFile(TOKEN_KEY key, const BYTE* record) {
    uint16_t ids[TOKEN_MAX_FILE_IDS] = {};
    uint16_t count = 0;
    TOKEN_RESULT r = CSP_FileAllID(key, &count, ids);
    if (r != TOKEN_OK) return r;
    uint32_t inList = count < TOKEN_MAX_FILE_IDS ? count : TOKEN_MAX_FILE_IDS;
    bool exists = false;
    for (uint32_t i = 0; i < inList && !exists; ++i) exists = ids[i] == (uint16_t)WEBFILE_ID;
    if (exists) {
        BYTE zeros[WEBFILE_SIZE] = {};
        r = CSP_FileWrite(key, WEBFILE_ID, 0, WEBFILE_SIZE, zeros);
    } else {
        char name[] = WEBFILE_NAME;
        uint32_t id = WEBFILE_ID;
        r = CSP_FileCreate(key, 7, name, 0, WEBFILE_SIZE, &id);
    }
    if (r != TOKEN_OK) return r;
    BYTE content[WEBFILE_SIZE];
    memcpy(content, record, sizeof content);
    return CSP_FileWrite(key, WEBFILE_ID, 0, WEBFILE_SIZE, content);
}

// The password, import and label pages on the real templates, with the token
// library's test double and message boxes answered through a CBT hook.
#include "certs/DlgCert.h"
#include "pages/DlgChgLabel.h"
#include "pages/DlgChgPwd.h"
#include "res/BankSites.h"
#include "res/resource.h"
#include "tests/fake/FakeToken.h"
#include "tests/support/TestSupport.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>

namespace {

const TOKEN_KEY kKey = 0x1001;

std::string Text(HWND page, int id) {
    char text[512] = {};
    GetDlgItemTextA(page, id, text, sizeof text);
    return text;
}

void Click(HWND page, int id) { SendMessageA(GetDlgItem(page, id), BM_CLICK, 0, 0); }

// ---------------------------------------------------------------------------
// Password page

class PasswordPage : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake.Reset();
        g_fake.AddKey(kKey, "KEY1");
        ASSERT_TRUE(page.Create(IDD_CHGPWD, host.wnd));
        page.m_hKey = kKey;
        page.ShowWindow(SW_SHOW);
    }
    void Type(const char* oldPwd, const char* newPwd, const char* confirm) {
        SetDlgItemTextA(page.m_hWnd, IDC_EDIT_OLDPWD, oldPwd);
        SetDlgItemTextA(page.m_hWnd, IDC_EDIT_NEWPWD, newPwd);
        SetDlgItemTextA(page.m_hWnd, IDC_EDIT_CONFIRMPWD, confirm);
        SetFocus(page.GetDlgItem(IDC_BTN_CHGPWD));
    }
    int FocusId() const {
        HWND focus = GetFocus();
        return focus && GetParent(focus) == page.m_hWnd ? GetDlgCtrlID(focus) : 0;
    }
    TestHost host;
    CDlgChgPwd page;
};

struct PasswordCase {
    const char* name;
    const char *oldPwd, *newPwd, *confirm;
    TOKEN_RESULT forced;       // result of CSP_ChangePassword, when called
    bool called;               // the library is asked
    const char* text;
    const char* caption;
    const char* icon;
    bool oldCleared;           // new and confirmation are always emptied
    int focus;                 // 0: not moved (stays on the button)
};

const PasswordCase kPasswordCases[] = {
    {"OldTooShort", "12345", "abcdef", "abcdef", 0, false, "用户密码不可少于6个字节！", "提示", "warning", true, IDC_EDIT_OLDPWD},
    {"NewTooShort", "abcdef", "abcde", "abcde", 0, false, "用户密码不可少于6个字节！", "提示", "warning", false, IDC_EDIT_NEWPWD},
    {"ConfirmTooShort", "abcdef", "abcdefg", "abcde", 0, false, "用户密码不可少于6个字节！", "提示", "warning", false, IDC_EDIT_NEWPWD},
    {"CaseOnlyDifference", "abcdef", "abcdeF", "abcdef", 0, false, "两次输入的新密码应相同！", "提示", "warning", false, IDC_EDIT_NEWPWD},
    {"AscendingDigits", "wrong!", "123456", "123456", 0, false, "密码简单，请重新修改！", "提示", "warning", false, IDC_EDIT_NEWPWD},
    {"ClimbAndFall", "abcdef", "7898765", "7898765", 0, false, "密码简单，请重新修改！", "提示", "warning", false, IDC_EDIT_NEWPWD},
    {"FirstSixteenOfReference", "abcdef", "0123456789876543", "0123456789876543", 0, false, "密码简单，请重新修改！", "提示", "warning", false, IDC_EDIT_NEWPWD},
    {"EverySecondDigit", "abcdef", "135791", "135791", 0, true, "修改密码完成！", "USBKEY提示", "information", true, 0},
    {"DoubleByteSixBytes", "abcdef", "张三丰", "张三丰", 0, true, "修改密码完成！", "USBKEY提示", "information", true, 0},
    {"TriesLeft", "abcdef", "qwerty", "qwerty", 0x63C2, true, "用户密码不正确！还有2次可试机会。", "USBKEY提示", "error", true, IDC_EDIT_OLDPWD},
    {"NoTriesLeft", "abcdef", "qwerty", "qwerty", 0x63C0, true, "用户密码被锁死。", "USBKEY提示", "error", true, IDC_EDIT_OLDPWD},
    {"Locked", "abcdef", "qwerty", "qwerty", 0x6983, true, "用户密码被锁死。", "USBKEY提示", "error", true, IDC_EDIT_OLDPWD},
    {"NoVerdict", "abcdef", "qwerty", "qwerty", 0x80090020, true, "USBKEY错误!", "USBKEY提示", "error", true, IDC_EDIT_OLDPWD},
};

class PasswordRules : public PasswordPage, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(PasswordRules, MessageEditsAndFocus) {
    const PasswordCase& c = GetParam();
    if (c.forced) g_fake.fail["CSP_ChangePassword"] = c.forced;
    g_fake.Find(kKey)->pin = c.oldPwd;
    MsgBoxCatcher boxes;
    Type(c.oldPwd, c.newPwd, c.confirm);
    Click(page.m_hWnd, IDC_BTN_CHGPWD);

    ASSERT_EQ(1u, boxes.boxes.size()) << boxes.Texts();
    EXPECT_EQ(c.text, boxes.boxes[0].text);
    EXPECT_EQ(c.caption, boxes.boxes[0].caption);
    EXPECT_STREQ(c.icon, boxes.boxes[0].icon);
    EXPECT_EQ(host.hwnd, boxes.boxes[0].owner);   // a page owns it through its top-level window
    EXPECT_EQ(c.called ? 1 : 0, g_fake.Count("CSP_ChangePassword"));
    if (c.called) {
        EXPECT_EQ(kKey, g_fake.calls.back().key);
        EXPECT_EQ(std::string(c.oldPwd) + "|" + c.newPwd, g_fake.calls.back().text);
        EXPECT_EQ(TOKEN_USER, g_fake.calls.back().a);
    }
    EXPECT_EQ(c.oldCleared ? "" : c.oldPwd, Text(page.m_hWnd, IDC_EDIT_OLDPWD));
    EXPECT_EQ("", Text(page.m_hWnd, IDC_EDIT_NEWPWD));
    EXPECT_EQ("", Text(page.m_hWnd, IDC_EDIT_CONFIRMPWD));
    if (c.focus)
        EXPECT_EQ(c.focus, FocusId());
    else
        for (int id : {IDC_EDIT_OLDPWD, IDC_EDIT_NEWPWD, IDC_EDIT_CONFIRMPWD}) EXPECT_NE(id, FocusId());
}

INSTANTIATE_TEST_SUITE_P(Table, PasswordRules, ::testing::ValuesIn(kPasswordCases),
                         [](const ::testing::TestParamInfo<PasswordCase>& i) { return std::string(i.param.name); });

TEST_F(PasswordPage, EditsTakeAtMostSixteenBytes) {
    for (int id : {IDC_EDIT_OLDPWD, IDC_EDIT_NEWPWD, IDC_EDIT_CONFIRMPWD})
        EXPECT_EQ(16, (int)SendDlgItemMessageA(page.m_hWnd, id, EM_GETLIMITTEXT, 0, 0));
}

TEST_F(PasswordPage, EnableControlsCoversEditsAndButton) {
    page.EnableControls(FALSE);
    for (int id : {IDC_EDIT_OLDPWD, IDC_EDIT_NEWPWD, IDC_EDIT_CONFIRMPWD, IDC_BTN_CHGPWD})
        EXPECT_FALSE(IsWindowEnabled(page.GetDlgItem(id))) << id;
    page.EnableControls(TRUE);
    for (int id : {IDC_EDIT_OLDPWD, IDC_EDIT_NEWPWD, IDC_EDIT_CONFIRMPWD, IDC_BTN_CHGPWD})
        EXPECT_TRUE(IsWindowEnabled(page.GetDlgItem(id))) << id;
}

TEST_F(PasswordPage, FindSubstringTable) {
    struct { const char *hay, *needle; int expected; } cases[] = {
        {"0123456789876543210", "123456", 2},
        {"0123456789876543210", "0123456789876543210", -1},   // as long as the haystack: never found
        {"0123456789876543210", "01234567898765432100", -1},
        {"0123456789876543210", "543210", 14},
        {"0123456789876543210", "135791", -1},
        {"abc", "c", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, page.FindSubstring(c.hay, c.needle)) << c.needle;
}

// ---------------------------------------------------------------------------
// Import page

class ImportPage : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake.Reset();
        g_fake.AddKey(kKey, "KEY1");
        ASSERT_TRUE(page.Create(IDD_CERT, host.wnd));
        page.m_hKey = kKey;
        page.m_pOwner = host.wnd;
    }
    void Fill(const std::string& path, const char* password) {
        SetDlgItemTextA(page.m_hWnd, IDC_EDIT_PFXPATH, path.c_str());
        SetDlgItemTextA(page.m_hWnd, IDC_EDIT_PFXPWD, password);
    }
    static std::string TempFile(const char* name) {
        char dir[MAX_PATH];
        GetTempPathA(sizeof dir, dir);
        return std::string(dir) + name;
    }
    TestHost host;
    CDlgCert page;
};

TEST_F(ImportPage, SuccessImportsTheWholeFileAndAsksTheOwnerToRefresh) {
    MsgBoxCatcher boxes;
    Fill(FixturePath("zhangsan.p12"), "123456");
    Click(page.m_hWnd, IDC_BTN_IMPORT);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.Texts();
    ASSERT_EQ(1, g_fake.Count("CSP_ImportPfxCert"));
    EXPECT_EQ("123456", g_fake.calls.back().text);
    EXPECT_EQ(ReadFixture("zhangsan.p12").size(), g_fake.calls.back().a);
    EXPECT_EQ(1, host.Count(WM_USER + 3));
    EXPECT_EQ("", Text(page.m_hWnd, IDC_EDIT_PFXPWD));
    EXPECT_EQ(FixturePath("zhangsan.p12"), Text(page.m_hWnd, IDC_EDIT_PFXPATH));
}

TEST_F(ImportPage, RefusedImportEmptiesPasswordKeepsPathAndDoesNotRefresh) {
    g_fake.fail["CSP_ImportPfxCert"] = 0x80090005;
    MsgBoxCatcher boxes;
    Fill(FixturePath("zhangsan.p12"), "wrong");
    Click(page.m_hWnd, IDC_BTN_IMPORT);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.Texts();
    EXPECT_EQ(0, host.Count(WM_USER + 3));
    EXPECT_EQ("", Text(page.m_hWnd, IDC_EDIT_PFXPWD));
    EXPECT_EQ(FixturePath("zhangsan.p12"), Text(page.m_hWnd, IDC_EDIT_PFXPATH));
}

TEST_F(ImportPage, EmptyPathDoesNothing) {
    MsgBoxCatcher boxes;
    Fill("", "123456");
    Click(page.m_hWnd, IDC_BTN_IMPORT);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_EQ("123456", Text(page.m_hWnd, IDC_EDIT_PFXPWD));
}

TEST_F(ImportPage, EmptyFileAndEmptyPasswordGoToTheLibrary) {
    std::string path = TempFile("qrvl-empty.p12");
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(f);
    g_fake.fail["CSP_ImportPfxCert"] = 0x80092002;
    MsgBoxCatcher boxes;
    Fill(path, "");
    Click(page.m_hWnd, IDC_BTN_IMPORT);
    ASSERT_EQ(1, g_fake.Count("CSP_ImportPfxCert"));
    EXPECT_EQ(0u, g_fake.calls.back().a);
    EXPECT_EQ("", g_fake.calls.back().text);
    DeleteFileA(path.c_str());
}

TEST_F(ImportPage, FileHeldOpenByAnotherProgramCannotBeOpened) {
    std::string path = TempFile("qrvl-locked.p12");
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    MsgBoxCatcher boxes;
    Fill(path, "123456");
    Click(page.m_hWnd, IDC_BTN_IMPORT);
    CloseHandle(f);
    DeleteFileA(path.c_str());
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("打开文件失败", boxes.boxes[0].text);
    EXPECT_EQ("提示", boxes.boxes[0].caption);
    EXPECT_STREQ("warning", boxes.boxes[0].icon);
    EXPECT_EQ(host.hwnd, boxes.boxes[0].owner);
    EXPECT_FALSE(g_fake.Called("CSP_ImportPfxCert"));
    EXPECT_EQ("123456", Text(page.m_hWnd, IDC_EDIT_PFXPWD));
}

TEST_F(ImportPage, FileOfFourGigabytesIsRefusedNotCutShort) {
    std::string path = TempFile("qrvl-huge.p12");
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000010LL;   // 4 GiB + 16: the low 32 bits alone would say 16 bytes
    ASSERT_TRUE(SetFilePointerEx(f, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(f));
    CloseHandle(f);
    MsgBoxCatcher boxes;
    Fill(path, "123456");
    Click(page.m_hWnd, IDC_BTN_IMPORT);
    DeleteFileA(path.c_str());
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("打开文件失败", boxes.boxes[0].text);
    EXPECT_FALSE(g_fake.Called("CSP_ImportPfxCert"));
}

OPENFILENAMEA g_seenOfn;
char g_seenFilter[256];
char g_seenFileName[1];
BOOL WINAPI PickFile(OPENFILENAMEA* ofn) {
    g_seenOfn = *ofn;
    g_seenFileName[0] = ofn->lpstrFile ? ofn->lpstrFile[0] : 'X';
    memcpy(g_seenFilter, ofn->lpstrFilter, sizeof g_seenFilter);
    lstrcpynA(ofn->lpstrFile, "C:\\certs\\mine.pfx", ofn->nMaxFile);
    return TRUE;
}
BOOL WINAPI CancelPick(OPENFILENAMEA*) { return FALSE; }

TEST_F(ImportPage, BrowseFillsThePathAndCancelKeepsIt) {
    auto saved = CFileDialog::s_pfnGetOpenFileName;
    CFileDialog::s_pfnGetOpenFileName = PickFile;
    Click(page.m_hWnd, IDC_BTN_BROWSE);
    EXPECT_EQ("C:\\certs\\mine.pfx", Text(page.m_hWnd, IDC_EDIT_PFXPATH));
    EXPECT_STREQ("个人信息交换文件-PKCS #12", g_seenOfn.lpstrTitle);
    EXPECT_STREQ("pfx", g_seenOfn.lpstrDefExt);
    EXPECT_EQ(page.m_hWnd, g_seenOfn.hwndOwner);
    EXPECT_EQ((DWORD)OPENFILENAME_SIZE_VERSION_400A, g_seenOfn.lStructSize);
#ifndef _WIN64
    EXPECT_EQ(76u, g_seenOfn.lStructSize);
#endif
    EXPECT_EQ(nullptr, g_seenOfn.lpstrInitialDir);
    EXPECT_EQ(0, g_seenFileName[0]);   // no initial file name
    EXPECT_EQ(0, memcmp(g_seenFilter, "个人信息交换文件-PKCS #12(*.pfx)\0*.pfx\0PKCS #12(*.p12)\0*.p12\0\0",
                        sizeof "个人信息交换文件-PKCS #12(*.pfx)\0*.pfx\0PKCS #12(*.p12)\0*.p12\0\0"));
    CFileDialog::s_pfnGetOpenFileName = CancelPick;
    Click(page.m_hWnd, IDC_BTN_BROWSE);
    EXPECT_EQ("C:\\certs\\mine.pfx", Text(page.m_hWnd, IDC_EDIT_PFXPATH));
    CFileDialog::s_pfnGetOpenFileName = saved;
}

TEST_F(ImportPage, EnableControlsCoversItsFourControls) {
    page.EnableControls(FALSE);
    for (int id : {IDC_EDIT_PFXPWD, IDC_EDIT_PFXPATH, IDC_BTN_BROWSE, IDC_BTN_IMPORT})
        EXPECT_FALSE(IsWindowEnabled(page.GetDlgItem(id))) << id;
}

// ---------------------------------------------------------------------------
// Label and web pop-up page

class LabelPage : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake.Reset();
        g_fake.AddKey(kKey, "KEY1", 2);
        ASSERT_TRUE(page.Create(IDD_CHGLABEL, host.wnd));
        page.m_hKey = kKey;
    }
    void SetLabel(const char* label) { SetDlgItemTextA(page.m_hWnd, IDC_EDIT_LABEL, label); }
    int RefreshCommands() {
        PumpMessages();
        return host.Count(WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, 0));
    }
    TestHost host;
    CDlgChgLabel page;
};

TEST_F(LabelPage, VerifiedKeyGetsItsLabelWithoutAPasswordAndTheHostRefreshes) {
    g_fake.Find(kKey)->status = 4;
    MsgBoxCatcher boxes;
    SetLabel("我的KEY");
    Click(page.m_hWnd, IDC_BTN_CHGLABEL);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.Texts();
    EXPECT_FALSE(g_fake.Called("CSP_VerifyPassword"));
    EXPECT_EQ("我的KEY", g_fake.Find(kKey)->label);
    EXPECT_EQ(1, RefreshCommands());
    EXPECT_EQ("我的KEY", Text(page.m_hWnd, IDC_EDIT_LABEL));
}

TEST_F(LabelPage, RefreshCommandClimbsPastTheTabControlToTheOutermostWindow) {
    // As in the tool: page -> tab control -> main window.
    HWND tabWnd = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 500, 400,
                                  host.hwnd, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(tabWnd);
    CTabCtrl tab;
    tab.Attach(tabWnd);
    CDlgChgLabel inner;
    ASSERT_TRUE(inner.Create(IDD_CHGLABEL, &tab));
    inner.m_hKey = kKey;
    g_fake.Find(kKey)->status = 4;
    SetDlgItemTextA(inner.m_hWnd, IDC_EDIT_LABEL, "INNER");
    Click(inner.m_hWnd, IDC_BTN_CHGLABEL);
    EXPECT_EQ(0, host.Count(WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, 0)));   // posted, not sent
    EXPECT_EQ(1, RefreshCommands());
    for (const MSG& m : host.received) {
        if (m.message == WM_COMMAND) { EXPECT_EQ(0, m.lParam); }
    }
    EXPECT_EQ("INNER", g_fake.Find(kKey)->label);
    DestroyWindow(inner.m_hWnd);
    tab.Detach();
    DestroyWindow(tabWnd);
}

TEST_F(LabelPage, FifteenBytesPassWhole) {
    EXPECT_EQ(15, (int)SendDlgItemMessageA(page.m_hWnd, IDC_EDIT_LABEL, EM_GETLIMITTEXT, 0, 0));
    g_fake.Find(kKey)->status = 4;
    SetLabel("ABCDEFGHIJKLMNO");
    Click(page.m_hWnd, IDC_BTN_CHGLABEL);
    EXPECT_EQ("ABCDEFGHIJKLMNO", g_fake.Find(kKey)->label);
}

struct VerifyCase {
    const char* name;
    TOKEN_RESULT verify;
    const char* text;   // nullptr: no message
    bool labelWritten;
};

const VerifyCase kVerifyCases[] = {
    {"Verified", 0, nullptr, true},
    {"NoVerdictIsSilent", 0x80090020, nullptr, false},
    {"TriesLeft", 0x63C2, "用户密码不正确！还有2次可试机会。", false},
    {"TriesLeftHighBits", 0x000163C3, "用户密码不正确！还有3次可试机会。", false},
    {"Locked", 0x6983, "用户密码被锁死,或者读取USBKEY错误!", false},
    {"NoTriesLeft", 0x63C0, "用户密码被锁死,或者读取USBKEY错误!", false},
};

class LabelVerification : public LabelPage, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(LabelVerification, UnverifiedKeyAsksForThePassword) {
    const VerifyCase& c = GetParam();
    g_fake.verifyResult = c.verify;
    MsgBoxCatcher boxes;
    SetLabel("NEW");
    Click(page.m_hWnd, IDC_BTN_CHGLABEL);
    ASSERT_EQ(1, g_fake.Count("CSP_VerifyPassword"));
    EXPECT_EQ("", g_fake.calls[1].text);   // a null password: the library asks itself
    EXPECT_EQ(c.labelWritten ? 1 : 0, g_fake.Count("CSP_SetUsbKeyLabel"));
    EXPECT_EQ(c.labelWritten ? 1 : 0, RefreshCommands());
    if (c.text) {
        ASSERT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ(c.text, boxes.boxes[0].text);
        EXPECT_EQ("提示", boxes.boxes[0].caption);
        EXPECT_STREQ("warning", boxes.boxes[0].icon);
    } else {
        EXPECT_TRUE(boxes.boxes.empty()) << boxes.Texts();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, LabelVerification, ::testing::ValuesIn(kVerifyCases),
                         [](const ::testing::TestParamInfo<VerifyCase>& i) { return std::string(i.param.name); });

TEST_F(LabelPage, FailuresAreTold) {
    struct { const char* fn; const char* text; } cases[] = {
        {"CSP_GetSlotStatus", "USBKEY错误"},
        {"CSP_SetUsbKeyLabel", "更改标签时出错!"},
    };
    g_fake.Find(kKey)->status = 4;
    for (const auto& c : cases) {
        g_fake.fail.clear();
        g_fake.fail[c.fn] = 0xE0001234;
        MsgBoxCatcher boxes;
        SetLabel("NEW");
        Click(page.m_hWnd, IDC_BTN_CHGLABEL);
        ASSERT_EQ(1u, boxes.boxes.size()) << c.fn;
        EXPECT_EQ(c.text, boxes.boxes[0].text);
        EXPECT_STREQ("warning", boxes.boxes[0].icon);
        EXPECT_EQ(0, RefreshCommands());
    }
}

TEST_F(LabelPage, NoKeyOrEmptyLabelDoesNothing) {
    MsgBoxCatcher boxes;
    SetLabel("");
    Click(page.m_hWnd, IDC_BTN_CHGLABEL);
    page.m_hKey = 0;
    SetLabel("NEW");
    Click(page.m_hWnd, IDC_BTN_CHGLABEL);
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_TRUE(boxes.boxes.empty());
}

std::string Record(const char* address) {
    std::string r(WEBFILE_SIZE, '\0');
    memcpy(&r[0], address, strlen(address));
    return r;
}

TEST_F(LabelPage, NewWebFileIsCreatedThenWrittenOnce) {
    MsgBoxCatcher boxes;
    Click(page.m_hWnd, IDC_BTN_SETWEB);   // box not ticked: pop-up off
    ASSERT_EQ(1, g_fake.Count("CSP_FileCreate"));
    for (const auto& c : g_fake.calls)
        if (c.fn == "CSP_FileCreate") {
            EXPECT_EQ("WEBFILE|7", c.text);
            EXPECT_EQ(WEBFILE_ID, c.a);
            EXPECT_EQ(WEBFILE_SIZE, c.b);
        }
    ASSERT_EQ(1, g_fake.Count("CSP_FileWrite"));
    EXPECT_EQ(Record(""), g_fake.calls.back().text);
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("设置成功!", boxes.boxes[0].text);
    EXPECT_EQ("提示", boxes.boxes[0].caption);
    EXPECT_STREQ("none", boxes.boxes[0].icon);
}

TEST_F(LabelPage, ExistingWebFileIsClearedThenWrittenWithTheAddress) {
    FakeKey* key = g_fake.Find(kKey);
    for (uint32_t id : {0x0001u, 0x0A02u, WEBFILE_ID, 0x7FFFu}) key->files[(uint16_t)id] = std::vector<BYTE>(WEBFILE_SIZE, 0x55);
    CheckDlgButton(page.m_hWnd, IDC_CHK_WEBPOPUP, BST_CHECKED);
    MsgBoxCatcher boxes;
    Click(page.m_hWnd, IDC_BTN_SETWEB);
    EXPECT_FALSE(g_fake.Called("CSP_FileCreate"));
    std::vector<std::string> writes;
    for (const auto& c : g_fake.calls)
        if (c.fn == "CSP_FileWrite") writes.push_back(c.text);
    ASSERT_EQ(2u, writes.size());
    EXPECT_EQ(Record(""), writes[0]);
    EXPECT_EQ(Record(QRVL_ONLINE_BANKING_URL), writes[1]);
    EXPECT_EQ(Record(QRVL_ONLINE_BANKING_URL), std::string(key->files[WEBFILE_ID].begin(), key->files[WEBFILE_ID].end()));
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("设置成功!", boxes.boxes[0].text);
}

TEST_F(LabelPage, FailedWriteSaysSo) {
    for (const char* fn : {"CSP_FileAllID", "CSP_FileCreate", "CSP_FileWrite"}) {
        g_fake.fail.clear();
        g_fake.fail[fn] = 0xE0000002;
        MsgBoxCatcher boxes;
        Click(page.m_hWnd, IDC_BTN_SETWEB);
        ASSERT_EQ(1u, boxes.boxes.size()) << fn;
        EXPECT_EQ("设置失败!", boxes.boxes[0].text) << fn;
        EXPECT_EQ("提示", boxes.boxes[0].caption);
        EXPECT_STREQ("warning", boxes.boxes[0].icon);
    }
}

TEST_F(LabelPage, OnlyTheFiftyIdsThatFitAreSearched) {
    FakeKey* key = g_fake.Find(kKey);
    for (uint16_t id = 1; id <= 60; ++id) key->files[id] = std::vector<BYTE>(8, 0);
    key->files[WEBFILE_ID] = std::vector<BYTE>(WEBFILE_SIZE, 0);   // listed 61st: beyond the room
    MsgBoxCatcher boxes;
    Click(page.m_hWnd, IDC_BTN_SETWEB);
    // Not found among the fifty: a creation is tried, which the key refuses.
    EXPECT_EQ(1, g_fake.Count("CSP_FileCreate"));
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("设置失败!", boxes.boxes[0].text);
}

TEST_F(LabelPage, EnableControlsCoversItsFourControls) {
    page.EnableControls(FALSE);
    for (int id : {IDC_EDIT_LABEL, IDC_BTN_CHGLABEL, IDC_CHK_WEBPOPUP, IDC_BTN_SETWEB})
        EXPECT_FALSE(IsWindowEnabled(page.GetDlgItem(id))) << id;
    page.EnableControls(TRUE);
    for (int id : {IDC_EDIT_LABEL, IDC_BTN_CHGLABEL, IDC_CHK_WEBPOPUP, IDC_BTN_SETWEB})
        EXPECT_TRUE(IsWindowEnabled(page.GetDlgItem(id))) << id;
}

TEST_F(LabelPage, OpensEmptyAndUnticked) {
    EXPECT_EQ("", Text(page.m_hWnd, IDC_EDIT_LABEL));
    EXPECT_EQ((UINT)BST_UNCHECKED, IsDlgButtonChecked(page.m_hWnd, IDC_CHK_WEBPOPUP));
    EXPECT_TRUE(g_fake.calls.empty());
}

}  // namespace

// The import, password and label pages with the stand-in token library
// (MorvaneFun_qrvl.dll from bin/, loaded through the import library as the
// tool loads it), checked against what tokensim.exe shows of the key.
#include "certs/DlgCert.h"
#include "certs/DlgDisp.h"
#include "pages/DlgChgLabel.h"
#include "pages/DlgChgPwd.h"
#include "res/BankSites.h"
#include "res/resource.h"
#include "tests/support/TestSupport.h"
#include "tests/tokensim/TokensimTestSupport.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Click(HWND page, int id) { SendMessageA(GetDlgItem(page, id), BM_CLICK, 0, 0); }

std::string Text(HWND page, int id) {
    char text[512] = {};
    GetDlgItemTextA(page, id, text, sizeof text);
    return text;
}

std::string TreeText(CTreeCtrl& tree, HTREEITEM item) {
    char text[128] = {};
    TVITEMA tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = sizeof text;
    SendMessageA(tree.m_hWnd, TVM_GETITEMA, 0, (LPARAM)&tv);
    return text;
}

// What `tokensim show NAME` prints about the key.
std::string Show(const char* name) {
    wchar_t args[64];
    swprintf(args, sizeof args / sizeof args[0], L"show %hs", name);
    std::string out;
    EXPECT_EQ(0u, tstest::RunTool(args, &out));
    std::string lines;   // without the console's carriage returns
    for (char c : out)
        if (c != '\r') lines += c;
    return lines;
}

// The 260-byte web pop-up record: the address, then zeros.
std::string Record(const char* address) {
    std::string r(WEBFILE_SIZE, '\0');
    memcpy(&r[0], address, strlen(address));
    return r;
}

class StandIn : public ::testing::Test {
protected:
    void SetUp() override {
        tstest::NewStore("pages");
        tstest::CKeySpec spec;
        spec.label = "网银KEY";
        key = tstest::MakeKey(spec);   // name "k", password 123456, 6 tries, status 2
        ASSERT_NE(0u, key);
    }
    void TearDown() override { SetEnvironmentVariableA("TOKENSIM_PIN", nullptr); }
    TOKEN_KEY key = 0;
    TestHost host;
};

TEST_F(StandIn, Pkcs12FileIsImportedAndTheTreeShowsItsSubject) {
    CDlgCert page;
    ASSERT_TRUE(page.Create(IDD_CERT, host.wnd));
    page.m_hKey = key;
    page.m_pOwner = host.wnd;
    const std::string path = tstest::DataFile("zhangsan.p12");
    MsgBoxCatcher boxes;

    // A wrong password: the library refuses, nothing lands on the key.
    SetDlgItemTextA(page.m_hWnd, IDC_EDIT_PFXPATH, path.c_str());
    SetDlgItemTextA(page.m_hWnd, IDC_EDIT_PFXPWD, "654321");
    Click(page.m_hWnd, IDC_BTN_IMPORT);
    EXPECT_EQ(0, host.Count(WM_USER + 3));
    EXPECT_EQ("", Text(page.m_hWnd, IDC_EDIT_PFXPWD));
    EXPECT_EQ(path, Text(page.m_hWnd, IDC_EDIT_PFXPATH));
    EXPECT_NE(std::string::npos, Show("k").find("containers 0\n"));

    SetDlgItemTextA(page.m_hWnd, IDC_EDIT_PFXPWD, "123456");
    Click(page.m_hWnd, IDC_BTN_IMPORT);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.Texts();
    EXPECT_EQ(1, host.Count(WM_USER + 3));
    EXPECT_EQ("", Text(page.m_hWnd, IDC_EDIT_PFXPWD));
    const std::string shown = Show("k");
    EXPECT_NE(std::string::npos, shown.find("containers 1\n")) << shown;
    EXPECT_NE(std::string::npos, shown.find("subject 张三\n")) << shown;

    // The refresh the owner makes: the certificate page lists the key again.
    CDlgDisp tree;
    tree.m_hKey = key;
    ASSERT_TRUE(tree.Create(IDD_DISP, host.wnd));
    HTREEITEM root = tree.m_tree.GetRootItem();
    ASSERT_TRUE(root);
    EXPECT_EQ("网银KEY", TreeText(tree.m_tree, root));
    HTREEITEM item = tree.m_tree.GetChildItem(root);
    ASSERT_TRUE(item);
    EXPECT_EQ("张三", TreeText(tree.m_tree, item));
    EXPECT_EQ(nullptr, tree.m_tree.GetNextSiblingItem(item));
    DestroyWindow(tree.m_hWnd);
    DestroyWindow(page.m_hWnd);
}

TEST_F(StandIn, WebPopupFileHoldsTheAddressThenZerosAndIsSwitchedOff) {
    CDlgChgLabel page;
    ASSERT_TRUE(page.Create(IDD_CHGLABEL, host.wnd));
    page.m_hKey = key;
    {
        MsgBoxCatcher boxes;
        CheckDlgButton(page.m_hWnd, IDC_CHK_WEBPOPUP, BST_CHECKED);
        Click(page.m_hWnd, IDC_BTN_SETWEB);   // no file yet: created, then written
        ASSERT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ("设置成功!", boxes.boxes[0].text);
        EXPECT_EQ("提示", boxes.boxes[0].caption);
        EXPECT_STREQ("none", boxes.boxes[0].icon);
    }
    std::string shown = Show("k");
    EXPECT_NE(std::string::npos, shown.find("files 1\n")) << shown;
    EXPECT_NE(std::string::npos, shown.find("file 0xef11 name WEBFILE\n")) << shown;
    EXPECT_NE(std::string::npos, shown.find("file 0xef11 size 260\n")) << shown;
    EXPECT_NE(std::string::npos, shown.find("file 0xef11 hex " + tstest::Hex(Record(QRVL_ONLINE_BANKING_URL)) + "\n"))
        << shown;
    {
        MsgBoxCatcher boxes;
        CheckDlgButton(page.m_hWnd, IDC_CHK_WEBPOPUP, BST_UNCHECKED);
        Click(page.m_hWnd, IDC_BTN_SETWEB);   // the file exists: cleared, then written
        ASSERT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ("设置成功!", boxes.boxes[0].text);
    }
    shown = Show("k");
    EXPECT_NE(std::string::npos, shown.find("files 1\n")) << shown;
    EXPECT_NE(std::string::npos, shown.find("file 0xef11 hex " + tstest::Hex(Record("")) + "\n")) << shown;
    DestroyWindow(page.m_hWnd);
}

TEST_F(StandIn, LabelChangeAsksTheLibraryForThePasswordThenRefreshes) {
    CDlgChgLabel page;
    ASSERT_TRUE(page.Create(IDD_CHGLABEL, host.wnd));
    page.m_hKey = key;
    SetDlgItemTextA(page.m_hWnd, IDC_EDIT_LABEL, "新标签");
    {
        // The stand-in's own prompt, answered with a wrong password: 5 tries left.
        SetEnvironmentVariableA("TOKENSIM_PIN", "000000");
        MsgBoxCatcher boxes;
        Click(page.m_hWnd, IDC_BTN_CHGLABEL);
        ASSERT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ("用户密码不正确！还有5次可试机会。", boxes.boxes[0].text);
        PumpMessages();
        EXPECT_EQ(0, host.Count(WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, 0)));
    }
    {
        SetEnvironmentVariableA("TOKENSIM_PIN", ":cancel");   // silent
        MsgBoxCatcher boxes;
        Click(page.m_hWnd, IDC_BTN_CHGLABEL);
        EXPECT_TRUE(boxes.boxes.empty()) << boxes.Texts();
    }
    SetEnvironmentVariableA("TOKENSIM_PIN", "123456");
    MsgBoxCatcher boxes;
    Click(page.m_hWnd, IDC_BTN_CHGLABEL);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.Texts();
    EXPECT_TRUE(PumpUntil([&] { return host.Count(WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, 0)) == 1; }));
    EXPECT_NE(std::string::npos, Show("k").find("label 新标签\n"));
    DestroyWindow(page.m_hWnd);
}

TEST_F(StandIn, PasswordIsChangedOnTheKey) {
    CDlgChgPwd page;
    ASSERT_TRUE(page.Create(IDD_CHGPWD, host.wnd));
    page.m_hKey = key;
    auto type = [&](const char* oldPwd, const char* newPwd) {
        SetDlgItemTextA(page.m_hWnd, IDC_EDIT_OLDPWD, oldPwd);
        SetDlgItemTextA(page.m_hWnd, IDC_EDIT_NEWPWD, newPwd);
        SetDlgItemTextA(page.m_hWnd, IDC_EDIT_CONFIRMPWD, newPwd);
    };
    {
        MsgBoxCatcher boxes;
        type("654321", "qwe789");
        Click(page.m_hWnd, IDC_BTN_CHGPWD);
        ASSERT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ("用户密码不正确！还有5次可试机会。", boxes.boxes[0].text);
        EXPECT_EQ("USBKEY提示", boxes.boxes[0].caption);
    }
    {
        MsgBoxCatcher boxes;
        type("123456", "张三qwe");
        Click(page.m_hWnd, IDC_BTN_CHGPWD);
        ASSERT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ("修改密码完成！", boxes.boxes[0].text);
    }
    char newPwd[] = "张三qwe";
    EXPECT_EQ(0u, CSP_VerifyPassword(key, TOKEN_USER, newPwd));
    EXPECT_NE(std::string::npos, Show("k").find("tries 6\n"));
    DestroyWindow(page.m_hWnd);
}

}  // namespace

// The real tool (bin\QuorvelUSBKEY.exe) with the stand-in token library,
// driven from this process as a user and a key would: tokensim inserts and
// removes keys, and the tool's windows are read and clicked from outside.
#include "tests/support/ShellLog.h"
#include "tests/support/ToolProcess.h"
#include "tests/tokensim/TokensimTestSupport.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>

using namespace e2e;

namespace {

using Tool = CToolProcess;

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        tstest::NewStore("e2e");
        ASSERT_EQ(0u, Tokensim("create demo --label 演示KEY --pin 123456"));
        ASSERT_EQ(0u, Tokensim("add-cert demo c1 1 " + tstest::DataFile("zhangsan.der")));
    }
};

TEST_F(EndToEnd, InsertedKeyIsListedAndItsCertificatesRegisteredUntilItIsRemoved) {
    Tool tool;
    ASSERT_TRUE(tool.Start());
    EXPECT_FALSE(IsWindowVisible(tool.wnd));
    EXPECT_TRUE(tool.Labels().empty());
    ASSERT_EQ(0u, Tokensim("insert demo"));
    EXPECT_TRUE(WaitFor([&] { return tool.Labels() == std::vector<std::string>{"演示KEY"}; }));
    EXPECT_TRUE(WaitFor([&] { return StoreHolds("张三"); }));
    EXPECT_EQ((std::vector<std::string>{"演示KEY", "张三"}), tool.Tree());
    ASSERT_EQ(0u, Tokensim("remove demo"));
    EXPECT_TRUE(WaitFor([&] { return tool.Labels().empty(); }));
    EXPECT_FALSE(StoreHolds("张三"));
    EXPECT_TRUE(tool.Quit());
}

TEST_F(EndToEnd, SecondStartBringsTheFirstForwardAndEnds) {
    Tool tool;
    ASSERT_TRUE(tool.Start());
    ASSERT_FALSE(IsWindowVisible(tool.wnd));
    PROCESS_INFORMATION second = Tool::Launch();
    ASSERT_TRUE(second.hProcess);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.hProcess, 15000));
    EXPECT_EQ(nullptr, Tool::MainWindowOf(second.dwProcessId));
    CloseHandle(second.hProcess);
    CloseHandle(second.hThread);
    EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(tool.wnd) != FALSE; }));
    EXPECT_TRUE(tool.Quit());
}

TEST_F(EndToEnd, RealPkcs12FileIsImportedAndItsSubjectShown) {
    ASSERT_EQ(0u, Tokensim("insert demo"));
    Tool tool;
    ASSERT_TRUE(tool.Start());
    ASSERT_TRUE(WaitFor([&] { return tool.Labels().size() == 1; }));
    HWND path = tool.Control(IDC_BTN_IMPORT, IDC_EDIT_PFXPATH);
    HWND password = tool.Control(IDC_BTN_IMPORT, IDC_EDIT_PFXPWD);
    HWND import = tool.Control(IDC_BTN_IMPORT, IDC_BTN_IMPORT);
    ASSERT_TRUE(path && password && import);
    ASSERT_TRUE(IsWindowEnabled(import));
    SendMessageA(path, WM_SETTEXT, 0, (LPARAM)tstest::DataFile("signing-legacy.pfx").c_str());
    SendMessageA(password, WM_SETTEXT, 0, (LPARAM)"123456");
    PostMessageA(import, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor([&] {
        auto tree = tool.Tree();
        return tree.size() == 3 && tree[2] == "Quorvel Test Signing";
    })) << tool.Tree().size();
    char text[16] = {1};
    EXPECT_TRUE(WaitFor([&] { return GetWindowTextA(password, text, sizeof text) == 0; }));
    std::string shown;
    Tokensim("show demo", &shown);
    EXPECT_NE(std::string::npos, shown.find("Quorvel Test Signing")) << shown;
    EXPECT_TRUE(tool.Quit());
}

TEST_F(EndToEnd, WebPopupIsWrittenToTheKeyAndOpenedAtTheNextInsertion) {
    InstallShellLogger();
    ClearShellLog();
    ASSERT_EQ(0u, Tokensim("insert demo"));
    Tool tool;
    ASSERT_TRUE(tool.Start());
    ASSERT_TRUE(WaitFor([&] { return tool.Labels().size() == 1; }));
    HWND box = tool.Control(IDC_BTN_SETWEB, IDC_CHK_WEBPOPUP);
    HWND set = tool.Control(IDC_BTN_SETWEB, IDC_BTN_SETWEB);
    ASSERT_TRUE(box && set);
    SendMessageA(box, BM_SETCHECK, BST_CHECKED, 0);
    PostMessageA(set, BM_CLICK, 0, 0);
    EXPECT_EQ("设置成功!", tool.CloseMessageBox());
    std::string shown;
    Tokensim("show demo", &shown);
    EXPECT_NE(std::string::npos, shown.find("file 0xef11 text https://ebank.quorvel-bank.example/")) << shown;

    ASSERT_EQ(0u, Tokensim("remove demo"));
    ASSERT_TRUE(WaitFor([&] { return tool.Labels().empty(); }));
    ASSERT_EQ(0u, Tokensim("insert demo"));
    auto opened = WaitShellLog(1, 15000);
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ("https://ebank.quorvel-bank.example/", opened[0]);
    EXPECT_TRUE(tool.Quit());
}

}  // namespace

// The real tool (bin\QuorvelUSBKEY.exe) with the stand-in token library,
// driven from this process as a user and a key would: tokensim inserts and
// removes keys, and the tool's windows are read and clicked from outside.
#include "tests/support/ShellLog.h"
#include "tests/support/ShellTray.h"
#include "tests/support/ToolProcess.h"
#include "tests/tokensim/TokensimTestSupport.h"
#include "res/resource.h"
#include "token/token.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <string>
#include <vector>

using namespace e2e;
using namespace shelltray;

namespace {

using Tool = CToolProcess;

// The text an edit of the tool holds, asked of the edit itself: for a window
// of another process GetWindowText sends no WM_GETTEXT and gives the caption
// stored at creation.
std::wstring HeldText(HWND edit) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(edit, WM_GETTEXT, length + 1, (LPARAM)&text[0], SMTO_ABORTIFHUNG, 5000, &copied);
    text.resize(copied);
    return text;
}

// Calls watch() over and over while the process runs, until it ends (true)
// or ms pass: what a process did only for a moment before it ended.
template <class Watch> bool WatchUntilEnd(HANDLE process, Watch watch, DWORD ms = 15000) {
    for (DWORD start = GetTickCount(); WaitForSingleObject(process, 0) == WAIT_TIMEOUT;) {
        if (GetTickCount() - start > ms) return false;
        watch();
    }
    return true;
}

// Whether the process has a top-level window, visible or not.
BOOL CALLBACK FindWindowOf(HWND w, LPARAM param) {
    auto* search = reinterpret_cast<std::pair<DWORD, bool>*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    search->second = owner == search->first;
    return !search->second;
}
bool HasWindow(DWORD pid) {
    std::pair<DWORD, bool> search(pid, false);
    EnumWindows(FindWindowOf, (LPARAM)&search);
    return search.second;
}

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
    // Watched while it runs: it makes no window of its own, not even for a moment.
    bool madeWindow = false;
    EXPECT_TRUE(WatchUntilEnd(second.hProcess, [&] { madeWindow = madeWindow || HasWindow(second.dwProcessId); }));
    EXPECT_FALSE(madeWindow) << "the second copy made a window";
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
    ASSERT_EQ(L"123456", HeldText(password)) << "the password is in the box before the import";
    PostMessageA(import, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor([&] {
        auto tree = tool.Tree();
        return tree.size() == 3 && tree[2] == "Quorvel Test Signing";
    })) << tool.Tree().size();
    EXPECT_TRUE(WaitFor([&] { return HeldText(password).empty(); }, 5000)) << "the password box is cleared";
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

// ---------------------------------------------------------------------------
// Journeys of a user, step by step in the order the user meets them

// Tab indexes of the main window's pages.
enum { kTabCerts = 0, kTabPassword = 1, kTabImport = 2, kTabLabel = 3 };

std::string Shown(const char* key = "demo") {
    std::string out;
    Tokensim(std::string("show ") + key, &out);
    return out;
}
bool HasLine(const std::string& shown, const std::string& line) {
    return ("\n" + shown).find("\n" + line + "\r\n") != std::string::npos ||
           ("\n" + shown).find("\n" + line + "\n") != std::string::npos;
}
std::string Text(HWND wnd) {
    char text[256] = {};
    GetWindowTextA(wnd, text, sizeof text);
    return text;
}
bool Enabled(HWND wnd) { return wnd && IsWindowEnabled(wnd); }

// Every working control of the four pages: {control on the page, the page's
// own unique control}.
const struct {
    int page, id;
} kWorkingControls[] = {
    {IDC_CERTTREE, IDC_CERTTREE},       {IDC_CERTTREE, IDC_BTN_VIEW},
    {IDC_CERTTREE, IDC_BTN_REGISTER},   {IDC_CERTTREE, IDC_BTN_DELETE},
    {IDC_EDIT_OLDPWD, IDC_EDIT_OLDPWD}, {IDC_EDIT_OLDPWD, IDC_EDIT_NEWPWD},
    {IDC_EDIT_OLDPWD, IDC_EDIT_CONFIRMPWD}, {IDC_EDIT_OLDPWD, IDC_BTN_CHGPWD},
    {IDC_BTN_IMPORT, IDC_EDIT_PFXPATH}, {IDC_BTN_IMPORT, IDC_BTN_BROWSE},
    {IDC_BTN_IMPORT, IDC_EDIT_PFXPWD},  {IDC_BTN_IMPORT, IDC_BTN_IMPORT},
    {IDC_EDIT_LABEL, IDC_EDIT_LABEL},   {IDC_EDIT_LABEL, IDC_BTN_CHGLABEL},
    {IDC_EDIT_LABEL, IDC_CHK_WEBPOPUP}, {IDC_EDIT_LABEL, IDC_BTN_SETWEB},
};
// How many of them are enabled.
int EnabledControls(Tool& tool) {
    int n = 0;
    for (const auto& c : kWorkingControls) n += Enabled(tool.Control(c.page, c.id));
    return n;
}
const int kAllControls = (int)(sizeof kWorkingControls / sizeof kWorkingControls[0]);

// Opens the hidden window as a click on the tray icon does.
bool OpenFromTheTray(Tool& tool) {
    PostMessageA(tool.wnd, WM_USER + 4, 1, WM_LBUTTONDOWN);
    return WaitFor([&] { return IsWindowVisible(tool.wnd) != FALSE; }, 5000);
}

// The key inserted before the tool starts, listed with its certificate, and
// the window opened.
void StartWithTheKey(Tool& tool) {
    ASSERT_EQ(0u, Tokensim("insert demo"));
    ASSERT_TRUE(tool.Start());
    ASSERT_TRUE(WaitFor([&] { return tool.Tree() == std::vector<std::string>{"演示KEY", "张三"}; }));
    ASSERT_TRUE(OpenFromTheTray(tool));
}

TEST_F(EndToEnd, KeyInsertedWhileTheToolRunsIsAnnouncedListedAndShownWithItsCertificates) {
    size_t iconsBefore = TrayIcons().size();
    Tool tool;
    ASSERT_TRUE(tool.Start());
    EXPECT_TRUE(WaitFor([&] { return TrayIcons().size() == iconsBefore + 1; }, 5000));
    EXPECT_TRUE(tool.Labels().empty());
    EXPECT_EQ(0, EnabledControls(tool)) << "no key: nothing to work on";

    // A balloon of an earlier run is gone with its icon.
    ASSERT_TRUE(WaitFor([] { return !BalloonShown("注册证书到IE完成!"); }, 10000));
    ASSERT_EQ(0u, Tokensim("insert demo"));
    // "有USBKEY插入!" and "注册证书到IE完成!" are posted together; the second
    // replaces the first before the shell shows it.
    EXPECT_TRUE(WaitFor([] { return BalloonShown("注册证书到IE完成!"); }, 8000)) << ShellToolTexts(true).size();
    EXPECT_TRUE(Contains(ShellToolTexts(false), "USBKEY已插入，可以正常使用"));
    EXPECT_EQ(iconsBefore + 1, TrayIcons().size()) << "the insertion's add makes no second icon";

    // The user opens the window with a click on the icon.
    EXPECT_TRUE(OpenFromTheTray(tool));
    EXPECT_EQ(std::vector<std::string>{"演示KEY"}, tool.Labels());
    EXPECT_EQ(0, SendMessageA(GetDlgItem(tool.wnd, IDC_KEYLIST), CB_GETCURSEL, 0, 0)) << "the first key is current";
    EXPECT_EQ((std::vector<std::string>{"演示KEY", "张三"}), tool.Tree());
    // Every page works now, but the certificate actions wait for a certificate.
    EXPECT_EQ(kAllControls - 3, EnabledControls(tool));
    for (int id : {IDC_BTN_VIEW, IDC_BTN_REGISTER, IDC_BTN_DELETE})
        EXPECT_FALSE(Enabled(tool.Control(IDC_CERTTREE, id))) << id;
    EXPECT_TRUE(tool.Quit());
}

// Points the shell's "open" of .cer files at cert_viewer.exe (the system's
// certificate viewer) for the life of the object, and puts back what was there.
class CCerViewerAssociation {
public:
    CCerViewerAssociation() {
        char old[128] = {};
        LONG size = sizeof old;
        m_had = RegQueryValueA(HKEY_CLASSES_ROOT, ".cer", old, &size) == ERROR_SUCCESS;
        m_old = old;
        Set(".cer", "qrvl.e2e.cerview");
        std::string open = "\"" + BinPath("cert_viewer.exe") + "\" \"%1\"";
        Set("qrvl.e2e.cerview\\shell\\open\\command", open.c_str());
    }
    ~CCerViewerAssociation() {
        if (m_had)
            Set(".cer", m_old.c_str());
        else
            RegDeleteKeyA(HKEY_CLASSES_ROOT, ".cer");
    }
private:
    static void Set(const char* subkey, const char* value) {
        RegSetValueA(HKEY_CLASSES_ROOT, subkey, REG_SZ, value, (DWORD)strlen(value));
    }
    bool m_had;
    std::string m_old;
};

// Whether a window or one of its descendants shows a text that contains the given piece.
struct TextSearch {
    const char* part;
    bool found;
};
// Read in the wide form: a rich edit of another process gives nothing in the narrow one.
std::string WideText(HWND w) {
    wchar_t wide[2048] = {};
    DWORD_PTR n = 0;
    SendMessageTimeoutW(w, WM_GETTEXT, 2048, (LPARAM)wide, SMTO_ABORTIFHUNG, 2000, &n);
    char gbk[4096] = {};
    WideCharToMultiByte(936, 0, wide, -1, gbk, sizeof gbk, nullptr, nullptr);
    return gbk;
}
BOOL CALLBACK SearchText(HWND w, LPARAM param) {
    auto* s = reinterpret_cast<TextSearch*>(param);
    s->found = WideText(w).find(s->part) != std::string::npos;
    return !s->found;
}
bool ShowsText(HWND wnd, const char* part) {
    TextSearch s = {part, Text(wnd).find(part) != std::string::npos};
    if (!s.found) EnumChildWindows(wnd, SearchText, (LPARAM)&s);
    return s.found;
}

// The visible top-level windows of all processes.
BOOL CALLBACK CollectVisible(HWND w, LPARAM out) {
    if (IsWindowVisible(w)) reinterpret_cast<std::vector<HWND>*>(out)->push_back(w);
    return TRUE;
}
std::vector<HWND> VisibleWindows() {
    std::vector<HWND> all;
    EnumWindows(CollectVisible, (LPARAM)&all);
    return all;
}

TEST_F(EndToEnd, CertificateIsRegisteredViewedAndDeletedFromTheTree) {
    Tool tool;
    StartWithTheKey(tool);
    // The user finds the certificate missing from the browser's store.
    ASSERT_EQ(0u, CSP_UnloadIECert());
    ASSERT_FALSE(StoreHolds("张三"));

    auto items = tool.TreeItems();
    ASSERT_EQ(2u, items.size());
    ASSERT_TRUE(tool.SelectTreeItem(items[1]));
    HWND view = tool.Control(IDC_CERTTREE, IDC_BTN_VIEW);
    HWND reg = tool.Control(IDC_CERTTREE, IDC_BTN_REGISTER);
    HWND del = tool.Control(IDC_CERTTREE, IDC_BTN_DELETE);
    ASSERT_TRUE(WaitFor([&] { return Enabled(view) && Enabled(reg) && Enabled(del); }, 5000));
    EXPECT_EQ("删除证书", Text(del));

    // Register.
    PostMessageA(reg, BM_CLICK, 0, 0);
    std::string caption;
    EXPECT_EQ("注册证书成功", tool.AnswerMessageBox(IDOK, &caption));
    EXPECT_EQ("提示", caption);
    EXPECT_TRUE(StoreHolds("张三"));

    // View: the certificate goes to a temporary file that the shell opens
    // with the system's viewer, a window of its own process.
    {
        CCerViewerAssociation association;
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof temp, temp);
        std::string file = std::string(temp) + "~certdemotemp~.cer";
        DeleteFileA(file.c_str());
        std::vector<HWND> before = VisibleWindows();
        PostMessageA(view, BM_CLICK, 0, 0);
        HWND viewer = nullptr;
        EXPECT_TRUE(WaitFor([&] {
            for (HWND w : VisibleWindows())
                if (std::find(before.begin(), before.end(), w) == before.end() && ClassOf(w) == "#32770") {
                    viewer = w;
                    return true;
                }
            return false;
        }, 15000));
        EXPECT_EQ(tstest::ReadBytes(tstest::DataFile("zhangsan.der")), tstest::ReadBytes(file));
        if (viewer) {
            DWORD pid = 0;
            GetWindowThreadProcessId(viewer, &pid);
            EXPECT_NE(tool.m_pi.dwProcessId, pid);
            EXPECT_FALSE(Text(viewer).empty());
            EXPECT_TRUE(ShowsText(viewer, "张三")) << "the viewer shows the certificate's subject";
            HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
            PostMessageA(viewer, WM_COMMAND, IDOK, 0);
            EXPECT_TRUE(WaitFor([&] { return !IsWindow(viewer); }, 5000));
            if (process) {
                EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 5000)) << "the viewer ends when closed";
                CloseHandle(process);
            }
        }
        EXPECT_TRUE(tool.Responds());
    }

    // Delete: asked twice, then the key asks for the password.
    ASSERT_TRUE(tool.SelectTreeItem(tool.TreeItems()[1]));
    ASSERT_TRUE(WaitFor([&] { return Enabled(del); }, 5000));
    PostMessageA(del, BM_CLICK, 0, 0);
    EXPECT_EQ("确实要删除证书吗？", tool.AnswerMessageBox(IDYES));
    EXPECT_EQ("确实要把证书删除吗？删除证书可能会导致您不能进入网上银行证书版系统！", tool.AnswerMessageBox(IDYES));
    EXPECT_TRUE(tool.AnswerPasswordPrompt("123456"));
    EXPECT_TRUE(WaitFor([&] { return tool.Tree() == std::vector<std::string>{"演示KEY"}; }, 5000))
        << tool.Tree().size();
    std::string shown = Shown();
    EXPECT_TRUE(HasLine(shown, "containers 0")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("张三")) << shown;
    // The buttons keep their state, but nothing is selected any more.
    PostMessageA(reg, BM_CLICK, 0, 0);
    EXPECT_EQ("请选择证书！", tool.AnswerMessageBox());
    EXPECT_TRUE(tool.Quit());
}

TEST_F(EndToEnd, PasswordIsRefusedWithTheTriesLeftThenChangedAndTheNewOneWorks) {
    Tool tool;
    StartWithTheKey(tool);
    ASSERT_TRUE(tool.ClickTab(kTabPassword));
    HWND oldPwd = tool.Control(IDC_EDIT_OLDPWD, IDC_EDIT_OLDPWD);
    HWND newPwd = tool.Control(IDC_EDIT_OLDPWD, IDC_EDIT_NEWPWD);
    HWND confirm = tool.Control(IDC_EDIT_OLDPWD, IDC_EDIT_CONFIRMPWD);
    HWND change = tool.Control(IDC_EDIT_OLDPWD, IDC_BTN_CHGPWD);
    ASSERT_TRUE(oldPwd && newPwd && confirm && Enabled(change));
    ASSERT_TRUE(IsWindowVisible(change));
    const char kNew[] = "Qv8m2kx";
    const struct {
        const char* old;
        const char* text;
        const char* caption;
        const char* tries;
    } steps[] = {
        {"654321", "用户密码不正确！还有5次可试机会。", "USBKEY提示", "tries 5"},
        {"123456", "修改密码完成！", "USBKEY提示", "tries 6"},
    };
    for (const auto& step : steps) {
        SendMessageA(oldPwd, WM_SETTEXT, 0, (LPARAM)step.old);
        SendMessageA(newPwd, WM_SETTEXT, 0, (LPARAM)kNew);
        SendMessageA(confirm, WM_SETTEXT, 0, (LPARAM)kNew);
        PostMessageA(change, BM_CLICK, 0, 0);
        std::string caption;
        EXPECT_EQ(step.text, tool.AnswerMessageBox(IDOK, &caption)) << step.old;
        EXPECT_EQ(step.caption, caption) << step.old;
        EXPECT_TRUE(HasLine(Shown(), step.tries)) << step.old;
        for (HWND edit : {oldPwd, newPwd, confirm})
            EXPECT_EQ(L"", HeldText(edit)) << step.old << ": nothing typed stays";
    }
    // The key takes the new password and no longer the old one.
    TOKEN_KEY keys[TOKEN_MAX_KEYS] = {};
    uint32_t count = 0;
    ASSERT_EQ(0u, CSP_GetSlotList(keys, &count));
    ASSERT_EQ(1u, count);
    char newText[sizeof kNew];
    memcpy(newText, kNew, sizeof kNew);
    EXPECT_EQ(0u, CSP_VerifyPassword(keys[0], TOKEN_USER, newText));
    CSP_Reset(keys[0]);
    char oldText[] = "123456";
    EXPECT_EQ(TOKEN_PIN_WRONG_BASE + 5, CSP_VerifyPassword(keys[0], TOKEN_USER, oldText));
    EXPECT_TRUE(tool.Quit());
}

TEST_F(EndToEnd, LabelIsChangedAfterThePasswordAndTheKeyListShowsIt) {
    Tool tool;
    StartWithTheKey(tool);
    ASSERT_TRUE(tool.ClickTab(kTabLabel));
    HWND label = tool.Control(IDC_EDIT_LABEL, IDC_EDIT_LABEL);
    HWND change = tool.Control(IDC_EDIT_LABEL, IDC_BTN_CHGLABEL);
    ASSERT_TRUE(label && Enabled(change));
    ASSERT_TRUE(IsWindowVisible(change));
    SendMessageA(label, WM_SETTEXT, 0, (LPARAM)"我的网银KEY");

    // A mistyped password changes nothing.
    PostMessageA(change, BM_CLICK, 0, 0);
    ASSERT_TRUE(tool.AnswerPasswordPrompt("000000"));
    std::string caption;
    EXPECT_EQ("用户密码不正确！还有5次可试机会。", tool.AnswerMessageBox(IDOK, &caption));
    EXPECT_EQ("提示", caption);
    EXPECT_TRUE(HasLine(Shown(), "label 演示KEY"));
    EXPECT_EQ(std::vector<std::string>{"演示KEY"}, tool.Labels());

    PostMessageA(change, BM_CLICK, 0, 0);
    ASSERT_TRUE(tool.AnswerPasswordPrompt("123456"));
    EXPECT_TRUE(WaitFor([&] { return tool.Labels() == std::vector<std::string>{"我的网银KEY"}; }, 5000));
    EXPECT_EQ(0, SendMessageA(GetDlgItem(tool.wnd, IDC_KEYLIST), CB_GETCURSEL, 0, 0));
    EXPECT_EQ((std::vector<std::string>{"我的网银KEY", "张三"}), tool.Tree());
    std::string shown = Shown();
    EXPECT_TRUE(HasLine(shown, "label 我的网银KEY")) << shown;
    EXPECT_TRUE(HasLine(shown, "tries 6")) << shown;
    EXPECT_EQ(nullptr, tool.FindMessageBox()) << "a changed label needs no box";
    EXPECT_TRUE(tool.Quit());
}

// Two keys hold a container of the same name. The user chooses the second,
// asks to delete its certificate and pulls that key out while the question is
// up: the tool lists the first key again, and the Yes given to the second
// key's question must not delete the first key's container.
TEST_F(EndToEnd, KeyPulledOutWhileItsDeletionIsAskedLeavesTheOtherKeysContainer) {
    for (const char* key : {"ka", "kb"}) {
        ASSERT_EQ(0u, Tokensim(std::string("create ") + key + " --label KEY-" + (key[1] == 'a' ? "A" : "B")));
        ASSERT_EQ(0u, Tokensim(std::string("add-cert ") + key + " same 1 " + tstest::DataFile("zhangsan.der")));
        ASSERT_EQ(0u, Tokensim(std::string("insert ") + key));
    }
    Tool tool;
    ASSERT_TRUE(tool.Start());
    ASSERT_TRUE(WaitFor([&] { return tool.Labels() == std::vector<std::string>{"KEY-A", "KEY-B"}; }));
    ASSERT_TRUE(OpenFromTheTray(tool));
    HWND combo = GetDlgItem(tool.wnd, IDC_KEYLIST);
    SendMessageA(combo, CB_SETCURSEL, 1, 0);
    PostMessageA(tool.wnd, WM_COMMAND, MAKEWPARAM(IDC_KEYLIST, CBN_SELCHANGE), (LPARAM)combo);
    ASSERT_TRUE(WaitFor([&] { return tool.Tree() == std::vector<std::string>{"KEY-B", "张三"}; }, 5000));
    ASSERT_TRUE(tool.SelectTreeItem(tool.TreeItems()[1]));
    HWND del = tool.Control(IDC_CERTTREE, IDC_BTN_DELETE);
    ASSERT_TRUE(WaitFor([&] { return Enabled(del); }, 5000));

    PostMessageA(del, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return tool.FindMessageBox() != nullptr; }, 5000));
    ASSERT_EQ(0u, Tokensim("remove kb"));   // returns once the tool has handled the change
    EXPECT_TRUE(WaitFor([&] { return tool.Labels() == std::vector<std::string>{"KEY-A"}; }, 5000));
    EXPECT_EQ("确实要删除证书吗？", tool.AnswerMessageBox(IDYES));
    std::string caption;
    EXPECT_EQ("USBKEY已拔出，操作已取消！", tool.AnswerMessageBox(IDOK, &caption));
    EXPECT_EQ("提示", caption);
    Sleep(500);
    EXPECT_EQ(nullptr, tool.FindMessageBox()) << "nothing more is asked";
    EXPECT_EQ(nullptr, FindWindowA("#32770", "USBKEY用户密码")) << "no password is asked for the first key";

    for (const char* key : {"ka", "kb"}) {
        std::string shown = Shown(key);
        EXPECT_TRUE(HasLine(shown, "containers 1")) << shown;
        EXPECT_TRUE(HasLine(shown, "container 0 name same")) << shown;
        EXPECT_TRUE(HasLine(shown, "tries 6")) << shown;
        EXPECT_TRUE(HasLine(shown, "verified no")) << shown;
    }
    EXPECT_EQ((std::vector<std::string>{"KEY-A", "张三"}), tool.Tree());
    EXPECT_TRUE(tool.Quit());
}

TEST_F(EndToEnd, RemovedKeyIsAnnouncedAndLeavesNothingToWorkOn) {
    Tool tool;
    StartWithTheKey(tool);
    EXPECT_EQ(kAllControls - 3, EnabledControls(tool));
    ASSERT_TRUE(WaitFor([] { return !BalloonShown("有USBKEY拔除!"); }, 10000));
    ASSERT_EQ(0u, Tokensim("remove demo"));
    EXPECT_TRUE(WaitFor([&] { return tool.Labels().empty(); }, 5000));
    EXPECT_EQ(CB_ERR, SendMessageA(GetDlgItem(tool.wnd, IDC_KEYLIST), CB_GETCURSEL, 0, 0));
    EXPECT_EQ(std::vector<std::string>{"未选中USBKEY!"}, tool.Tree());
    EXPECT_EQ(0, EnabledControls(tool));
    EXPECT_TRUE(WaitFor([] { return BalloonShown("有USBKEY拔除!"); }, 8000));
    EXPECT_TRUE(Contains(ShellToolTexts(false), "当前未插入USBKEY"));
    EXPECT_EQ(nullptr, tool.FindMessageBox());
    EXPECT_TRUE(tool.Quit());
}

TEST_F(EndToEnd, ExitFromTheTrayMenuEndsTheToolAndTakesItsIconAway) {
    std::vector<HWND> iconsBefore = TrayIcons();
    Tool tool;
    ASSERT_TRUE(tool.Start());
    HWND icon = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        for (HWND h : TrayIcons())
            if (std::find(iconsBefore.begin(), iconsBefore.end(), h) == iconsBefore.end()) icon = h;
        return icon != nullptr;
    }, 5000));
    // A real right click on the icon: the shell tells the tool, which tracks its menu.
    RECT r = {};
    GetWindowRect(icon, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    mouse_event(MOUSEEVENTF_RIGHTDOWN, 0, 0, 0, 0);
    mouse_event(MOUSEEVENTF_RIGHTUP, 0, 0, 0, 0);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (menu = MenuWindow(tool.m_pi.dwProcessId)) != nullptr; }, 5000));
    // Until the exit is chosen the window is the running tool's: an ended
    // process has no window in any case, so only the change says something.
    ASSERT_EQ(tool.wnd, Tool::MainWindowOf(tool.m_pi.dwProcessId));
    PressMenuKeys(menu, {VK_UP, VK_RETURN});   // the last item: 退出
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(tool.m_pi.hProcess, 10000));
    EXPECT_FALSE(IsWindow(tool.wnd));
    EXPECT_TRUE(WaitFor([&] { return TrayIcons().size() == iconsBefore.size(); }, 3000));
    EXPECT_FALSE(tool.HasTrayIcon());
}

}  // namespace

// The framework on real windows: message maps, creation, the modal loop, the
// PreTranslateMessage walk, dialog keys, control binding, control wrappers
// and the file dialog's filter.
#include "framework/Framework.h"
#include "tests/framework/FrameworkTestRes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> g_log;
void Log(const std::string& entry) { g_log.push_back(entry); }
std::string Joined() {
    std::string all;
    for (const auto& e : g_log) all += (all.empty() ? "" : " | ") + e;
    return all;
}

class CTestApp : public CWinApp {
public:
    CTestApp() : CWinApp("FrameworkTest") {}
    BOOL InitInstance() override {
        ++initCalls;
        if (quitCode >= 0) PostQuitMessage(quitCode);
        return runLoop;
    }
    int initCalls = 0;
    BOOL runLoop = FALSE;
    int quitCode = -1;
};
CTestApp g_app;

struct CommonControls {
    CommonControls() {
        INITCOMMONCONTROLSEX icc = { sizeof icc, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_TREEVIEW_CLASSES };
        InitCommonControlsEx(&icc);
    }
} g_commonControls;

const UINT g_regMsg = RegisterWindowMessageA("QrvlFrameworkTestMessage");

class Framework : public ::testing::Test {
protected:
    void SetUp() override {
        g_log.clear();
        g_app.m_pMainWnd = nullptr;
        g_app.m_pszAppName = "FrameworkTest";
    }
    void TearDown() override {
        g_app.m_pMainWnd = nullptr;
        PumpMessages();
    }
};

// ---------------------------------------------------------------------------
// Message maps

class CDlgMapBase : public CDialog {
public:
    explicit CDlgMapBase(UINT id = IDD_FW_TOP) : CDialog(id) {}
    LRESULT OnBaseOnly(WPARAM w, LPARAM) { Log("base-only"); return 100 + (LRESULT)w; }
    LRESULT OnShared(WPARAM, LPARAM) { Log("base-shared"); return 1; }
    void OnBaseMenu() { Log("base-menu"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDlgMapBase, CDialog)
    ON_MESSAGE(WM_APP + 1, OnBaseOnly)
    ON_MESSAGE(WM_APP + 2, OnShared)
    ON_COMMAND(3001, OnBaseMenu)
    ON_COMMAND(3000, OnBaseMenu)
END_MESSAGE_MAP()

class CDlgMapDerived : public CDlgMapBase {
public:
    LRESULT OnShared2(WPARAM, LPARAM) { Log("derived-shared"); return 2; }
    void OnMenu() { Log("menu"); }
    void OnEditChange() { Log("en-change"); }
    void OnTabChange(NMHDR* hdr, LRESULT* result) {
        Log("selchange from " + std::to_string(hdr->idFrom));
        *result = 7;
    }
    LRESULT OnRegistered(WPARAM, LPARAM) { Log("registered"); return 0x1234; }
    LRESULT OnActivate(WPARAM w, LPARAM) { Log("activate " + std::to_string(w)); return -1; }
    int OnCreate(CREATESTRUCTA*) {
        Log(m_hWnd && FromHandlePermanent(m_hWnd) == this ? "create attached" : "create detached");
        return createResult;
    }
    LRESULT OnNcCreate(WPARAM, LPARAM) { Log("nccreate"); return Default(); }
    LRESULT OnSetText(WPARAM, LPARAM l) {
        LRESULT r = Default();
        char now[64] = {};
        ::GetWindowTextA(m_hWnd, now, sizeof now);
        Log(std::string("settext ") + reinterpret_cast<const char*>(l) + " now " + now);
        return r;
    }
    void OnSysCommand(UINT id, LPARAM lParam) {
        Log("syscommand " + std::to_string(id));
        CWnd::OnSysCommand(id, lParam);
    }
    void OnPaint() {
        Log("paint");
        CWnd::OnPaint();
    }
    BOOL OnInitDialog() override {
        Log("initdialog");
        return CDialog::OnInitDialog();
    }
    void OnCancel() override {
        Log("cancel");
        CDialog::OnCancel();
    }
    int createResult = 0;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDlgMapDerived, CDlgMapBase)
    ON_MESSAGE(WM_APP + 2, OnShared2)
    ON_COMMAND(3000, OnMenu)
    ON_CONTROL(EN_CHANGE, IDC_FW_EDIT, OnEditChange)
    ON_NOTIFY(TCN_SELCHANGE, IDC_FW_TAB, OnTabChange)
    ON_REGISTERED_MESSAGE(g_regMsg, OnRegistered)
    ON_MESSAGE(WM_APP + 3, OnActivate)
    ON_WM_CREATE()
    ON_MESSAGE(WM_NCCREATE, OnNcCreate)
    ON_MESSAGE(WM_SETTEXT, OnSetText)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_CLOSE()
END_MESSAGE_MAP()

struct DispatchCase {
    const char* name;
    UINT message;
    WPARAM wParam;
    UINT notifyCode;   // WM_NOTIFY: NMHDR code and id
    UINT notifyId;
    LRESULT result;
    const char* log;   // "" = no handler ran
};

TEST_F(Framework, MessageMapDispatchesDerivedFirstAndMatchesCodeAndId) {
    const DispatchCase cases[] = {
        { "base-only entry", WM_APP + 1, 5, 0, 0, 105, "base-only" },
        { "derived entry hides the base's", WM_APP + 2, 0, 0, 0, 2, "derived-shared" },
        { "menu command, code 0", WM_COMMAND, MAKEWPARAM(3000, 0), 0, 0, 0, "menu" },
        { "same id, other code", WM_COMMAND, MAKEWPARAM(3000, EN_CHANGE), 0, 0, 0, "" },
        { "command only the base maps", WM_COMMAND, MAKEWPARAM(3001, 0), 0, 0, 0, "base-menu" },
        { "control notification", WM_COMMAND, MAKEWPARAM(IDC_FW_EDIT, EN_CHANGE), 0, 0, 0, "en-change" },
        { "other notification of the control", WM_COMMAND, MAKEWPARAM(IDC_FW_EDIT, EN_KILLFOCUS), 0, 0, 0, "" },
        { "WM_NOTIFY code and id", WM_NOTIFY, 0, (UINT)TCN_SELCHANGE, IDC_FW_TAB, 7, "selchange from 2102" },
        { "WM_NOTIFY other id", WM_NOTIFY, 0, (UINT)TCN_SELCHANGE, 2999, 0, "" },
        { "WM_NOTIFY other code", WM_NOTIFY, 0, (UINT)TCN_SELCHANGING, IDC_FW_TAB, 0, "" },
        { "registered message", g_regMsg, 0, 0, 0, 0x1234, "registered" },
        { "result -1", WM_APP + 3, SW_SHOW, 0, 0, -1, "activate 5" },
        { "unmapped message", WM_APP + 4, 0, 0, 0, 0, "" },
    };
    CDlgMapDerived dlg;
    ASSERT_TRUE(dlg.Create(IDD_FW_TOP));
    for (const auto& c : cases) {
        g_log.clear();
        NMHDR hdr = {};
        hdr.hwndFrom = dlg.GetDlgItem(IDC_FW_TAB);
        hdr.idFrom = c.notifyId;
        hdr.code = c.notifyCode;
        LPARAM lParam = c.message == WM_NOTIFY ? (LPARAM)&hdr : 0;
        LRESULT r = ::SendMessageA(dlg.m_hWnd, c.message, c.wParam, lParam);
        EXPECT_EQ(c.result, r) << c.name;
        EXPECT_EQ(std::string(c.log), Joined()) << c.name;
    }
}

TEST_F(Framework, ResultsReachSendersOnOtherThreads) {
    CDlgMapDerived dlg;
    ASSERT_TRUE(dlg.Create(IDD_FW_TOP));
    HWND hWnd = dlg.m_hWnd;
    std::atomic<bool> done(false);
    LRESULT sent = 0, sentRegistered = 0;
    DWORD_PTR answer = 0, answerRegistered = 0;
    std::thread other([&] {
        sent = SendMessageTimeoutA(hWnd, WM_APP + 3, SW_SHOW, 0, SMTO_BLOCK, 2000, &answer);
        sentRegistered = SendMessageTimeoutA(hWnd, g_regMsg, 0, 0, SMTO_BLOCK, 2000, &answerRegistered);
        done = true;
    });
    PumpUntil([&] { return done.load(); }, 5000);
    other.join();
    EXPECT_NE(0, sent);
    EXPECT_EQ((DWORD_PTR)-1, answer);
    EXPECT_NE(0, sentRegistered);
    EXPECT_EQ((DWORD_PTR)0x1234, answerRegistered);
}

TEST_F(Framework, RealControlNotificationsReachTheMap) {
    CDlgMapDerived dlg;
    ASSERT_TRUE(dlg.Create(IDD_FW_TOP));
    CTabCtrl tab;
    ASSERT_TRUE(tab.SubclassDlgItem(IDC_FW_TAB, &dlg));
    tab.InsertItem(0, "one");
    tab.InsertItem(1, "two");
    g_log.clear();
    dlg.SetDlgItemText(IDC_FW_EDIT, "typed");             // the edit sends EN_CHANGE
    tab.SendMessage(TCM_SETCURFOCUS, 1);                  // the tab sends TCN_SELCHANGE
    EXPECT_EQ("en-change | selchange from 2102", Joined());
    EXPECT_EQ(1, tab.GetCurSel());
}

TEST_F(Framework, CreationMessagesReachTheMapFromTheFirstOne) {
    CDlgMapDerived dlg;
    ASSERT_TRUE(dlg.Create(IDD_FW_TOP));
    ASSERT_GE(g_log.size(), 3u) << Joined();
    EXPECT_EQ("nccreate", g_log[0]);
    EXPECT_EQ("create attached", g_log[1]);
    EXPECT_EQ("initdialog", g_log.back());
    EXPECT_EQ(&dlg, CWnd::FromHandlePermanent(dlg.m_hWnd));
}

TEST_F(Framework, CreateFailsWhenWmCreateRefusesAndLeavesNothingBehind) {
    CDlgMapDerived dlg;
    dlg.createResult = -1;
    EXPECT_FALSE(dlg.Create(IDD_FW_TOP));
    EXPECT_EQ(nullptr, dlg.m_hWnd);
    EXPECT_EQ(std::string::npos, Joined().find("initdialog"));
    CDialog missing(IDD_FW_MISSING);
    EXPECT_FALSE(missing.Create(IDD_FW_MISSING));
    EXPECT_EQ(nullptr, missing.m_hWnd);
}

TEST_F(Framework, DefaultGivesTheOriginalProcessing) {
    CDlgMapDerived dlg;
    ASSERT_TRUE(dlg.Create(IDD_FW_TOP));

    g_log.clear();   // handler calls Default(): the text is set by the dialog's own procedure
    ::SetWindowTextA(dlg.m_hWnd, "renamed");
    EXPECT_EQ("settext renamed now renamed", Joined());

    g_log.clear();   // WM_PAINT through CWnd::OnPaint validates the window
    ::InvalidateRect(dlg.m_hWnd, nullptr, TRUE);
    ::UpdateWindow(dlg.m_hWnd);
    EXPECT_FALSE(::GetUpdateRect(dlg.m_hWnd, nullptr, FALSE));
    EXPECT_EQ("paint", Joined());

    // SC_CLOSE -> WM_CLOSE -> CWnd::OnClose -> the dialog manager's IDCANCEL -> OnCancel
    g_log.clear();
    ::ShowWindow(dlg.m_hWnd, SW_SHOW);
    ::SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpMessages(50);
    EXPECT_EQ("syscommand " + std::to_string(SC_CLOSE) + " | cancel", Joined());
    EXPECT_FALSE(dlg.IsWindowVisible());   // EndDialog hides a modeless dialog
    EXPECT_TRUE(::IsWindow(dlg.m_hWnd));
}

// ---------------------------------------------------------------------------
// Modal run

class CDlgModal : public CDialog {
public:
    CDlgModal(UINT id, CWnd* parent = nullptr) : CDialog(id, parent) {}
    std::function<void(CDlgModal*)> onInit;
    std::function<void(CDlgModal*)> onPosted;   // WM_APP + 12
    BOOL initResult = TRUE;
    HWND focusAtEnd = nullptr;
    HWND watchOwner = nullptr;
    HWND ownerDuring = nullptr;
    BOOL ownerEnabledDuring = -1;
    BOOL visibleWhenIdle = -1;
    BOOL stayHidden = FALSE;
    int ddxSaves = 0, ddxLoads = 0;
    HWND created = nullptr;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        created = m_hWnd;
        if (onInit) onInit(this);
        return initResult;
    }
    LRESULT OnPosted(WPARAM, LPARAM) {
        if (onPosted) onPosted(this);
        return 0;
    }
    void DoDataExchange(CDataExchange* dx) override { ++(dx->m_bSaveAndValidate ? ddxSaves : ddxLoads); }
    LRESULT OnEnd(WPARAM w, LPARAM) {
        if (watchOwner) ownerEnabledDuring = ::IsWindowEnabled(watchOwner);
        ownerDuring = ::GetWindow(m_hWnd, GW_OWNER);
        focusAtEnd = ::GetFocus();
        EndDialog((int)w);
        return 0;
    }
    LRESULT OnTimer(WPARAM id, LPARAM) {
        ::KillTimer(m_hWnd, id);
        visibleWhenIdle = IsWindowVisible();
        EndDialog(IDOK);
        return 0;
    }
    void OnWindowPosChanging(WINDOWPOS* pos) {
        CWnd::OnWindowPosChanging(pos);
        if (stayHidden) pos->flags &= ~SWP_SHOWWINDOW;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDlgModal, CDialog)
    ON_MESSAGE(WM_APP + 10, OnEnd)
    ON_MESSAGE(WM_APP + 12, OnPosted)
    ON_MESSAGE(WM_TIMER, OnTimer)
    ON_WM_WINDOWPOSCHANGING()
END_MESSAGE_MAP()

TEST_F(Framework, DoModalRunsUntilEndDialogWithTheOwnerDisabled) {
    for (bool ownerIsMainWindow : { false, true }) {
        SCOPED_TRACE(ownerIsMainWindow ? "owner: main window" : "owner: parent");
        CDialog owner(IDD_FW_TOP);
        ASSERT_TRUE(owner.Create(IDD_FW_TOP));
        if (ownerIsMainWindow) g_app.m_pMainWnd = &owner;
        CDlgModal dlg(IDD_FW_TOP, ownerIsMainWindow ? nullptr : &owner);
        dlg.watchOwner = owner.m_hWnd;
        dlg.onInit = [](CDlgModal* d) { d->PostMessage(WM_APP + 10, 42); };
        EXPECT_EQ(42, dlg.DoModal());
        EXPECT_EQ(FALSE, dlg.ownerEnabledDuring);
        EXPECT_TRUE(::IsWindowEnabled(owner.m_hWnd));
        EXPECT_EQ(owner.m_hWnd, dlg.ownerDuring);
        EXPECT_EQ(nullptr, dlg.m_hWnd);
        EXPECT_FALSE(::IsWindow(dlg.created));
        EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(dlg.created));
        g_app.m_pMainWnd = nullptr;
    }
}

TEST_F(Framework, DoModalEdgeCases) {
    {
        SCOPED_TRACE("EndDialog in OnInitDialog");
        CDlgModal dlg(IDD_FW_TOP);
        dlg.onInit = [](CDlgModal* d) { d->EndDialog(7); };
        EXPECT_EQ(7, dlg.DoModal());
        EXPECT_FALSE(::IsWindow(dlg.created));
    }
    {
        SCOPED_TRACE("WM_QUIT ends the run and is posted again");
        CDlgModal dlg(IDD_FW_TOP);
        dlg.onInit = [](CDlgModal*) { PostQuitMessage(3); };
        EXPECT_EQ(-1, dlg.DoModal());
        EXPECT_FALSE(::IsWindow(dlg.created));
        MSG msg;
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(3u, msg.wParam);
    }
    {
        SCOPED_TRACE("missing template");
        CDialog owner(IDD_FW_TOP);
        ASSERT_TRUE(owner.Create(IDD_FW_TOP));
        CDlgModal dlg(IDD_FW_MISSING, &owner);
        EXPECT_EQ(-1, dlg.DoModal());
        EXPECT_TRUE(::IsWindowEnabled(owner.m_hWnd));
    }
    {
        SCOPED_TRACE("IDOK: OnOK saves the data and ends with IDOK");
        CDlgModal dlg(IDD_FW_TOP);
        dlg.onInit = [](CDlgModal* d) { d->PostMessage(WM_COMMAND, IDOK); };
        EXPECT_EQ(IDOK, dlg.DoModal());
        EXPECT_EQ(1, dlg.ddxLoads);
        EXPECT_EQ(1, dlg.ddxSaves);
    }
}

TEST_F(Framework, NestedModalRunEndsOnlyTheInnerDialog) {
    CDlgModal outer(IDD_FW_TOP);
    g_app.m_pMainWnd = &outer;
    INT_PTR innerResult = 0;
    BOOL outerEnabledDuringInner = -1, outerEnabledAfterInner = -1;
    outer.onInit = [](CDlgModal* d) { d->PostMessage(WM_APP + 12); };
    outer.onPosted = [&](CDlgModal* d) {
        CDlgModal inner(IDD_FW_HIDDEN);   // no parent: owned by the main window
        inner.watchOwner = d->m_hWnd;
        inner.onInit = [](CDlgModal* i) { i->PostMessage(WM_APP + 10, 8); };
        innerResult = inner.DoModal();
        outerEnabledDuringInner = inner.ownerEnabledDuring;
        outerEnabledAfterInner = d->IsWindowVisible() && ::IsWindowEnabled(d->m_hWnd);
        d->PostMessage(WM_APP + 10, 9);
    };
    EXPECT_EQ(9, outer.DoModal());
    EXPECT_EQ(8, innerResult);
    EXPECT_FALSE(outerEnabledDuringInner);
    EXPECT_TRUE(outerEnabledAfterInner);
}

TEST_F(Framework, OnInitDialogResultDecidesTheFocus) {
    for (BOOL result : { TRUE, FALSE }) {
        SCOPED_TRACE(result ? "TRUE: first tab stop" : "FALSE: focus left as set");
        CDlgModal dlg(IDD_FW_TOP);
        dlg.initResult = result;
        HWND edit = nullptr, cancel = nullptr;
        dlg.onInit = [&](CDlgModal* d) {
            edit = d->GetDlgItem(IDC_FW_EDIT);
            cancel = d->GetDlgItem(IDCANCEL);
            ::SetFocus(cancel);
            d->PostMessage(WM_APP + 10, 1);
        };
        EXPECT_EQ(1, dlg.DoModal());
        EXPECT_EQ(result ? edit : cancel, dlg.focusAtEnd);
    }
}

TEST_F(Framework, ModalDialogIsShownUnlessTheWindowRefuses) {
    struct { const char* name; UINT templateId; BOOL stayHidden; BOOL visible; } cases[] = {
        { "hidden template: shown at first idle", IDD_FW_HIDDEN, FALSE, TRUE },
        { "hidden template, window refuses", IDD_FW_HIDDEN, TRUE, FALSE },
        { "visible template", IDD_FW_TOP, FALSE, TRUE },
        { "visible template, window refuses", IDD_FW_TOP, TRUE, FALSE },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CDlgModal dlg(c.templateId);
        dlg.stayHidden = c.stayHidden;
        BOOL visibleAtInit = -1;
        dlg.onInit = [&](CDlgModal* d) {
            visibleAtInit = d->IsWindowVisible();
            ::SetTimer(d->m_hWnd, 1, 20, nullptr);   // fires once the queue is empty
        };
        EXPECT_EQ(IDOK, dlg.DoModal());
        EXPECT_FALSE(visibleAtInit);
        EXPECT_EQ(c.visible, dlg.visibleWhenIdle);
    }
}

// ---------------------------------------------------------------------------
// PreTranslateMessage walk and the dialog keys

const UINT WM_WALK = WM_APP + 20;

class CRecEdit : public CEdit {
public:
    BOOL PreTranslateMessage(MSG* msg) override {
        if (msg->message == WM_WALK) Log("edit");
        return FALSE;
    }
    LRESULT OnSetText(WPARAM, LPARAM l) {
        Log(std::string("edit settext ") + reinterpret_cast<const char*>(l));
        return Default();
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CRecEdit, CEdit)
    ON_MESSAGE(WM_SETTEXT, OnSetText)
END_MESSAGE_MAP()

class CRecTab : public CTabCtrl {
public:
    BOOL PreTranslateMessage(MSG* msg) override {
        if (msg->message == WM_WALK) Log("tab");
        return FALSE;
    }
};

class CDlgRecPage : public CDialog {
public:
    CDlgRecPage() : CDialog(IDD_FW_PAGE) {}
    CRecEdit m_edit;
    BOOL PreTranslateMessage(MSG* msg) override {
        if (msg->message == WM_WALK) Log("page");
        return CDialog::PreTranslateMessage(msg);
    }
    void OnOK() override { Log("page OK"); }
    void OnCancel() override { Log("page cancel"); }
protected:
    void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_FW_PAGE_EDIT, m_edit); }
};

class CDlgRecTop : public CDialog {
public:
    explicit CDlgRecTop(CWnd* parent = nullptr) : CDialog(IDD_FW_TOP, parent) {}
    CRecTab m_tab;
    CDlgRecPage m_page;
    std::function<void(CDlgRecTop*)> onInit;
    HWND focusAtEnd = nullptr;
    BOOL PreTranslateMessage(MSG* msg) override {
        if (msg->message == WM_WALK) Log("top");
        return CDialog::PreTranslateMessage(msg);
    }
    void OnOK() override { Log("top OK"); CDialog::OnOK(); }
    void OnCancel() override { Log("top cancel"); CDialog::OnCancel(); }
protected:
    void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_FW_TAB, m_tab); }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        m_page.Create(IDD_FW_PAGE, &m_tab);
        m_page.MoveWindow(2, 24, 300, 150);
        m_page.ShowWindow(SW_SHOW);
        if (onInit) onInit(this);
        return TRUE;
    }
    LRESULT OnEnd(WPARAM w, LPARAM) {
        focusAtEnd = ::GetFocus();
        EndDialog((int)w);
        return 0;
    }
    // Focus set once the dialog manager has set its own after OnInitDialog.
    LRESULT OnFocus(WPARAM w, LPARAM) {
        ::SetFocus((HWND)w);
        focusSet = ::GetFocus();
        return 0;
    }
    DECLARE_MESSAGE_MAP()
public:
    HWND focusSet = nullptr;
    void PostFocus(HWND target) { PostMessage(WM_APP + 11, (WPARAM)target); }
};
BEGIN_MESSAGE_MAP(CDlgRecTop, CDialog)
    ON_MESSAGE(WM_APP + 10, OnEnd)
    ON_MESSAGE(WM_APP + 11, OnFocus)
END_MESSAGE_MAP()

class CDlgRecOuter : public CDialog {
public:
    CDlgRecOuter() : CDialog(IDD_FW_TOP) {}
    BOOL PreTranslateMessage(MSG* msg) override {
        if (msg->message == WM_WALK) Log("outer");
        return CDialog::PreTranslateMessage(msg);
    }
};

TEST_F(Framework, PreTranslateWalksFromTheFocusedControlUpToTheMainWindow) {
    struct { bool topIsMain; const char* chain; } cases[] = {
        { true, "edit | page | tab | top" },                // stops at the main window
        { false, "edit | page | tab | top | outer" },      // no main window: to the top of the chain
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chain);
        g_log.clear();
        CDlgRecOuter outer;
        ASSERT_TRUE(outer.Create(IDD_FW_TOP));
        CDlgRecTop top(&outer);
        if (c.topIsMain) g_app.m_pMainWnd = &top;
        top.onInit = [](CDlgRecTop* t) {
            t->PostFocus(t->m_page.m_edit.m_hWnd);
            ::PostMessageA(t->m_page.m_edit.m_hWnd, WM_WALK, 0, 0);
            t->PostMessage(WM_APP + 10, 5);
        };
        EXPECT_EQ(5, top.DoModal());
        EXPECT_EQ(std::string(c.chain), Joined());
        g_app.m_pMainWnd = nullptr;
    }
}

void PostKey(HWND target, UINT vk) {
    ::PostMessageA(target, WM_KEYDOWN, vk, 1);
    ::PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
}

TEST_F(Framework, DialogKeysGoToTheDialogThatHoldsTheControl) {
    struct { const char* name; bool onPage; UINT vk; INT_PTR result; const char* log; } cases[] = {
        { "Enter on the page", true, VK_RETURN, 5, "page OK" },
        { "Esc on the page", true, VK_ESCAPE, 5, "page cancel" },
        { "Enter on the top dialog", false, VK_RETURN, IDOK, "top OK" },
        { "Esc on the top dialog", false, VK_ESCAPE, IDCANCEL, "top cancel" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_log.clear();
        CDlgRecTop top;
        g_app.m_pMainWnd = &top;
        top.onInit = [&c](CDlgRecTop* t) {
            HWND target = c.onPage ? t->m_page.m_edit.m_hWnd : t->GetDlgItem(IDC_FW_EDIT);
            t->PostFocus(target);
            PostKey(target, c.vk);
            t->PostMessage(WM_APP + 10, 5);
        };
        EXPECT_EQ(c.result, top.DoModal());
        EXPECT_EQ(std::string(c.log), Joined());
        g_app.m_pMainWnd = nullptr;
    }
}

TEST_F(Framework, TabMovesTheFocusOnThePage) {
    CDlgRecTop top;
    g_app.m_pMainWnd = &top;
    HWND button = nullptr, edit = nullptr;
    top.onInit = [&](CDlgRecTop* t) {
        edit = t->m_page.m_edit.m_hWnd;
        button = t->m_page.GetDlgItem(IDC_FW_PAGE_BTN);
        t->PostFocus(edit);
        PostKey(edit, VK_TAB);
        t->PostMessage(WM_APP + 10, 5);
    };
    EXPECT_EQ(5, top.DoModal());
    ASSERT_NE(nullptr, button);
    EXPECT_EQ(edit, top.focusSet);
    EXPECT_EQ(button, top.focusAtEnd);
}

// ---------------------------------------------------------------------------
// Control binding and modeless creation

class CDlgBind : public CDialog {
public:
    CDlgBind() : CDialog(IDD_FW_TOP) {}
    CRecEdit m_edit;
    CTabCtrl m_tab;
    int ddxCalls = 0;
protected:
    void DoDataExchange(CDataExchange* dx) override {
        ++ddxCalls;
        DDX_Control(dx, IDC_FW_EDIT, m_edit);
        DDX_Control(dx, IDC_FW_TAB, m_tab);
    }
};

TEST_F(Framework, DdxControlBindsOnceAndLetsGoWhenTheWindowGoes) {
    CDlgBind dlg;
    ASSERT_TRUE(dlg.Create(IDD_FW_TOP));
    HWND edit = dlg.GetDlgItem(IDC_FW_EDIT);
    EXPECT_EQ(1, dlg.ddxCalls);
    EXPECT_EQ(edit, dlg.m_edit.m_hWnd);
    EXPECT_EQ(dlg.GetDlgItem(IDC_FW_TAB), dlg.m_tab.m_hWnd);
    EXPECT_EQ(&dlg.m_edit, CWnd::FromHandlePermanent(edit));

    g_log.clear();   // the bound control's messages pass its message map
    dlg.SetDlgItemText(IDC_FW_EDIT, "abc");
    EXPECT_EQ("edit settext abc", Joined());
    char text[16] = {};
    dlg.m_edit.GetWindowText(text, sizeof text);
    EXPECT_STREQ("abc", text);

    EXPECT_TRUE(dlg.UpdateData(TRUE));   // bound already: stays as it is
    EXPECT_EQ(edit, dlg.m_edit.m_hWnd);
    EXPECT_EQ(&dlg.m_edit, CWnd::FromHandlePermanent(edit));

    dlg.m_edit.SetLimitText(5);
    EXPECT_EQ(5, (int)::SendMessageA(edit, EM_GETLIMITTEXT, 0, 0));

    HWND hDlg = dlg.m_hWnd;
    ::DestroyWindow(hDlg);
    EXPECT_EQ(nullptr, dlg.m_hWnd);
    EXPECT_EQ(nullptr, dlg.m_edit.m_hWnd);
    EXPECT_EQ(nullptr, dlg.m_tab.m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(edit));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hDlg));
}

TEST_F(Framework, ObjectsThatDieBeforeTheirWindowsLeaveThemWorking) {
    CDialog dlg(IDD_FW_TOP);
    ASSERT_TRUE(dlg.Create(IDD_FW_TOP));
    HWND edit = dlg.GetDlgItem(IDC_FW_EDIT);
    {
        CRecEdit bound;
        ASSERT_TRUE(bound.SubclassDlgItem(IDC_FW_EDIT, &dlg));
        CRecEdit second;
        EXPECT_FALSE(second.SubclassDlgItem(IDC_FW_EDIT, &dlg));   // one object per window
        EXPECT_FALSE(second.SubclassDlgItem(9999, &dlg));
    }
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(edit));
    CRecEdit detached;
    ASSERT_TRUE(detached.SubclassDlgItem(IDC_FW_EDIT, &dlg));
    EXPECT_EQ(edit, detached.Detach());
    EXPECT_EQ(nullptr, detached.m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(edit));
    g_log.clear();
    ::SetWindowTextA(edit, "still");
    char text[16] = {};
    ::GetWindowTextA(edit, text, sizeof text);
    EXPECT_STREQ("still", text);
    EXPECT_EQ("", Joined());

    HWND hDlg = nullptr;
    {
        CDialog modeless(IDD_FW_HIDDEN);
        ASSERT_TRUE(modeless.Create(IDD_FW_HIDDEN));
        hDlg = modeless.m_hWnd;
    }
    EXPECT_FALSE(::IsWindow(hDlg));   // a dialog object takes its window with it
}

TEST_F(Framework, ModelessCreateAsChildAndEndDialogHides) {
    CDlgBind host;
    ASSERT_TRUE(host.Create(IDD_FW_TOP));
    CDlgRecPage page;
    ASSERT_TRUE(page.Create(IDD_FW_PAGE, &host.m_tab));
    EXPECT_EQ(host.m_tab.m_hWnd, page.GetParent());
    EXPECT_TRUE(page.GetStyle() & WS_CHILD);
    EXPECT_FALSE(page.IsWindowVisible());
    EXPECT_EQ(&page, CWnd::FromHandlePermanent(page.m_hWnd));
    EXPECT_EQ(&page.m_edit, CWnd::FromHandlePermanent(page.GetDlgItem(IDC_FW_PAGE_EDIT)));
    EXPECT_FALSE(page.Create(IDD_FW_PAGE, &host.m_tab));   // one window per object

    page.ShowWindow(SW_SHOW);
    EXPECT_TRUE(::IsWindowVisible(page.m_hWnd));
    page.EndDialog(IDCANCEL);
    EXPECT_FALSE(::IsWindowVisible(page.m_hWnd));
    EXPECT_TRUE(::IsWindow(page.m_hWnd));

    ::DestroyWindow(host.m_hWnd);   // children go with their parent
    EXPECT_EQ(nullptr, page.m_hWnd);
    EXPECT_EQ(nullptr, page.m_edit.m_hWnd);
}

// ---------------------------------------------------------------------------
// Common controls, menu, font

std::string TreeText(CTreeCtrl& tree, HTREEITEM item) {
    char text[64] = {};
    TVITEMA tvi = {};
    tvi.mask = TVIF_TEXT;
    tvi.hItem = item;
    tvi.pszText = text;
    tvi.cchTextMax = sizeof text;
    tree.SendMessage(TVM_GETITEMA, 0, (LPARAM)&tvi);
    return text;
}

class CDlgControls : public CDialog {
public:
    CDlgControls() : CDialog(IDD_FW_CONTROLS) {}
    CTreeCtrl m_tree;
    CComboBox m_combo;
    CTabCtrl m_tabs;
protected:
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Control(dx, IDC_FW_TREE, m_tree);
        DDX_Control(dx, IDC_FW_COMBO, m_combo);
        DDX_Control(dx, IDC_FW_TABS, m_tabs);
    }
};

TEST_F(Framework, TreeWrapperOnARealTreeView) {
    CDlgControls dlg;
    ASSERT_TRUE(dlg.Create(IDD_FW_CONTROLS));
    CImageList images;
    ASSERT_TRUE(images.Create(16, 16, ILC_COLOR32 | ILC_MASK, 2, 1));
    images.SetBkColor(RGB(255, 255, 255));
    EXPECT_EQ(0, images.Add(LoadIcon(nullptr, IDI_APPLICATION)));
    EXPECT_EQ(1, images.GetImageCount());
    dlg.m_tree.SetImageList(&images, TVSIL_NORMAL);
    EXPECT_EQ((LRESULT)images.m_hImageList, dlg.m_tree.SendMessage(TVM_GETIMAGELIST, TVSIL_NORMAL));

    HTREEITEM root = dlg.m_tree.InsertItem("钥匙", 0, 0);
    HTREEITEM first = dlg.m_tree.InsertItem("无效容器", root);
    HTREEITEM second = dlg.m_tree.InsertItem("cert", 0, 0, root);
    ASSERT_TRUE(root && first && second);
    EXPECT_TRUE(dlg.m_tree.SetItemData(second, 0xC0FFEE));
    EXPECT_EQ((DWORD_PTR)0xC0FFEE, dlg.m_tree.GetItemData(second));
    EXPECT_EQ((DWORD_PTR)0, dlg.m_tree.GetItemData(first));
    EXPECT_EQ(root, dlg.m_tree.GetRootItem());
    EXPECT_EQ(first, dlg.m_tree.GetChildItem(root));
    EXPECT_EQ(second, dlg.m_tree.GetNextSiblingItem(first));
    EXPECT_EQ(nullptr, dlg.m_tree.GetNextSiblingItem(second));
    EXPECT_EQ(root, dlg.m_tree.GetParentItem(second));
    EXPECT_TRUE(dlg.m_tree.ItemHasChildren(root));
    EXPECT_FALSE(dlg.m_tree.ItemHasChildren(first));
    EXPECT_EQ("钥匙", TreeText(dlg.m_tree, root));     // ANSI text comes back byte for byte
    EXPECT_EQ("无效容器", TreeText(dlg.m_tree, first));
    EXPECT_TRUE(dlg.m_tree.Expand(root, TVE_EXPAND));
    dlg.m_tree.SendMessage(TVM_SELECTITEM, TVGN_CARET, (LPARAM)second);
    EXPECT_EQ(second, dlg.m_tree.GetSelectedItem());
    EXPECT_TRUE(dlg.m_tree.DeleteAllItems());
    EXPECT_EQ(nullptr, dlg.m_tree.GetRootItem());
}

TEST_F(Framework, ComboAndTabWrappersOnRealControls) {
    CDlgControls dlg;
    ASSERT_TRUE(dlg.Create(IDD_FW_CONTROLS));
    EXPECT_EQ(0, dlg.m_combo.AddString("第一"));
    EXPECT_EQ(1, dlg.m_combo.AddString("second"));
    EXPECT_EQ(2, dlg.m_combo.GetCount());
    EXPECT_EQ(CB_ERR, dlg.m_combo.GetCurSel());
    EXPECT_EQ(1, dlg.m_combo.SetCurSel(1));
    EXPECT_EQ(1, dlg.m_combo.GetCurSel());
    char text[32] = {};
    dlg.m_combo.SendMessage(CB_GETLBTEXT, 0, (LPARAM)text);
    EXPECT_STREQ("第一", text);
    dlg.m_combo.ResetContent();
    EXPECT_EQ(0, dlg.m_combo.GetCount());

    const char* tabs[] = { "证书管理", "修改密码", "导入证书", "更改KEY标签" };
    for (int i = 0; i < 4; ++i) EXPECT_EQ(i, dlg.m_tabs.InsertItem(i, tabs[i]));
    EXPECT_EQ(4, dlg.m_tabs.GetItemCount());
    EXPECT_EQ(0, dlg.m_tabs.GetCurSel());
    dlg.m_tabs.SetCurSel(3);
    EXPECT_EQ(3, dlg.m_tabs.GetCurSel());
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    ASSERT_TRUE(dlg.m_tabs.SendMessage(TCM_GETITEMA, 3, (LPARAM)&item));
    EXPECT_STREQ("更改KEY标签", text);
}

TEST_F(Framework, MenuAndFont) {
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_FW_MENU));
    HMENU popup = menu.GetSubMenu(0);
    ASSERT_NE(nullptr, popup);
    EXPECT_EQ(3, GetMenuItemCount(popup));
    EXPECT_EQ((UINT)ID_FW_MENU_TWO, GetMenuItemID(popup, 2));
    EXPECT_TRUE(menu.DestroyMenu());
    EXPECT_EQ(nullptr, menu.m_hMenu);
    EXPECT_FALSE(menu.LoadMenu(9999));

    LOGFONTA lf = {};
    lf.lfHeight = -12;
    lstrcpynA(lf.lfFaceName, "宋体", sizeof lf.lfFaceName);
    CFont font;
    ASSERT_TRUE(font.CreateFontIndirect(&lf));
    LOGFONTA back = {};
    ASSERT_EQ((int)sizeof back, GetObjectA(font.m_hObject, sizeof back, &back));
    EXPECT_EQ(-12, back.lfHeight);
    EXPECT_TRUE(font.DeleteObject());
    EXPECT_FALSE(font.DeleteObject());
}

// ---------------------------------------------------------------------------
// File dialog, message box, application

OPENFILENAMEA g_seenOfn;
std::string g_seenFilter;
std::string g_seenFile;
BOOL g_seamAnswer = TRUE;

BOOL WINAPI FakeGetOpenFileName(OPENFILENAMEA* ofn) {
    g_seenOfn = *ofn;
    g_seenFilter.clear();
    g_seenFile = ofn->lpstrFile;
    if (ofn->lpstrFilter) {
        const char* p = ofn->lpstrFilter;
        while (*p) p += strlen(p) + 1;
        g_seenFilter.assign(ofn->lpstrFilter, p - ofn->lpstrFilter + 1);   // with the final NUL
    }
    if (g_seamAnswer) lstrcpynA(ofn->lpstrFile, "C:\\keys\\证书.pfx", ofn->nMaxFile);
    return g_seamAnswer;
}

struct SeamGuard {
    BOOL (WINAPI* saved)(OPENFILENAMEA*) = CFileDialog::s_pfnGetOpenFileName;
    SeamGuard() { CFileDialog::s_pfnGetOpenFileName = FakeGetOpenFileName; }
    ~SeamGuard() { CFileDialog::s_pfnGetOpenFileName = saved; }
};

// "a", "b" -> "a\0b\0\0"
std::string Multi(std::initializer_list<std::string> parts) {
    std::string all;
    for (const auto& p : parts) all += p + std::string(1, '\0');
    return all + std::string(1, '\0');
}

TEST_F(Framework, FileDialogConvertsTheFilterAndCallsTheSeam) {
    std::string longText(120, 'x');
    std::string longFilter = "PFX|*.pfx|" + longText + "|*.a|" + longText + "|*.b||";
    struct { const char* name; std::string filter; std::string expected; } cases[] = {
        { "two pairs", "证书文件(*.pfx;*.p12)|*.pfx;*.p12|所有文件(*.*)|*.*||",
          Multi({ "证书文件(*.pfx;*.p12)", "*.pfx;*.p12", "所有文件(*.*)", "*.*" }) },
        { "no closing bars", "All|*.*", Multi({ "All", "*.*" }) },
        { "pair without a pattern dropped", "All|*.*|Text||", Multi({ "All", "*.*" }) },
        { "too long: whole pairs only", longFilter, Multi({ "PFX", "*.pfx", longText, "*.a" }) },
    };
    SeamGuard seam;
    CDialog owner(IDD_FW_TOP);
    ASSERT_TRUE(owner.Create(IDD_FW_TOP));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_seamAnswer = TRUE;
        CFileDialog dlg(TRUE, "pfx", nullptr, OFN_FILEMUSTEXIST, c.filter.c_str(), &owner);
        EXPECT_EQ(IDOK, dlg.DoModal());
        EXPECT_EQ(c.expected, g_seenFilter);
        EXPECT_STREQ("C:\\keys\\证书.pfx", dlg.GetPathName());
    }
    g_seamAnswer = FALSE;
    CFileDialog dlg(TRUE, nullptr, "start.p12", 0, nullptr, &owner);
    dlg.SetTitle("导入");
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ(nullptr, g_seenOfn.lpstrFilter);
    EXPECT_EQ((DWORD)OPENFILENAME_SIZE_VERSION_400A, g_seenOfn.lStructSize);
#ifndef _WIN64
    EXPECT_EQ(76u, g_seenOfn.lStructSize);
#endif
    EXPECT_EQ(owner.m_hWnd, g_seenOfn.hwndOwner);
    EXPECT_EQ((DWORD)MAX_PATH, g_seenOfn.nMaxFile);
    EXPECT_EQ(std::string("导入"), g_seenOfn.lpstrTitle);
    EXPECT_TRUE(g_seenOfn.Flags & OFN_EXPLORER);
    EXPECT_EQ("start.p12", g_seenFile);   // the initial name
    EXPECT_STREQ("", dlg.GetPathName());
}

TEST_F(Framework, MessageBoxIsOwnedAndCaptionedWithTheAppName) {
    CDialog dlg(IDD_FW_TOP);
    ASSERT_TRUE(dlg.Create(IDD_FW_TOP));
    MsgBoxCatcher catcher;
    EXPECT_EQ(IDOK, dlg.MessageBox("你好"));
    catcher.Answer(IDNO);
    EXPECT_EQ(IDNO, dlg.MessageBox("问题", "提示", MB_YESNO | MB_ICONQUESTION));
    ASSERT_EQ(2u, catcher.boxes.size());
    EXPECT_EQ(dlg.m_hWnd, catcher.boxes[0].owner);
    EXPECT_EQ("FrameworkTest", catcher.boxes[0].caption);
    EXPECT_EQ("你好", catcher.boxes[0].text);
    EXPECT_EQ("提示", catcher.boxes[1].caption);
}

TEST_F(Framework, WinMainRunsInitInstanceAndTheLoopOnlyWhenAsked) {
    g_app.m_pszAppName = nullptr;   // no name: the exe's
    g_app.initCalls = 0;
    g_app.runLoop = FALSE;
    g_app.quitCode = -1;
    EXPECT_EQ(0, AfxWinMain(GetModuleHandleA(nullptr)));
    EXPECT_EQ(1, g_app.initCalls);
    EXPECT_EQ(&g_app, AfxGetApp());
    EXPECT_EQ(GetModuleHandleA(nullptr), AfxGetInstanceHandle());
    ASSERT_NE(nullptr, g_app.m_pszAppName);
    EXPECT_STREQ("test_framework", g_app.m_pszAppName);

    g_app.runLoop = TRUE;
    g_app.quitCode = 9;
    EXPECT_EQ(9, AfxWinMain(GetModuleHandleA(nullptr)));
    EXPECT_EQ(2, g_app.initCalls);
    g_app.runLoop = FALSE;
    g_app.quitCode = -1;
}

}  // namespace

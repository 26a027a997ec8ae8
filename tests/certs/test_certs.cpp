// The page base, the message boxes, and the certificate page's tree and
// actions, on the real template 131 with the token library's test double.
#include "certs/CertTree.h"
#include "certs/DlgDisp.h"
#include "pages/MsgBox.h"
#include "res/resource.h"
#include "tests/fake/FakeToken.h"
#include "tests/support/ShellLog.h"
#include "tests/support/TestSupport.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>

namespace {

const TOKEN_KEY kKey = 0x3001;

struct Item {
    std::string text;
    int image;
    uint32_t tag;
    bool operator==(const Item& o) const { return text == o.text && image == o.image && tag == o.tag; }
};

std::ostream& operator<<(std::ostream& os, const Item& i) {
    return os << "{" << i.text << ", " << i.image << ", 0x" << std::hex << i.tag << std::dec << "}";
}

class CertPage : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake.Reset();
        ASSERT_TRUE(page.Create(IDD_DISP, host.wnd));
        page.ShowWindow(SW_SHOW);
    }
    void TearDown() override {
        // Nothing is ever asked of the library about key 0.
        for (const FakeCall& c : g_fake.calls) {
            if (c.fn == "CSP_GetSlotList" || c.fn == "CSP_AddCertToIE" || c.fn == "CSP_UnloadIECert" ||
                c.fn == "TokenWindowMarker")
                continue;
            EXPECT_NE(0u, c.key) << c.fn;
        }
    }
    FakeKey& Key(const char* label = "KEY1") { return g_fake.AddKey(kKey, label); }
    static FakeContainer Container(const char* name, uint32_t flags, const char* spec1 = nullptr,
                                   const char* spec2 = nullptr) {
        FakeContainer c;
        c.name = name;
        c.flags = flags;
        if (spec1) c.cert[0] = ReadFixture(spec1);
        if (spec2) c.cert[1] = ReadFixture(spec2);
        return c;
    }
    Item Read(HTREEITEM item) {
        char text[256] = {};
        TVITEMA tv = {};
        tv.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM;
        tv.hItem = item;
        tv.pszText = text;
        tv.cchTextMax = sizeof text;
        SendMessageA(page.m_tree.m_hWnd, TVM_GETITEMA, 0, (LPARAM)&tv);
        return {text, tv.iImage, (uint32_t)tv.lParam};
    }
    // The root and its children, in order.
    std::vector<Item> Tree() {
        std::vector<Item> items;
        HTREEITEM root = page.m_tree.GetRootItem();
        if (!root) return items;
        items.push_back(Read(root));
        for (HTREEITEM c = page.m_tree.GetChildItem(root); c; c = page.m_tree.GetNextSiblingItem(c))
            items.push_back(Read(c));
        return items;
    }
    bool RootExpanded() {
        HTREEITEM root = page.m_tree.GetRootItem();
        return (SendMessageA(page.m_tree.m_hWnd, TVM_GETITEMSTATE, (WPARAM)root, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
    }
    HTREEITEM Child(int index) {
        HTREEITEM c = page.m_tree.GetChildItem(page.m_tree.GetRootItem());
        while (c && index-- > 0) c = page.m_tree.GetNextSiblingItem(c);
        return c;
    }
    void Select(HTREEITEM item) { SendMessageA(page.m_tree.m_hWnd, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item); }
    void List(TOKEN_KEY key = kKey) {
        page.m_hKey = key;
        page.RefreshTree();
    }
    struct Buttons {
        bool view, reg, del;
        std::string delText;
    };
    Buttons ButtonState() {
        char text[32] = {};
        GetDlgItemTextA(page.m_hWnd, IDC_BTN_DELETE, text, sizeof text);
        return {IsWindowEnabled(page.GetDlgItem(IDC_BTN_VIEW)) != 0,
                IsWindowEnabled(page.GetDlgItem(IDC_BTN_REGISTER)) != 0,
                IsWindowEnabled(page.GetDlgItem(IDC_BTN_DELETE)) != 0, text};
    }
    void Click(int id) { SendMessageA(page.GetDlgItem(id), BM_CLICK, 0, 0); }
    // A double-click of the mouse on the item's text, as the tree sees it.
    void MouseDoubleClick(HTREEITEM item) {
        RECT r = {};
        memcpy(&r, &item, sizeof item);
        SendMessageA(page.m_tree.m_hWnd, TVM_GETITEMRECT, TRUE, (LPARAM)&r);
        LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        // The tree watches for the button's release after a press: queue it first.
        PostMessageA(page.m_tree.m_hWnd, WM_LBUTTONUP, 0, at);
        SendMessageA(page.m_tree.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageA(page.m_tree.m_hWnd, WM_LBUTTONUP, 0, at);
        SendMessageA(page.m_tree.m_hWnd, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        PumpMessages(20);
    }
    // A message box of the page: caption "提示", owned by the page's window
    // (the system hands a child's box to its top-level window).
    void ExpectBox(const CapturedBox& box, const char* text, const char* icon) {
        EXPECT_EQ(text, box.text);
        EXPECT_STREQ(icon, box.icon) << box.text;
        EXPECT_EQ("提示", box.caption) << box.text;
        EXPECT_EQ(host.hwnd, box.owner) << box.text;
    }
    LRESULT DoubleClick() {
        NMHDR nm = {page.m_tree.m_hWnd, (UINT_PTR)IDC_CERTTREE, (UINT)NM_DBLCLK};
        return SendMessageA(page.m_hWnd, WM_NOTIFY, IDC_CERTTREE, (LPARAM)&nm);
    }
    TestHost host;
    CDlgDisp page;
};

// ---------------------------------------------------------------------------
// Tree

TEST_F(CertPage, KeyWithoutContainersShowsItsLabelAlone) {
    Key("我的KEY");
    List();
    EXPECT_EQ(std::vector<Item>({{"我的KEY", 1, 0}}), Tree());
}

TEST_F(CertPage, CertificatesOfBothKeySpecificationsAndAnInvalidContainer) {
    FakeKey& key = Key();
    key.containers = {Container("both", 0x0F, "zhangsan.der", "signing.der"),
                      Container("half", 0x01 | 0x02),               // certificate bits without keys
                      Container("sign", 0x0A, nullptr, "signing.der")};
    List();
    EXPECT_EQ(std::vector<Item>({{"KEY1", 1, 0},
                                 {"张三", 0, 0x80000001},
                                 {"Quorvel Test Signing", 0, 0x40000001},
                                 {"无效容器", 2, 0xC0000002},
                                 {"Quorvel Test Signing", 0, 0x40000003}}),
              Tree());
    EXPECT_TRUE(RootExpanded());
    std::vector<Item> first = Tree();
    List();   // a second listing: the same items and tags, slots from 0 again
    EXPECT_EQ(first, Tree());
    EXPECT_STREQ("both", g_containerSlots.slots[0].name);
    EXPECT_STREQ("half", g_containerSlots.slots[1].name);
    EXPECT_STREQ("sign", g_containerSlots.slots[2].name);
    EXPECT_EQ(0, g_containerSlots.slots[3].inUse);
}

TEST_F(CertPage, EmptyNameTakesASlotAndUnparsableCertificateShowsNothing) {
    FakeKey& key = Key();
    FakeContainer garbage = Container("garbage", 0x05);
    garbage.cert[0] = std::vector<BYTE>(64, 0x30);
    key.containers = {Container("", 0x05, "zhangsan.der"), garbage, Container("ok", 0x05, "zhangsan.der")};
    List();
    EXPECT_EQ(std::vector<Item>({{"KEY1", 1, 0}, {"张三", 0, 0x80000003}}), Tree());
}

TEST_F(CertPage, SevenContainersListTheFirstSixSilently) {
    FakeKey& key = Key();
    for (int i = 0; i < 7; ++i) key.containers.push_back(Container(("c" + std::to_string(i)).c_str(), 0));
    MsgBoxCatcher boxes;
    List();
    EXPECT_EQ(7u, Tree().size());   // root and six
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(6, g_fake.Count("CSP_ContainerInfo"));
}

TEST_F(CertPage, NoKeyMakesNoLibraryCall) {
    Key().containers = {Container("c", 0x05, "zhangsan.der")};
    MsgBoxCatcher boxes;
    List(0);
    ASSERT_EQ(1u, Tree().size());
    EXPECT_EQ("未选中USBKEY!", Tree()[0].text);
    EXPECT_EQ(0u, Tree()[0].tag);
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(CertPage, LongNamesAreCutOnACharacterBoundary) {
    Key().containers = {Container("long", 0x05, "longname.der")};
    List();
    std::string name = Tree().at(1).text;
    // 50 double-byte characters are 100 bytes: 99 would split the last one.
    EXPECT_EQ(98u, name.size());
    EXPECT_EQ(0, memcmp(name.data(), "网上银行证书用户", 16));
}

TEST_F(CertPage, LengthBeyondTheBufferIsAFailedRead) {
    // The library says it wrote more than the buffer holds: nothing past the
    // buffer is parsed, registered or written, and the read counts as failed.
    Key().containers = {Container("big", 0x05, "zhangsan.der")};
    g_fake.certLengthReported = TOKEN_CERT_MAX + 1;
    MsgBoxCatcher quiet;
    List();
    EXPECT_EQ(1u, Tree().size());   // no item, and no "无效容器" either
    EXPECT_TRUE(quiet.boxes.empty());

    g_fake.certLengthReported = 0;
    List();
    ASSERT_EQ(2u, Tree().size());
    Select(Child(0));
    g_fake.certLengthReported = TOKEN_CERT_MAX + 1;
    for (int button : {IDC_BTN_REGISTER, IDC_BTN_VIEW}) {
        InstallShellLogger();
        ClearShellLog();
        MsgBoxCatcher boxes;
        Click(button);
        ASSERT_EQ(1u, boxes.boxes.size()) << button;
        EXPECT_EQ("读取证书失败！", boxes.boxes[0].text);
        EXPECT_STREQ("warning", boxes.boxes[0].icon);
    }
    EXPECT_FALSE(g_fake.Called("CSP_AddCertToIE"));
    PumpMessages(300);
    EXPECT_TRUE(WaitShellLog(0).empty());
}

struct ListingFailure {
    const char* fn;
    const char* text;
    size_t items;
};

TEST_F(CertPage, ListingFailuresAreTold) {
    const ListingFailure cases[] = {
        {"CSP_GetUsbKeyLabel", "读USBKEY错误！", 0},
        {"CSP_ContainerCount", "读USBKEY错误！", 1},
        {"CSP_ContainerInfo", "读USBKEY错误！", 1},
    };
    for (const auto& c : cases) {
        g_fake.Reset();
        Key().containers = {Container("c", 0)};
        g_fake.fail[c.fn] = 0xE0000007;
        MsgBoxCatcher boxes;
        List();
        ASSERT_EQ(1u, boxes.boxes.size()) << c.fn;
        EXPECT_EQ(c.text, boxes.boxes[0].text);
        EXPECT_EQ("提示", boxes.boxes[0].caption);
        EXPECT_STREQ("warning", boxes.boxes[0].icon);
        EXPECT_EQ(host.hwnd, boxes.boxes[0].owner);
        EXPECT_EQ(c.items, Tree().size()) << c.fn;
    }
}

TEST_F(CertPage, SlotTableAllocatesSixThenRefuses) {
    ResetContainerSlots();
    for (int i = 0; i < 6; ++i) EXPECT_EQ(i, AllocContainerSlot());
    EXPECT_EQ(-1, AllocContainerSlot());
    ResetContainerSlots();
    EXPECT_EQ(0, AllocContainerSlot());
}

// ---------------------------------------------------------------------------
// Buttons and actions

class CertActions : public CertPage {
protected:
    void SetUp() override {
        CertPage::SetUp();
        Key().containers = {Container("both", 0x0F, "zhangsan.der", "signing.der"), Container("bad", 0)};
        List();
    }
};

TEST_F(CertActions, ButtonStatesFollowTheSelection) {
    struct {
        int child;   // -1 = root
        Buttons expected;
    } cases[] = {
        {0, {true, true, true, "删除证书"}},
        {2, {false, false, true, "删除容器"}},
        {1, {true, true, true, "删除证书"}},
        {-1, {false, false, false, "删除证书"}},
    };
    for (const auto& c : cases) {
        Select(c.child < 0 ? page.m_tree.GetRootItem() : Child(c.child));
        Buttons b = ButtonState();
        EXPECT_EQ(c.expected.view, b.view) << c.child;
        EXPECT_EQ(c.expected.reg, b.reg) << c.child;
        EXPECT_EQ(c.expected.del, b.del) << c.child;
        EXPECT_EQ(c.expected.delText, b.delText) << c.child;
    }
}

TEST_F(CertActions, DoubleClickOnTheRootDoesNothing) {
    Select(page.m_tree.GetRootItem());
    g_fake.calls.clear();
    MsgBoxCatcher boxes;
    EXPECT_EQ(1, DoubleClick());
    MouseDoubleClick(page.m_tree.GetRootItem());   // the tree itself neither folds the root
    EXPECT_TRUE(RootExpanded());
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(CertActions, DoubleClickOnAnInvalidContainerDoesNothingAndOnACertificateViews) {
    InstallShellLogger();
    ClearShellLog();
    MsgBoxCatcher boxes;
    g_fake.calls.clear();
    MouseDoubleClick(Child(2));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(g_fake.calls.empty());
    MouseDoubleClick(Child(0));
    EXPECT_EQ(1u, WaitShellLog(1).size());
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.Texts();
}

TEST_F(CertActions, ViewWritesTheTemporaryFileAndAsksTheShellToOpenIt) {
    InstallShellLogger();
    ClearShellLog();
    Select(Child(0));
    EXPECT_EQ(0, DoubleClick());
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string path = std::string(dir) + "~certdemotemp~.cer";
    std::vector<BYTE> want = ReadFixture("zhangsan.der");
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    std::vector<BYTE> got(want.size() + 16);
    DWORD read = 0;
    ReadFile(f, got.data(), (DWORD)got.size(), &read, nullptr);
    CloseHandle(f);
    got.resize(read);
    EXPECT_EQ(want, got);
    auto opened = WaitShellLog(1);
    ASSERT_EQ(1u, opened.size());
    EXPECT_NE(std::string::npos, opened[0].find("~certdemotemp~.cer")) << opened[0];

    Select(Child(1));   // a second view overwrites the file with the other certificate
    Click(IDC_BTN_VIEW);
    WIN32_FILE_ATTRIBUTE_DATA attr;
    ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attr));
    EXPECT_EQ(ReadFixture("signing.der").size(), attr.nFileSizeLow);
}

TEST_F(CertActions, LockedTemporaryFileIsTold) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string path = std::string(dir) + "~certdemotemp~.cer";
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    MsgBoxCatcher boxes;
    Select(Child(0));
    Click(IDC_BTN_VIEW);
    CloseHandle(lock);
    ASSERT_EQ(1u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], "创建临时文件失败", "warning");
}

TEST_F(CertActions, RegisterTellsSuccessAndFailure) {
    Select(Child(1));
    {
        MsgBoxCatcher boxes;
        Click(IDC_BTN_REGISTER);
        ASSERT_EQ(1u, boxes.boxes.size());
        ExpectBox(boxes.boxes[0], "注册证书成功", "information");
        EXPECT_EQ(std::vector<std::string>{"both"}, g_fake.addedToIE);
        EXPECT_EQ(2u, g_fake.calls.back().a);   // key specification of the selected item
        EXPECT_EQ(ReadFixture("signing.der").size(), g_fake.calls.back().b);
    }
    g_fake.addToIEResult = 0x80070005;
    MsgBoxCatcher boxes;
    Click(IDC_BTN_REGISTER);
    ASSERT_EQ(1u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], "注册证书失败!", "warning");
}

TEST_F(CertActions, ReadFailureAndRootSelectionAreTold) {
    struct { int child; const char* fail; const char* text; } cases[] = {
        {-1, nullptr, "请选择证书！"},
        {0, "CSP_ReadCertByName", "读取证书失败！"},
    };
    for (const auto& c : cases) {
        g_fake.fail.clear();
        if (c.fail) g_fake.fail[c.fail] = 0xE0000008;
        Select(c.child < 0 ? page.m_tree.GetRootItem() : Child(c.child));
        MsgBoxCatcher boxes;
        Click(IDC_BTN_REGISTER);
        ASSERT_EQ(1u, boxes.boxes.size());
        ExpectBox(boxes.boxes[0], c.text, "warning");
    }
}

TEST_F(CertActions, DeletingACertificateAsksTwiceAndNoStopsIt) {
    g_fake.verifyResult = 0;
    struct { std::vector<int> answers; size_t questions; bool deleted; } cases[] = {
        {{IDNO}, 1, false},
        {{IDYES, IDNO}, 2, false},
        {{IDYES, IDYES}, 2, true},
    };
    for (const auto& c : cases) {
        Select(Child(1));
        MsgBoxCatcher boxes;
        for (int a : c.answers) boxes.Answer(a);
        Click(IDC_BTN_DELETE);
        ASSERT_EQ(c.questions, boxes.boxes.size());
        ExpectBox(boxes.boxes[0], "确实要删除证书吗？", "question");
        EXPECT_EQ((std::vector<int>{IDYES, IDNO}), boxes.boxes[0].buttons);
        if (c.questions > 1) {
            ExpectBox(boxes.boxes[1], "确实要把证书删除吗？删除证书可能会导致您不能进入网上银行证书版系统！", "question");
            EXPECT_EQ((std::vector<int>{IDYES, IDNO}), boxes.boxes[1].buttons);
        }
        EXPECT_EQ(c.deleted ? 1 : 0, g_fake.Count("CSP_DeleteContainerByName"));
    }
    // Both certificates of the container are gone; the invalid container stays.
    EXPECT_EQ(std::vector<Item>({{"KEY1", 1, 0}, {"无效容器", 2, 0xC0000001}}), Tree());
    std::vector<std::string> order;
    for (const auto& call : g_fake.calls)
        if (call.fn == "CSP_Reset" || call.fn == "CSP_VerifyPassword" || call.fn == "CSP_DeleteContainerByName")
            order.push_back(call.fn);
    EXPECT_EQ((std::vector<std::string>{"CSP_Reset", "CSP_VerifyPassword", "CSP_DeleteContainerByName"}), order);
}

TEST_F(CertActions, DeletingAnInvalidContainerAsksOnceAndResetsTheButtons) {
    Select(Child(2));
    MsgBoxCatcher boxes;
    boxes.Answer(IDYES);
    Click(IDC_BTN_DELETE);
    ASSERT_EQ(1u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], "确实要删除容器吗？", "question");
    EXPECT_EQ((std::vector<int>{IDYES, IDNO}), boxes.boxes[0].buttons);
    ASSERT_EQ(1, g_fake.Count("CSP_DeleteContainerByName"));
    for (const auto& call : g_fake.calls) {
        if (call.fn == "CSP_DeleteContainerByName") {
            EXPECT_EQ("bad", call.text);
        }
    }
    Buttons b = ButtonState();
    EXPECT_FALSE(b.view || b.reg || b.del);
    EXPECT_EQ("删除证书", b.delText);
    EXPECT_EQ(3u, Tree().size());
}

TEST_F(CertActions, PasswordRefusedOrDeletionFailedStopsTheAction) {
    g_fake.verifyResult = TOKEN_PIN_NO_VERDICT;
    Select(Child(0));
    {
        MsgBoxCatcher boxes;
        boxes.Answer(IDYES);
        boxes.Answer(IDYES);
        Click(IDC_BTN_DELETE);
        EXPECT_EQ(2u, boxes.boxes.size());   // the two questions, nothing after
        EXPECT_FALSE(g_fake.Called("CSP_DeleteContainerByName"));
    }
    g_fake.verifyResult = 0;
    g_fake.fail["CSP_DeleteContainerByName"] = 0xE0000009;
    MsgBoxCatcher boxes;
    boxes.Answer(IDYES);
    boxes.Answer(IDYES);
    Click(IDC_BTN_DELETE);
    ASSERT_EQ(3u, boxes.boxes.size());
    ExpectBox(boxes.boxes[2], "证书删除失败！", "warning");
    EXPECT_EQ(4u, Tree().size());   // left as it was
}

TEST_F(CertActions, DeleteWithNoKeyDoesNothing) {
    Select(Child(0));
    page.m_hKey = 0;
    g_fake.calls.clear();
    MsgBoxCatcher boxes;
    Click(IDC_BTN_DELETE);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(g_fake.calls.empty());
}

// ---------------------------------------------------------------------------
// Page base: Esc goes to the outermost window, Enter changes nothing.

TEST_F(CertPage, EscOnAPageReachesTheOutermostWindowAsKeyDownAndUp) {
    // As in the tool: page -> tab control -> main window.
    HWND tabWnd = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 500, 400,
                                  host.hwnd, (HMENU)1000, GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(tabWnd);
    CTabCtrl tab;
    tab.Attach(tabWnd);
    CDlgDisp inner;
    ASSERT_TRUE(inner.Create(IDD_DISP, &tab));
    inner.ShowWindow(SW_SHOW);
    struct { HWND target; UINT msg; WPARAM key; LPARAM lParam; } keys[] = {
        {inner.m_tree.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0x00010001},
        {inner.m_tree.m_hWnd, WM_KEYUP, VK_ESCAPE, (LPARAM)0xC0010001},
        {inner.GetDlgItem(IDC_BTN_VIEW), WM_KEYDOWN, VK_ESCAPE, 0x00010001},
        {inner.GetDlgItem(IDC_BTN_VIEW), WM_KEYUP, VK_ESCAPE, (LPARAM)0xC0010001},
    };
    for (const auto& k : keys) {
        host.received.clear();
        SetFocus(k.target);
        PostMessageA(k.target, k.msg, k.key, k.lParam);
        PumpMessages(30);
        ASSERT_EQ(1, host.Count(k.msg, VK_ESCAPE)) << k.msg;
        for (const MSG& m : host.received) {
            if (m.message == k.msg) {
                EXPECT_EQ(k.lParam, m.lParam);
            }
        }
        EXPECT_TRUE(inner.GetStyle() & WS_VISIBLE);   // the page's own cancel did not hide it
    }
    // A character message with the Esc code is the page's own business.
    host.received.clear();
    PostMessageA(inner.m_tree.m_hWnd, WM_CHAR, VK_ESCAPE, 0x00010001);
    PumpMessages(30);
    EXPECT_EQ(0, host.Count(WM_CHAR));
    ::DestroyWindow(inner.m_hWnd);
    tab.Detach();
    DestroyWindow(tabWnd);
}

TEST_F(CertPage, EnterOnAPageChangesNothing) {
    Key();
    List();
    g_fake.calls.clear();
    SetFocus(page.GetDlgItem(IDC_BTN_VIEW));
    PostMessageA(page.m_tree.m_hWnd, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageA(page.m_tree.m_hWnd, WM_KEYUP, VK_RETURN, 0xC01C0001);
    PumpMessages(50);
    EXPECT_TRUE(page.GetStyle() & WS_VISIBLE);
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_EQ(0, host.Count(WM_KEYDOWN));
}

TEST(MessageBoxes, PasswordStatusBoxTable) {
    struct { uint32_t status; const char* text; } cases[] = {
        {0x63C3, "用户密码不正确！还有3次可试机会。"},
        {0x000163C2, "用户密码不正确！还有2次可试机会。"},
        {0x63C0, "FALLBACK"},
        {0x6983, "FALLBACK"},
        {0x80090020, "FALLBACK"},
    };
    TestHost host;
    for (const auto& c : cases) {
        MsgBoxCatcher boxes;
        PasswordStatusBox(host.hwnd, "用户密码不正确！还有%d次可试机会。", "FALLBACK", c.status);
        ASSERT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ(c.text, boxes.boxes[0].text) << std::hex << c.status;
        EXPECT_EQ("提示", boxes.boxes[0].caption);
        EXPECT_STREQ("warning", boxes.boxes[0].icon);
        EXPECT_EQ(host.hwnd, boxes.boxes[0].owner);
        EXPECT_EQ((std::vector<int>{IDOK}), boxes.boxes[0].buttons);
    }
    MsgBoxCatcher boxes;
    InfoBox(host.hwnd, "信息");
    WarnBox(host.hwnd, "警告");
    ASSERT_EQ(2u, boxes.boxes.size());
    EXPECT_EQ("信息", boxes.boxes[0].text);
    EXPECT_STREQ("information", boxes.boxes[0].icon);
    EXPECT_EQ("警告", boxes.boxes[1].text);
    EXPECT_STREQ("warning", boxes.boxes[1].icon);
    for (const auto& b : boxes.boxes) {
        EXPECT_EQ("提示", b.caption);
        EXPECT_EQ(host.hwnd, b.owner);
        EXPECT_EQ((std::vector<int>{IDOK}), b.buttons);
    }
}

}  // namespace

// The key list, insertion and removal, and the USB registry clean-up, on the
// real main window (template 102) with the token library's test double.
#include "app/DlgMain.h"
#include "certs/CertTree.h"
#include "devices/DeviceChange.h"
#include "token/SlotList.h"
#include "devices/UsbCleanup.h"
#include "pages/DlgChgLabel.h"
#include "res/resource.h"
#include "tests/fake/FakeToken.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/ShellLog.h"
#include "tests/support/TestSupport.h"
#include <gtest/gtest.h>
#include <dbt.h>
#include <aclapi.h>
#include <sddl.h>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

const TOKEN_KEY kKeyA = 0x2001, kKeyB = 0x2002;

// ---------------------------------------------------------------------------
// Device setup seam: devices made to order.

struct FakeDevice {
    bool statusReadable = true;
    ULONG status = 0;
    ULONG problem = 0;
    bool hidden = false;              // DN_NO_SHOW_IN_DM
    std::string hardwareIds;          // as a list: strings separated by '\0', "" = unreadable
    std::string description;          // "" = unreadable
    bool rawIds = false;              // hardwareIds exactly as given, without the list's end
};
std::vector<FakeDevice> g_devices;
int g_setsTaken = 0;
// Run once when the next identification text is read: what happens just
// before the clean-up's message box comes up.
void (*g_beforeMessage)() = nullptr;
HWND g_mainWnd = nullptr;

HDEVINFO WINAPI FakeGetClassDevs(const GUID*, PCSTR, HWND, DWORD flags) {
    ++g_setsTaken;
    EXPECT_EQ((DWORD)DIGCF_ALLCLASSES, flags);
    return (HDEVINFO)(INT_PTR)0x5E7;
}
BOOL WINAPI FakeDestroy(HDEVINFO) { return TRUE; }
BOOL WINAPI FakeImageList(PSP_CLASSIMAGELIST_DATA) { return TRUE; }
BOOL WINAPI FakeImageIndex(PSP_CLASSIMAGELIST_DATA, const GUID*, PINT index) {
    *index = 0;
    return TRUE;
}
BOOL WINAPI FakeEnum(HDEVINFO, DWORD index, PSP_DEVINFO_DATA data) {
    if (index >= g_devices.size()) return FALSE;
    data->DevInst = index;
    return TRUE;
}
BOOL WINAPI FakeProperty(HDEVINFO, PSP_DEVINFO_DATA data, DWORD property, PDWORD, PBYTE buffer, DWORD size, PDWORD) {
    const FakeDevice& d = g_devices[data->DevInst];
    if (void (*hook)() = g_beforeMessage) {
        g_beforeMessage = nullptr;
        hook();
    }
    std::string value;
    if (property == SPDRP_HARDWAREID && !d.hardwareIds.empty())
        value = d.rawIds ? d.hardwareIds : d.hardwareIds + std::string("\0", 1);
    else if (property == SPDRP_DEVICEDESC && !d.description.empty())
        value = d.description + std::string("\0", 1);
    else
        return FALSE;
    if (value.size() > size) return FALSE;
    memcpy(buffer, value.data(), value.size());
    return TRUE;
}
CONFIGRET WINAPI FakeStatus(PULONG status, PULONG problem, DEVINST inst, ULONG) {
    const FakeDevice& d = g_devices[inst];
    if (!d.statusReadable) return CR_NO_SUCH_DEVNODE;
    *status = d.status | (d.hidden ? DN_NO_SHOW_IN_DM : 0);
    *problem = d.problem;
    return CR_SUCCESS;
}
BOOL WINAPI NoImageList(PSP_CLASSIMAGELIST_DATA) { return FALSE; }
HDEVINFO WINAPI NoDeviceSet(const GUID*, PCSTR, HWND, DWORD) { return INVALID_HANDLE_VALUE; }

const DeviceSetupApi kFakeApi = {FakeGetClassDevs, FakeDestroy, FakeImageList, FakeImageIndex,
                                 FakeEnum, FakeProperty, FakeStatus};

// ---------------------------------------------------------------------------

class MainWindow : public CMainWindowFixture {
protected:
    MainWindow() : CMainWindowFixture(kFakeApi) {}
    void SetUp() override {
        CMainWindowFixture::SetUp();
        g_devices.clear();
        g_setsTaken = 0;
        g_beforeMessage = nullptr;
    }
    // The notification indexes posted to the main window so far, in order.
    std::vector<int> Balloons() {
        std::vector<int> indexes;
        MSG msg;
        while (PeekMessageA(&msg, dlg->m_hWnd, WM_QRVL_NOTIFY, WM_QRVL_NOTIFY, PM_REMOVE))
            indexes.push_back((int)msg.wParam);
        return indexes;
    }
    LRESULT DeviceChange(WPARAM type) { return SendMessageA(dlg->m_hWnd, WM_DEVICECHANGE, type, 0); }
    std::vector<std::string> ComboItems() {
        std::vector<std::string> items;
        HWND combo = dlg->GetDlgItem(IDC_KEYLIST);
        int n = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < n; ++i) {
            char text[128] = {};
            SendMessageA(combo, CB_GETLBTEXT, i, (LPARAM)text);
            items.push_back(text);
        }
        return items;
    }
    std::vector<TOKEN_KEY> PageKeys() {
        return {dlg->m_pageCerts.m_hKey, dlg->m_pagePassword.m_hKey, dlg->m_pageImport.m_hKey,
                dlg->m_pageLabel.m_hKey};
    }
    bool PagesEnabled() {
        bool all = true, none = true;
        for (HWND h : {dlg->m_pageCerts.GetDlgItem(IDC_CERTTREE), dlg->m_pagePassword.GetDlgItem(IDC_EDIT_OLDPWD),
                       dlg->m_pageImport.GetDlgItem(IDC_BTN_IMPORT), dlg->m_pageLabel.GetDlgItem(IDC_EDIT_LABEL)}) {
            bool on = IsWindowEnabled(h) != FALSE;
            all = all && on;
            none = none && !on;
        }
        EXPECT_TRUE(all || none) << "pages disagree";
        return all;
    }
    static bool Shown(CWnd& page) { return (page.GetStyle() & WS_VISIBLE) != 0; }
    static std::string ItemText(CTreeCtrl& tree, HTREEITEM item) {
        char text[256] = {};
        TVITEMA tv = {};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = text;
        tv.cchTextMax = sizeof text;
        if (!item || !SendMessageA(tree.m_hWnd, TVM_GETITEMA, 0, (LPARAM)&tv)) return "<none>";
        return text;
    }
};

// ---------------------------------------------------------------------------
// Start-up

TEST_F(MainWindow, StartWithNoKeyDisablesPagesAndDoesNothingElse) {
    Open();
    EXPECT_FALSE(PagesEnabled());
    EXPECT_EQ(1, g_fake.Count("CSP_GetSlotList"));
    EXPECT_EQ(g_fake.Count("CSP_GetSlotList") + g_fake.Count("TokenWindowMarker"), (int)g_fake.calls.size());
    EXPECT_TRUE(ComboItems().empty());
    EXPECT_TRUE(Balloons().empty());
    EXPECT_EQ(0, g_setsTaken);   // no refresh, so no clean-up
    EXPECT_EQ(0u, dlg->m_hKey);
}

TEST_F(MainWindow, StartWithOneKeyLoadsItsCertificatesAndListsIt) {
    g_fake.AddKey(kKeyA, "KEY-A");
    Open();
    EXPECT_EQ(std::vector<int>{19}, Balloons());   // no insertion balloon at start-up
    EXPECT_EQ(std::vector<TOKEN_KEY>{kKeyA}, g_fake.loadedToIE);
    EXPECT_EQ(std::vector<std::string>{"KEY-A"}, ComboItems());
    EXPECT_EQ(kKeyA, dlg->m_hKey);
    EXPECT_EQ(std::vector<TOKEN_KEY>(4, kKeyA), PageKeys());
    EXPECT_TRUE(PagesEnabled());
    EXPECT_EQ(1u, dlg->m_lastKeyCount);
}

// The pages, made once start-up is over, take the key, the state and the
// listing that the device checks before gave them, a key that came or went in
// between included.
TEST_F(MainWindow, PagesMadeAfterStartUpTakeTheStateGivenBefore) {
    struct { bool atStart, beforeIdle; } cases[] = {{false, false}, {true, true}, {false, true}, {true, false}};
    for (auto c : cases) {
        SCOPED_TRACE(testing::Message() << "key at start " << c.atStart << ", before idle " << c.beforeIdle);
        dlg.reset();
        g_fake.Reset();
        g_slotCount = 0;
        if (c.atStart) g_fake.AddKey(kKeyA, "KEY-A");
        Open(false);
        ASSERT_EQ(nullptr, dlg->m_pageLabel.m_hWnd);
        if (c.beforeIdle != c.atStart) {
            if (c.beforeIdle)
                g_fake.AddKey(kKeyA, "KEY-A");
            else
                g_fake.keys.clear();
            DeviceChange(DBT_DEVNODES_CHANGED);
        }
        ASSERT_TRUE(PumpUntil([&] { return dlg->m_pageCerts.m_hWnd != nullptr; }));
        EXPECT_EQ(c.beforeIdle, PagesEnabled());
        EXPECT_EQ(std::vector<TOKEN_KEY>(4, c.beforeIdle ? kKeyA : 0), PageKeys());
        // A listing asked for before is done: the key's, or the one of no key.
        CTreeCtrl& tree = dlg->m_pageCerts.m_tree;
        const char* root = c.beforeIdle ? "KEY-A" : c.atStart ? "未选中USBKEY!" : nullptr;
        if (root)
            EXPECT_EQ(root, ItemText(tree, tree.GetRootItem()));
        else
            EXPECT_EQ(nullptr, tree.GetRootItem());
        for (int id : {IDC_BTN_VIEW, IDC_BTN_REGISTER, IDC_BTN_DELETE})
            EXPECT_FALSE(IsWindowEnabled(dlg->m_pageCerts.GetDlgItem(id))) << id;
        EXPECT_TRUE(Shown(dlg->m_pageCerts));
    }
}

// ---------------------------------------------------------------------------
// Insertion and removal

TEST_F(MainWindow, InsertionShowsBalloonsRegistersOpensTheAddressAndLists) {
    InstallShellLogger();
    ClearShellLog();
    Open();
    FakeKey& key = g_fake.AddKey(kKeyA, "KEY-A");
    std::vector<BYTE> file(WEBFILE_SIZE, 0);
    memcpy(file.data(), "https://ebank.example/login", 27);
    key.files[WEBFILE_ID] = file;
    EXPECT_EQ(TRUE, DeviceChange(DBT_DEVNODES_CHANGED));
    EXPECT_EQ((std::vector<int>{10, 19}), Balloons());
    EXPECT_EQ(std::vector<TOKEN_KEY>{kKeyA}, g_fake.loadedToIE);
    EXPECT_EQ(std::vector<std::string>{"KEY-A"}, ComboItems());
    EXPECT_EQ(kKeyA, dlg->m_hKey);
    auto opened = WaitShellLog(1);
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ("https://ebank.example/login", opened[0]);
}

TEST_F(MainWindow, RemovalOfTheOnlyKey) {
    g_fake.AddKey(kKeyA, "KEY-A");
    Open();
    Balloons();
    g_fake.keys.clear();
    g_fake.calls.clear();
    DeviceChange(DBT_DEVNODES_CHANGED);
    EXPECT_EQ(std::vector<int>{11}, Balloons());
    EXPECT_TRUE(g_fake.Called("CSP_UnloadIECert"));
    EXPECT_TRUE(g_fake.loadedToIE.empty());
    EXPECT_FALSE(g_fake.Called("CSP_FileAllID"));
    EXPECT_TRUE(ComboItems().empty());
    EXPECT_EQ(1, g_setsTaken);   // the refresh found no key: clean-up
    EXPECT_FALSE(PagesEnabled());
    EXPECT_EQ(0u, dlg->m_hKey);
}

TEST_F(MainWindow, RemovalOfOneOfTwoKeys) {
    g_fake.AddKey(kKeyA, "KEY-A");
    g_fake.AddKey(kKeyB, "KEY-B");
    Open();
    Balloons();
    g_fake.keys.erase(g_fake.keys.begin());
    DeviceChange(DBT_DEVNODES_CHANGED);
    EXPECT_EQ((std::vector<int>{11, 19}), Balloons());
    EXPECT_EQ(std::vector<TOKEN_KEY>{kKeyB}, g_fake.loadedToIE);
    EXPECT_EQ(std::vector<std::string>{"KEY-B"}, ComboItems());
}

TEST_F(MainWindow, ChangeUndoneDuringThePauseCountsAsRemoval) {
    g_fake.AddKey(kKeyA, "KEY-A");
    Open();
    Balloons();
    g_fake.calls.clear();
    g_fake.slotCountSequence = {2};   // a second key seen, gone again after the pause
    DeviceChange(DBT_DEVNODES_CHANGED);
    EXPECT_EQ((std::vector<int>{11, 19}), Balloons());
    EXPECT_EQ(std::vector<TOKEN_KEY>{kKeyA}, g_fake.loadedToIE);
    EXPECT_FALSE(g_fake.Called("CSP_FileAllID"));
    EXPECT_EQ(std::vector<std::string>{"KEY-A"}, ComboItems());
}

TEST_F(MainWindow, ArrivalAndRemoveCompleteEventsAreIgnored) {
    Open();
    g_fake.AddKey(kKeyA, "KEY-A");
    g_fake.calls.clear();
    for (WPARAM type : {(WPARAM)DBT_DEVICEARRIVAL, (WPARAM)DBT_DEVICEREMOVECOMPLETE})
        EXPECT_EQ(TRUE, DeviceChange(type));
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_FALSE(PagesEnabled());
    EXPECT_EQ(0u, dlg->m_lastKeyCount);
}

TEST_F(MainWindow, UnchangedCountOnlyReappliesPageStates) {
    g_fake.AddKey(kKeyA, "KEY-A");
    Open();
    Balloons();
    dlg->m_pageLabel.EnableControls(FALSE);
    g_fake.calls.clear();
    DeviceChange(DBT_DEVNODES_CHANGED);
    EXPECT_EQ(std::vector<std::string>{"CSP_GetSlotList"}, g_fake.Names());
    EXPECT_TRUE(PagesEnabled());
    EXPECT_TRUE(Balloons().empty());
}

TEST_F(MainWindow, KeyWhoseStatusCannotBeReadGetsNoCertificatesLoaded) {
    g_fake.AddKey(kKeyA, "KEY-A").fail["CSP_GetSlotStatus"] = 0xE0000003;
    g_fake.AddKey(kKeyB, "KEY-B", 1);   // not initialised: nothing to load either
    Open();
    EXPECT_TRUE(g_fake.loadedToIE.empty());
}

TEST_F(MainWindow, OnlyTerminatedWebAddressesAreOpened) {
    InstallShellLogger();
    ClearShellLog();
    Open();
    const std::string contents[] = {
        "file:///C:/windows/notepad.exe", "C:\\windows\\notepad.exe", "javascript:alert(1)",
        "notepad", "", std::string(WEBFILE_SIZE, 'h'),   // no terminating zero in 260 bytes
        "HTTPS://EBANK.EXAMPLE/",                      // last: the one that opens
    };
    for (const std::string& content : contents) {
        g_fake.keys.clear();
        DeviceChange(DBT_DEVNODES_CHANGED);   // removal first
        FakeKey& key = g_fake.AddKey(kKeyA, "KEY-A");
        std::vector<BYTE> file(WEBFILE_SIZE, 0);
        memcpy(file.data(), content.data(), content.size() < WEBFILE_SIZE ? content.size() : WEBFILE_SIZE);
        key.files[WEBFILE_ID] = file;
        DeviceChange(DBT_DEVNODES_CHANGED);
    }
    auto opened = WaitShellLog(1);
    Sleep(1000);
    opened = WaitShellLog(2, 500);
    EXPECT_EQ(std::vector<std::string>{"HTTPS://EBANK.EXAMPLE/"}, opened);
}

TEST_F(MainWindow, ReadWebFileTable) {
    FakeKey& key = g_fake.AddKey(kKeyA, "KEY-A");
    char text[WEBFILE_SIZE] = {};
    uint32_t length = 99;
    EXPECT_EQ(1, ReadWebFile(kKeyA, text, &length));   // no file: pop-up off
    EXPECT_EQ(0u, length);
    key.files[WEBFILE_ID] = std::vector<BYTE>(WEBFILE_SIZE, 0);
    memcpy(key.files[WEBFILE_ID].data(), "http://a.example/", 17);
    EXPECT_EQ(1, ReadWebFile(kKeyA, text, &length));
    EXPECT_EQ(17u, length);
    EXPECT_STREQ("http://a.example/", text);
    key.fail["CSP_FileRead"] = 0xE0000004;
    EXPECT_EQ(0, ReadWebFile(kKeyA, text, &length));
    key.fail["CSP_FileAllID"] = 0xE0000005;
    EXPECT_EQ(0, ReadWebFile(kKeyA, text, &length));
    // Sixty other files listed first: the file is beyond the fifty ids that fit.
    key.fail.clear();
    for (uint16_t id = 1; id <= 60; ++id) key.files[id] = std::vector<BYTE>(4, 0);
    memset(text, 0, sizeof text);
    EXPECT_EQ(1, ReadWebFile(kKeyA, text, &length));
    EXPECT_EQ(0u, length);
}

// ---------------------------------------------------------------------------
// Key list and selection

TEST_F(MainWindow, TwoKeysAreListedInLibraryOrderAndTheFirstIsCurrent) {
    g_fake.AddKey(kKeyA, "KEY-A");
    g_fake.AddKey(kKeyB, "KEY-B");
    Open();
    EXPECT_EQ((std::vector<std::string>{"KEY-A", "KEY-B"}), ComboItems());
    EXPECT_EQ(0, (int)SendDlgItemMessageA(dlg->m_hWnd, IDC_KEYLIST, CB_GETCURSEL, 0, 0));
    EXPECT_EQ(std::vector<TOKEN_KEY>(4, kKeyA), PageKeys());
}

TEST_F(MainWindow, ChoosingTheSecondKeySwitchesEveryPageAndARefreshGoesBack) {
    g_fake.AddKey(kKeyA, "KEY-A");
    g_fake.AddKey(kKeyB, "KEY-B").containers.push_back({"c1", 0x01, {}});
    Open();
    HWND combo = dlg->GetDlgItem(IDC_KEYLIST);
    SendMessageA(combo, CB_SETCURSEL, 1, 0);
    SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_KEYLIST, CBN_SELCHANGE), (LPARAM)combo);
    EXPECT_EQ(std::vector<TOKEN_KEY>(4, kKeyB), PageKeys());
    EXPECT_EQ(kKeyB, dlg->m_hKey);
    CTreeCtrl& tree = dlg->m_pageCerts.m_tree;
    HTREEITEM root = tree.GetRootItem();
    EXPECT_EQ("KEY-B", ItemText(tree, root));
    EXPECT_EQ("无效容器", ItemText(tree, tree.GetChildItem(root)));

    SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, BN_CLICKED), 0);
    EXPECT_EQ(0, (int)SendMessageA(combo, CB_GETCURSEL, 0, 0));
    EXPECT_EQ(std::vector<TOKEN_KEY>(4, kKeyA), PageKeys());
}

TEST_F(MainWindow, NoSelectionLeavesEveryPageDisabled) {
    g_fake.AddKey(kKeyA, "KEY-A");
    Open();
    HWND combo = dlg->GetDlgItem(IDC_KEYLIST);
    SendMessageA(combo, CB_SETCURSEL, (WPARAM)-1, 0);
    SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_KEYLIST, CBN_SELCHANGE), (LPARAM)combo);
    EXPECT_FALSE(PagesEnabled());
}

TEST_F(MainWindow, KeyWithUnreadableLabelIsLeftOutButStillCountsAsPresent) {
    g_fake.AddKey(kKeyA, "KEY-A").fail["CSP_GetUsbKeyLabel"] = 0xE0000006;
    g_fake.AddKey(kKeyB, "KEY-B");
    Open();
    EXPECT_EQ(std::vector<std::string>{"KEY-B"}, ComboItems());
    EXPECT_EQ(std::vector<TOKEN_KEY>(4, kKeyB), PageKeys());
    EXPECT_TRUE(PagesEnabled());
}

TEST_F(MainWindow, NoReadableLabelMeansNoCurrentKeyEvenAfterAnEarlierOne) {
    g_fake.AddKey(kKeyA, "KEY-A");
    Open();
    ASSERT_EQ(kKeyA, dlg->m_hKey);
    g_fake.Find(kKeyA)->fail["CSP_GetUsbKeyLabel"] = 0xE0000006;
    g_fake.calls.clear();
    SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, BN_CLICKED), 0);
    EXPECT_TRUE(ComboItems().empty());
    EXPECT_EQ(std::vector<TOKEN_KEY>(4, 0u), PageKeys());
    EXPECT_EQ(0u, dlg->m_hKey);
    EXPECT_TRUE(PagesEnabled());   // a key is present, as the library says
    for (const auto& c : g_fake.calls)
        if (c.fn != "CSP_GetSlotList" && c.fn != "CSP_GetUsbKeyLabel") ADD_FAILURE() << c.fn << " on a stale handle";
}

TEST_F(MainWindow, MoreKeysThanTheListHoldsUsesOnlyWhatFits) {
    for (TOKEN_KEY k = 1; k <= 300; ++k) g_fake.AddKey(k, ("K" + std::to_string(k)).c_str());
    Open();
    EXPECT_EQ(256u, ComboItems().size());
    EXPECT_EQ(300u, g_slotCount);
}

TEST_F(MainWindow, RefreshWithNoKeyResetsTheCertificatePage) {
    Open();
    SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, BN_CLICKED), 0);
    EXPECT_EQ(1, g_setsTaken);
    EXPECT_EQ(std::vector<TOKEN_KEY>(4, 0u), PageKeys());
    CDlgDisp& page = dlg->m_pageCerts;
    for (int id : {IDC_BTN_VIEW, IDC_BTN_REGISTER, IDC_BTN_DELETE}) EXPECT_FALSE(IsWindowEnabled(page.GetDlgItem(id)));
    char text[32] = {};
    GetDlgItemTextA(page.m_hWnd, IDC_BTN_DELETE, text, sizeof text);
    EXPECT_STREQ("删除证书", text);
    EXPECT_EQ("未选中USBKEY!", ItemText(page.m_tree, page.m_tree.GetRootItem()));
}

TEST_F(MainWindow, RefreshKeepsThePageOfTheSelectedTab) {
    g_fake.AddKey(kKeyA, "KEY-A");
    Open();
    TabCtrl_SetCurFocus(dlg->GetDlgItem(IDC_TAB), 1);   // the control tells its parent itself
    EXPECT_TRUE(Shown(dlg->m_pagePassword));
    SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, BN_CLICKED), 0);
    EXPECT_TRUE(Shown(dlg->m_pagePassword));
    EXPECT_FALSE(Shown(dlg->m_pageCerts));
    EXPECT_FALSE(Shown(dlg->m_pageImport));
    EXPECT_FALSE(Shown(dlg->m_pageLabel));
}

// ---------------------------------------------------------------------------
// Keys pulled out or refreshed while an action waits for the user. Every box
// and the library's password prompt run a message loop; the device change or
// refresh that comes in there lists the keys again and makes the first one
// current. What the user confirmed for the second key must never reach the
// first.

const char kKeyRemoved[] = "USBKEY已拔出，操作已取消！";
// The container an item's tag leads to in the slot table.
std::string SlotName(DWORD_PTR tag) {
    const char* name = TagContainerName((CertTreeTag)tag);
    return name ? name : "<none>";
}
const char kSelectCert[] = "请选择证书！";

// The texts of the boxes the catcher saw, in order.
std::vector<std::string> BoxTexts(const MsgBoxCatcher& catcher) {
    std::vector<std::string> texts;
    for (const auto& b : catcher.boxes) texts.push_back(b.text);
    return texts;
}

// Keys A and B, each with a certificate container "SAME" and an incomplete
// container "HALF".
static void AddKeysSharingContainerNames() {
    for (TOKEN_KEY k : {kKeyA, kKeyB}) {
        FakeKey& key = g_fake.AddKey(k, k == kKeyA ? "KEY-A" : "KEY-B");
        FakeContainer same;
        same.name = "SAME";
        same.flags = TOKEN_CF_SPEC1_CERT | TOKEN_CF_SPEC1_KEY;
        same.cert[0] = ReadFixture("zhangsan.der");
        FakeContainer half;
        half.name = "HALF";
        half.flags = TOKEN_CF_SPEC1_KEY;
        key.containers = {same, half};
    }
}

// Two keys that both hold a certificate in container "SAME" and an incomplete
// container "HALF"; the user has chosen the second one, key B.
class ActionOnSecondKey : public MainWindow {
protected:
    enum Event { kPulled, kRefreshed };
    void SetUp() override {
        MainWindow::SetUp();
        Arrange();
    }
    void Arrange() {
        g_fake.Reset();
        AddKeysSharingContainerNames();
        Open();
        g_mainWnd = dlg->m_hWnd;
        HWND combo = dlg->GetDlgItem(IDC_KEYLIST);
        SendMessageA(combo, CB_SETCURSEL, 1, 0);
        SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_KEYLIST, CBN_SELCHANGE), (LPARAM)combo);
        ASSERT_EQ(kKeyB, dlg->m_pageCerts.m_hKey);
        g_fake.calls.clear();
    }
    // What arrives while a box or the prompt is up: key B pulled out (the
    // system's broadcast), or a refresh (the import page's WM_USER+3; the
    // tray menu's refresh does the same).
    static void Deliver(Event event) {
        if (event == kPulled) {
            g_fake.keys.erase(g_fake.keys.begin() + 1);
            PostMessageA(g_mainWnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        } else {
            PostMessageA(g_mainWnd, WM_QRVL_REFRESH, 0, 0);
        }
    }
    // Key A as it was arranged: both containers, never asked for its password.
    void ExpectKeyAUntouched(const std::string& what) {
        FakeKey* a = g_fake.Find(kKeyA);
        ASSERT_TRUE(a) << what;
        std::vector<std::string> names;
        for (const auto& c : a->containers) names.push_back(c.name);
        EXPECT_EQ((std::vector<std::string>{"SAME", "HALF"}), names) << what;
        EXPECT_EQ("KEY-A", a->label) << what;
        EXPECT_EQ(2u, a->status) << what << ": no password verified on it";
        for (const auto& c : g_fake.calls) {
            if (c.key != kKeyA) continue;
            EXPECT_TRUE(c.fn != "CSP_Reset" && c.fn != "CSP_VerifyPassword" && c.fn != "CSP_DeleteContainerByName" &&
                        c.fn != "CSP_SetUsbKeyLabel")
                << what << ": " << c.fn << " on key A";
        }
    }
    // The tree shows the current key whole: one root, its label, one item
    // per certificate or incomplete container, each naming its own slot.
    void ExpectTreeOf(const char* label, const std::string& what) {
        CTreeCtrl& tree = dlg->m_pageCerts.m_tree;
        HTREEITEM root = tree.GetRootItem();
        EXPECT_EQ(label, ItemText(tree, root)) << what;
        EXPECT_EQ(nullptr, tree.GetNextSiblingItem(root)) << what << ": one root";
        std::vector<std::string> items;
        for (HTREEITEM c = tree.GetChildItem(root); c; c = tree.GetNextSiblingItem(c))
            items.push_back(ItemText(tree, c) + "/" + SlotName(tree.GetItemData(c)));
        EXPECT_EQ((std::vector<std::string>{"张三/SAME", "无效容器/HALF"}), items) << what;
    }
};

TEST_F(ActionOnSecondKey, DeletionStopsWhenTheKeyOrTheItemIsGoneAfterABoxOrThePrompt) {
    const char kAsk1[] = "确实要删除证书吗？";
    const char kAsk2[] = "确实要把证书删除吗？删除证书可能会导致您不能进入网上银行证书版系统！";
    const char kAskContainer[] = "确实要删除容器吗？";
    const int kPrompt = 0;
    const struct {
        int item;     // 0: B's certificate, 1: B's incomplete container
        int moment;   // the box (1, 2) or the password prompt
        Event event;
        std::vector<std::string> boxes;
    } cases[] = {
        {0, 1, kPulled, {kAsk1, kKeyRemoved}},
        {0, 1, kRefreshed, {kAsk1, kSelectCert}},
        {0, 2, kPulled, {kAsk1, kAsk2, kKeyRemoved}},
        {0, 2, kRefreshed, {kAsk1, kAsk2, kSelectCert}},
        {0, kPrompt, kPulled, {kAsk1, kAsk2, kKeyRemoved}},
        {0, kPrompt, kRefreshed, {kAsk1, kAsk2, kSelectCert}},
        {1, 1, kPulled, {kAskContainer, kKeyRemoved}},
        {1, 1, kRefreshed, {kAskContainer, kSelectCert}},
        {1, kPrompt, kPulled, {kAskContainer, kKeyRemoved}},
        {1, kPrompt, kRefreshed, {kAskContainer, kSelectCert}},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(c.item ? "container" : "certificate") + ", moment " +
                                 std::to_string(c.moment) + (c.event == kPulled ? ", pulled" : ", refreshed");
        Arrange();
        CDlgDisp& page = dlg->m_pageCerts;
        HTREEITEM item = page.m_tree.GetChildItem(page.m_tree.GetRootItem());
        if (c.item) item = page.m_tree.GetNextSiblingItem(item);
        SendMessageA(page.m_tree.m_hWnd, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        g_fake.verifyResult = 0;
        const Event event = c.event;
        if (c.moment == kPrompt) g_fake.prompt = [event] { Deliver(event); };
        MsgBoxCatcher boxes;
        int shown = 0;
        boxes.onBox = [&](CapturedBox& box) {
            ++shown;
            if (std::find(box.buttons.begin(), box.buttons.end(), IDYES) != box.buttons.end()) box.answer = IDYES;
            if (shown == c.moment) Deliver(event);
        };
        SendMessageA(page.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_DELETE, BN_CLICKED),
                     (LPARAM)page.GetDlgItem(IDC_BTN_DELETE));
        PumpMessages();
        EXPECT_EQ(c.boxes, BoxTexts(boxes)) << what;
        if (!boxes.boxes.empty()) {
            EXPECT_STREQ("warning", boxes.boxes.back().icon) << what;
        }
        EXPECT_FALSE(g_fake.Called("CSP_DeleteContainerByName")) << what;
        ExpectKeyAUntouched(what);
        if (FakeKey* b = g_fake.Find(kKeyB)) {
            EXPECT_EQ(2u, b->containers.size()) << what;
        }
        EXPECT_EQ(kKeyA, page.m_hKey) << what;
        ExpectTreeOf("KEY-A", what);
    }
}

TEST_F(ActionOnSecondKey, ConfirmedDeletionStillGoesToTheKeyThatStayed) {
    // Nothing comes in: the second key's container goes, the first key's stays.
    CDlgDisp& page = dlg->m_pageCerts;
    SendMessageA(page.m_tree.m_hWnd, TVM_SELECTITEM, TVGN_CARET,
                 (LPARAM)page.m_tree.GetChildItem(page.m_tree.GetRootItem()));
    MsgBoxCatcher boxes;
    boxes.Answer(IDYES);
    boxes.Answer(IDYES);
    SendMessageA(page.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_DELETE, BN_CLICKED), (LPARAM)page.GetDlgItem(IDC_BTN_DELETE));
    EXPECT_EQ(2u, boxes.boxes.size()) << boxes.Texts();
    ASSERT_EQ(1, g_fake.Count("CSP_DeleteContainerByName"));
    EXPECT_EQ(1u, g_fake.Find(kKeyB)->containers.size());
    ExpectKeyAUntouched("no event");
}

TEST_F(ActionOnSecondKey, LabelConfirmedWithThePasswordIsWrittenToThatKeyOnly) {
    const struct {
        Event event;
        std::vector<std::string> boxes;
        const char* labelOfB;   // nullptr: the key is gone
    } cases[] = {
        {kPulled, {kKeyRemoved}, nullptr},
        {kRefreshed, {}, "NEW-B"},
    };
    for (const auto& c : cases) {
        const std::string what = c.event == kPulled ? "pulled" : "refreshed";
        Arrange();
        CDlgChgLabel& page = dlg->m_pageLabel;
        ASSERT_EQ(kKeyB, page.m_hKey);
        SetDlgItemTextA(page.m_hWnd, IDC_EDIT_LABEL, "NEW-B");
        const Event event = c.event;
        g_fake.prompt = [event] { Deliver(event); };
        MsgBoxCatcher boxes;
        SendMessageA(page.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_CHGLABEL, BN_CLICKED),
                     (LPARAM)page.GetDlgItem(IDC_BTN_CHGLABEL));
        PumpMessages();
        EXPECT_EQ(c.boxes, BoxTexts(boxes)) << what;
        if (!boxes.boxes.empty()) {
            EXPECT_STREQ("warning", boxes.boxes[0].icon) << what;
            EXPECT_EQ("提示", boxes.boxes[0].caption) << what;
        }
        ExpectKeyAUntouched(what);
        if (c.labelOfB) {
            ASSERT_TRUE(g_fake.Find(kKeyB)) << what;
            EXPECT_EQ(c.labelOfB, g_fake.Find(kKeyB)->label) << what;
        } else {
            EXPECT_FALSE(g_fake.Called("CSP_SetUsbKeyLabel")) << what;
        }
    }
}

// A refresh that comes in while the tree's own warning is up (the key's
// containers cannot be counted) waits for that listing and is done once
// after it: the tree ends up whole, for the key the refresh made current.
TEST_F(MainWindow, RefreshesDuringAListingsWarningAreDoneOnceAfterIt) {
    AddKeysSharingContainerNames();
    g_fake.Find(kKeyB)->fail["CSP_ContainerCount"] = 0xE0000007;
    Open();
    g_mainWnd = dlg->m_hWnd;
    g_fake.calls.clear();
    MsgBoxCatcher boxes;
    boxes.onBox = [](CapturedBox&) {
        PostMessageA(g_mainWnd, WM_QRVL_REFRESH, 0, 0);
        PostMessageA(g_mainWnd, WM_COMMAND, MAKEWPARAM(ID_TRAY_REFRESH, 0), 0);
    };
    HWND combo = dlg->GetDlgItem(IDC_KEYLIST);
    SendMessageA(combo, CB_SETCURSEL, 1, 0);
    SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_KEYLIST, CBN_SELCHANGE), (LPARAM)combo);
    PumpMessages();
    ASSERT_EQ(1u, boxes.boxes.size()) << boxes.Texts();
    EXPECT_EQ("读USBKEY错误！", boxes.boxes[0].text);
    EXPECT_EQ(kKeyA, dlg->m_pageCerts.m_hKey);
    CTreeCtrl& tree = dlg->m_pageCerts.m_tree;
    HTREEITEM root = tree.GetRootItem();
    EXPECT_EQ("KEY-A", ItemText(tree, root));
    EXPECT_EQ(nullptr, tree.GetNextSiblingItem(root)) << "one root";
    std::vector<std::string> items;
    for (HTREEITEM c = tree.GetChildItem(root); c; c = tree.GetNextSiblingItem(c))
        items.push_back(ItemText(tree, c) + "/" + SlotName(tree.GetItemData(c)));
    EXPECT_EQ((std::vector<std::string>{"张三/SAME", "无效容器/HALF"}), items);
    EXPECT_TRUE(SendMessageA(tree.m_hWnd, TVM_GETITEMSTATE, (WPARAM)root, TVIS_EXPANDED) & TVIS_EXPANDED);
    int listingsOfA = 0;
    for (const auto& c : g_fake.calls) listingsOfA += c.fn == "CSP_ContainerCount" && c.key == kKeyA;
    EXPECT_EQ(1, listingsOfA) << "the two refreshes that came in make one listing after the first";
}

// ---------------------------------------------------------------------------
// USB registry clean-up

const char* const kTops[] = {
    "SYSTEM\\ControlSet001\\Enum\\USB\\Vid_d1a1&Pid_2291",
    "SYSTEM\\ControlSet002\\Enum\\USB\\Vid_d1a1&Pid_2291",
    "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_d1a1&Pid_2291",
};

void CreateKey(const std::string& path) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr)) << path;
    RegCloseKey(key);
}

bool KeyExists(const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The key's last write time: deleting a sub-key touches its parent.
ULONGLONG LastWrite(const std::string& path) {
    HKEY key;
    FILETIME t = {};
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &t);
    RegCloseKey(key);
    return ((ULONGLONG)t.dwHighDateTime << 32) | t.dwLowDateTime;
}

DWORD SubKeyCount(const std::string& path) {
    HKEY key;
    DWORD n = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return n;
}

class Cleanup : public MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        for (const char* top : kTops) {
            CreateKey(std::string(top) + "\\5&1a2b3c&0&1\\Device Parameters\\Deep");
            CreateKey(std::string(top) + "\\5&1a2b3c&0&2");
        }
        Open();
    }
    void TearDown() override {
        g_regEnumKeyEx = RegEnumKeyExA;
        for (const char* top : kTops) RegDeleteTreeA(HKEY_LOCAL_MACHINE, top);
        MainWindow::TearDown();
    }
    void Clean() {
        MsgBoxCatcher boxes;
        dlg->CleanStaleUsbEntries();
        messages = boxes.boxes;
    }
    bool Cleaned() {
        for (const char* top : kTops)
            if (!KeyExists(top) || SubKeyCount(top) != 0) return false;
        return true;
    }
    std::vector<CapturedBox> messages;
};

// A hardware-id list: the strings, each with its terminator.
std::string Ids(std::initializer_list<const char*> ids) {
    std::string list;
    for (const char* id : ids) list += std::string(id) + '\0';
    return list;
}

FakeDevice ProblemDevice(const std::string& ids) {
    FakeDevice d;
    d.problem = 28;   // drivers not installed
    d.hardwareIds = ids;
    return d;
}

TEST_F(Cleanup, MatchingProblemDeviceCleansThreeLevelsDownAndKeepsTheTopKeys) {
    g_devices.push_back(ProblemDevice(Ids({"USB\\Vid_d1a1&Pid_2291&Rev_0100", "USB\\Vid_d1a1&Pid_2291"})));
    Clean();
    EXPECT_TRUE(Cleaned());
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("请重新插入USBKEY!", messages[0].text);
    EXPECT_EQ("提示", messages[0].caption);
    EXPECT_STREQ("none", messages[0].icon);
    EXPECT_EQ(dlg->m_hWnd, messages[0].owner);
    // The three trees are separate keys here; each top was last written when
    // its last sub-key went, so the times give the order of the cleaning.
    ULONGLONG set1 = LastWrite(kTops[0]), set2 = LastWrite(kTops[1]), current = LastWrite(kTops[2]);
    EXPECT_LT(set1, set2);
    EXPECT_LT(set2, current);
}

TEST_F(Cleanup, DevicesThatDoNotQualifyAreLeftAlone) {
    FakeDevice upper = ProblemDevice("USB\\VID_D1A1&PID_2291");
    FakeDevice running = ProblemDevice("USB\\Vid_d1a1&Pid_2291");
    running.problem = 0;
    FakeDevice absent = ProblemDevice("USB\\Vid_d1a1&Pid_2291");
    absent.statusReadable = false;
    FakeDevice hidden = ProblemDevice("USB\\Vid_d1a1&Pid_2291");
    hidden.hidden = true;
    FakeDevice described = ProblemDevice("");
    described.description = "USB\\Vid_d1a1&Pid_2291 device";
    g_devices = {upper, running, absent, hidden, described};
    Clean();
    EXPECT_TRUE(messages.empty());
    for (const char* top : kTops) EXPECT_EQ(2u, SubKeyCount(top)) << top;
}

TEST_F(Cleanup, EachMatchShowsTheMessageOnce) {
    g_devices = {ProblemDevice(Ids({"USB\\Vid_d1a1&Pid_2291", "USB\\Vid_d1a1&Pid_2291"})),
                 ProblemDevice("USB\\Vid_d1a1&Pid_2291")};
    Clean();
    EXPECT_EQ(3u, messages.size());
    EXPECT_TRUE(Cleaned());
}

TEST_F(Cleanup, UnterminatedIdListIsReadWithinItsBuffer) {
    // 260 bytes without any zero: no whole string, nothing matches.
    g_devices.push_back(ProblemDevice(std::string(260, 'U')));
    g_devices.back().rawIds = true;
    Clean();
    EXPECT_TRUE(messages.empty());
}

TEST_F(Cleanup, KeysThatCannotBeDeletedArePassedOverAndTheRestGoes) {
    const std::string top = kTops[0];
    // A name so long that its path does not fit: skipped, never cut short.
    std::string longName(220, 'x');
    HKEY parent, sub;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, top.c_str(), 0, KEY_ALL_ACCESS, &parent));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(parent, longName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr));
    RegCloseKey(sub);
    CreateKey(top + "\\zz-last");
    g_devices.push_back(ProblemDevice("USB\\Vid_d1a1&Pid_2291"));
    Clean();   // must come back: no spinning on the long key
    EXPECT_FALSE(KeyExists(top + "\\zz-last"));
    EXPECT_FALSE(KeyExists(top + "\\5&1a2b3c&0&1"));
    EXPECT_EQ(1u, SubKeyCount(top));   // the long one
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(parent, longName.c_str()));
    RegCloseKey(parent);
}

TEST_F(Cleanup, KeyThatDeniesAccessIsPassedOverAndTheRestGoes) {
    // Sorted first, and no one may open it: the loop must step past it.
    const std::string denied = std::string(kTops[0]) + "\\0-denied";
    CreateKey(denied);
    ACL empty;
    ASSERT_TRUE(InitializeAcl(&empty, sizeof empty, ACL_REVISION));
    std::string object = "MACHINE\\" + denied;
    ASSERT_EQ((DWORD)ERROR_SUCCESS, SetNamedSecurityInfoA(&object[0], SE_REGISTRY_KEY,
                                                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                         nullptr, nullptr, &empty, nullptr));
    // Wine's registry enforces the list as Windows does; where it did not,
    // the case would prove nothing, and that is a failure, not a skip.
    HKEY probe;
    ASSERT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, denied.c_str(), 0, KEY_ALL_ACCESS, &probe))
        << "this registry does not enforce the key's access list";
    g_devices.push_back(ProblemDevice("USB\\Vid_d1a1&Pid_2291"));
    Clean();   // must come back: no spinning on the denied key
    EXPECT_EQ(1u, messages.size());
    HKEY still;   // still there, still closed to everyone
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, denied.c_str(), 0, KEY_READ, &still));
    EXPECT_FALSE(KeyExists(std::string(kTops[0]) + "\\5&1a2b3c&0&1"));
    EXPECT_EQ(1u, SubKeyCount(kTops[0]));
    EXPECT_EQ(0u, SubKeyCount(kTops[1]));
    EXPECT_EQ(ERROR_SUCCESS, SetNamedSecurityInfoA(&object[0], SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                                   nullptr, nullptr, nullptr, nullptr));
}

// The DACL of a key below HKEY_LOCAL_MACHINE as text; "" when it cannot be read.
std::string DaclText(const std::string& path) {
    std::string object = "MACHINE\\" + path;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(&object[0], SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return "";
    std::string out;
    char* text = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &text, nullptr)) {
        out = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return out;
}

// The grant to everyone is what lets the clean-up delete; on a key that
// stays, the key's own access list comes back, so that no device key is left
// writable by every user.
TEST_F(Cleanup, KeysThatStayGetTheirOwnAccessListBack) {
    const std::string top = kTops[0];
    const std::string kept = top + "\\kept";
    // Its one sub-key's path does not fit: that one is never reached, so "kept" cannot go either.
    std::string longName(220, 'y');
    HKEY parent, sub;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kept.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &parent, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(parent, longName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr));
    RegCloseKey(sub);
    const std::vector<std::string> stay = {kTops[0], kept, kTops[1], kTops[2]};
    std::vector<std::string> before;
    for (const auto& path : stay) before.push_back(DaclText(path));
    ASSERT_FALSE(before[0].empty());
    g_devices.push_back(ProblemDevice("USB\\Vid_d1a1&Pid_2291"));
    Clean();
    EXPECT_FALSE(KeyExists(top + "\\5&1a2b3c&0&1"));
    EXPECT_TRUE(KeyExists(kept));
    for (size_t i = 0; i < stay.size(); ++i) {
        EXPECT_EQ(before[i], DaclText(stay[i])) << stay[i];
        EXPECT_EQ(std::string::npos, DaclText(stay[i]).find(";;;WD)")) << stay[i] << ": open to everyone";
    }
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(parent, longName.c_str()));
    RegCloseKey(parent);
}

// Another process removes a key while the clean-up walks it: the walk's
// handle answers ERROR_KEY_DELETED at every index from then on.
std::string g_removeUnderWalk;   // the key to remove once the walk has listed its first sub-key
bool g_walkListedOne = false;
int g_keyDeletedAnswers = 0;
std::string g_topDaclDuringWalk;
LONG WINAPI EnumWhileAnotherProcessRemoves(HKEY key, DWORD index, LPSTR name, LPDWORD size, LPDWORD reserved,
                                           LPSTR cls, LPDWORD clsSize, PFILETIME time) {
    if (g_walkListedOne && !g_removeUnderWalk.empty()) {
        g_topDaclDuringWalk = DaclText(kTops[0]);
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_LOCAL_MACHINE, g_removeUnderWalk.c_str()));
        g_removeUnderWalk.clear();
    }
    LONG r = RegEnumKeyExA(key, index, name, size, reserved, cls, clsSize, time);
    if (r == ERROR_SUCCESS && strcmp(name, "first") == 0) g_walkListedOne = true;
    if (r == ERROR_KEY_DELETED && ++g_keyDeletedAnswers >= 1000) return ERROR_NO_MORE_ITEMS;   // else 2^32 calls
    return r;
}

TEST_F(Cleanup, KeyRemovedUnderTheWalkEndsItsLoopAndTheRestIsCleaned) {
    const std::string top = kTops[0];
    const std::string removed = top + "\\removed";
    CreateKey(removed + "\\first");
    CreateKey(removed + "\\second");
    const std::string topDacl = DaclText(top);
    g_removeUnderWalk = removed;
    g_walkListedOne = false;
    g_keyDeletedAnswers = 0;
    g_topDaclDuringWalk.clear();
    g_regEnumKeyEx = EnumWhileAnotherProcessRemoves;
    g_devices.push_back(ProblemDevice("USB\\Vid_d1a1&Pid_2291"));
    Clean();
    g_regEnumKeyEx = RegEnumKeyExA;
    EXPECT_TRUE(g_removeUnderWalk.empty()) << "the walk never reached the key";
    EXPECT_EQ(1, g_keyDeletedAnswers) << "the walk went on asking a removed key";
    EXPECT_EQ(1u, messages.size());
    EXPECT_TRUE(Cleaned());
    EXPECT_NE(std::string::npos, g_topDaclDuringWalk.find(";;;WD)")) << "granted while it walked: " << g_topDaclDuringWalk;
    EXPECT_EQ(topDacl, DaclText(top));
}

// The message asks the user to plug the key in again, so device changes and
// refreshes arrive while it is up; its message loop hands them to the window.
TEST_F(Cleanup, KeyPluggedInWhileTheMessageIsUpIsListedOnce) {
    g_devices.push_back(ProblemDevice("USB\\Vid_d1a1&Pid_2291"));
    g_mainWnd = dlg->m_hWnd;
    g_beforeMessage = [] {
        g_fake.AddKey(kKeyA, "KEY-A");
        PostMessageA(g_mainWnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    };
    MsgBoxCatcher boxes;
    SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, BN_CLICKED), 0);
    EXPECT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(std::vector<std::string>{"KEY-A"}, ComboItems());
    EXPECT_EQ(kKeyA, dlg->m_hKey);
    EXPECT_EQ(std::vector<TOKEN_KEY>(4, kKeyA), PageKeys());
    EXPECT_TRUE(PagesEnabled());
}

TEST_F(Cleanup, RefreshWhileTheMessageIsUpStartsNoSecondCleanup) {
    g_devices.push_back(ProblemDevice("USB\\Vid_d1a1&Pid_2291"));
    g_mainWnd = dlg->m_hWnd;
    g_beforeMessage = [] { PostMessageA(g_mainWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, BN_CLICKED), 0); };
    MsgBoxCatcher boxes;
    SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, BN_CLICKED), 0);
    PumpMessages();
    EXPECT_EQ(1u, boxes.boxes.size()) << boxes.Texts();
    EXPECT_EQ(1, g_setsTaken);
    EXPECT_TRUE(Cleaned());
    EXPECT_TRUE(ComboItems().empty());
}

TEST_F(Cleanup, NoDeviceSetOrImageListMeansNothingIsDone) {
    g_devices.push_back(ProblemDevice("USB\\Vid_d1a1&Pid_2291"));
    g_deviceSetupApi.getClassImageList = NoImageList;
    g_classImageList.cbSize = 0;
    Clean();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(0u, g_classImageList.cbSize);
    g_deviceSetupApi.getClassDevs = NoDeviceSet;
    Clean();
    EXPECT_TRUE(messages.empty());
    for (const char* top : kTops) EXPECT_EQ(2u, SubKeyCount(top));
}

}  // namespace

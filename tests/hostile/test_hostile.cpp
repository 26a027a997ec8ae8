// The real tool (bin\QuorvelUSBKEY.exe) under hostile input from another
// process: WM_COPYDATA of any size and shape, notification indexes of every
// kind, device-change storms around real insertions, and the stand-in library
// answering with failures and oversized results. Whatever comes, the tool
// must not crash or hang, must show no message but its own, no window but its
// own, and keep its tray icon.
//
// Every test draws from std::mt19937 with a printed seed; QRVL_HOSTILE_SEED=<n>
// repeats a run with another base seed.
#include "tests/support/ShellLog.h"
#include "tests/support/ShellTray.h"
#include "tests/support/ToolProcess.h"
#include "tests/tokensim/TokensimTestSupport.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace e2e;

namespace {

// ---------------------------------------------------------------------------
// Seeds, texts

unsigned Seed(unsigned test) {
    char text[32] = {};
    unsigned base = 20261210u;
    if (GetEnvironmentVariableA("QRVL_HOSTILE_SEED", text, sizeof text) > 0) base = (unsigned)strtoul(text, nullptr, 0);
    unsigned seed = base + 7919u * test;
    printf("[ hostile  ] seed %u (base %u)\n", seed, base);
    return seed;
}

uint64_t Random64(std::mt19937& rng) { return ((uint64_t)rng() << 32) | rng(); }

std::string Convert(const std::string& text, UINT from, UINT to) {
    if (text.empty()) return text;
    int n = MultiByteToWideChar(from, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring wide((size_t)n, L'\0');
    MultiByteToWideChar(from, 0, text.data(), (int)text.size(), &wide[0], n);
    int m = WideCharToMultiByte(to, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string out((size_t)m, '\0');
    WideCharToMultiByte(to, 0, wide.data(), n, &out[0], m, nullptr, nullptr);
    return out;
}
std::string Utf8(const std::string& gbk) { return Convert(gbk, 936, CP_UTF8); }

std::string Describe(HWND w) {
    char cls[64] = {}, text[256] = {};
    GetClassNameA(w, cls, sizeof cls);
    GetWindowTextA(w, text, sizeof text);
    return std::string(cls) + " \"" + Utf8(text) + "\"";
}

// Every string literal of the tool's sources (app, pages, certs, devices), in
// GBK as the compiler makes it: the texts the tool can show. A literal with
// %d stands for the texts with a number in its place.
class CKnownTexts {
public:
    CKnownTexts() {
        for (const char* dir : {"app", "pages", "certs", "devices"})
            for (const char* pattern : {"*.cpp", "*.h"}) LoadDir(std::string(QRVL_SOURCE_DIR) + "\\" + dir, pattern);
    }
    size_t Size() const { return m_texts.size(); }
    bool Knows(const std::string& text) const {
        if (m_texts.count(text)) return true;
        for (const std::string& f : m_formats) {
            size_t at = f.find("%d");
            std::string head = f.substr(0, at), tail = f.substr(at + 2);
            if (text.size() <= head.size() + tail.size() || text.compare(0, head.size(), head) != 0 ||
                text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
                continue;
            std::string number = text.substr(head.size(), text.size() - head.size() - tail.size());
            if (number.find_first_not_of("-0123456789") == std::string::npos) return true;
        }
        return false;
    }

private:
    void LoadDir(const std::string& dir, const char* pattern) {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((dir + "\\" + pattern).c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return;
        do LoadFile(tstest::ReadBytes(dir + "\\" + found.cFileName));
        while (FindNextFileA(find, &found));
        FindClose(find);
    }
    void LoadFile(const std::string& src) {
        size_t i = 0, n = src.size();
        while (i < n) {
            if (src.compare(i, 2, "//") == 0) {
                i = src.find('\n', i);
                if (i == std::string::npos) break;
            } else if (src.compare(i, 2, "/*") == 0) {
                i = src.find("*/", i + 2);
                if (i == std::string::npos) break;
                i += 2;
            } else if (src[i] == '\'') {
                for (++i; i < n && src[i] != '\''; ++i)
                    if (src[i] == '\\') ++i;
                ++i;
            } else if (src[i] == '"') {
                std::string literal;
                for (++i; i < n && src[i] != '"'; ++i) {
                    if (src[i] == '\\' && i + 1 < n) {
                        char e = src[++i];
                        literal += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
                    } else {
                        literal += src[i];
                    }
                }
                ++i;
                std::string gbk = Convert(literal, CP_UTF8, 936);
                m_texts.insert(gbk);
                if (gbk.find("%d") != std::string::npos) m_formats.push_back(gbk);
            } else {
                ++i;
            }
        }
    }
    std::set<std::string> m_texts;
    std::vector<std::string> m_formats;
};

const CKnownTexts& KnownTexts() {
    static CKnownTexts s_known;
    return s_known;
}

// The balloon text that a WM_COPYDATA of these bytes must show, as the shell
// holds it: the bytes up to the first zero, at most 255 of them, cut after the
// last whole GBK character.
std::wstring BalloonOf(const BYTE* data, size_t size) {
    size_t n = 0;
    while (n < size && n < 255 && data[n] != 0) ++n;
    size_t whole = 0;
    for (size_t step; whole < n && whole + (step = IsDBCSLeadByteEx(936, data[whole]) ? 2 : 1) <= n;) whole += step;
    if (whole == 0) return std::wstring();
    int chars = MultiByteToWideChar(936, 0, (const char*)data, (int)whole, nullptr, 0);
    std::wstring text((size_t)chars, L'\0');
    MultiByteToWideChar(936, 0, (const char*)data, (int)whole, &text[0], chars);
    return text;
}

// Waits for a visible balloon with exactly that text; the balloons seen last.
bool WaitBalloon(const std::wstring& text, std::vector<std::wstring>* seen, DWORD ms = 12000) {
    return WaitFor([&] {
        *seen = shelltray::BalloonsW();
        return std::find(seen->begin(), seen->end(), text) != seen->end();
    }, ms);
}

// ---------------------------------------------------------------------------
// The tool's state after an ordeal

// Alive, answering, no message box, no visible window, the main window still
// hidden, the tray icon still there.
void ExpectHealthy(CToolProcess& tool, const std::string& when) {
    ASSERT_TRUE(tool.Alive()) << when << ": the tool ended, exit code "
                              << [&] { DWORD c = 0; GetExitCodeProcess(tool.m_pi.hProcess, &c); return c; }();
    EXPECT_TRUE(tool.Responds()) << when;
    if (HWND box = tool.FindMessageBox()) {
        char text[512] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        ADD_FAILURE() << when << ": message box \"" << Utf8(text) << "\"";
    }
    for (HWND w : tool.TopWindows(true))
        if (w != tool.wnd) ADD_FAILURE() << when << ": visible window " << Describe(w);
    EXPECT_FALSE(IsWindowVisible(tool.wnd)) << when << ": the main window was shown";
    EXPECT_TRUE(tool.HasTrayIcon()) << when << ": the tray icon is gone";
}

// Top-level windows of the tool beyond those it had at the baseline. The key
// list's drop-down (class ComboLBox, a hidden top-level window) is part of
// the combo box; the 32-bit build's system makes it later than the 64-bit one.
std::vector<std::string> NewWindows(CToolProcess& tool, const std::vector<HWND>& baseline) {
    std::vector<std::string> extra;
    for (HWND w : tool.TopWindows(false)) {
        char cls[64] = {};
        GetClassNameA(w, cls, sizeof cls);
        if (strcmp(cls, "ComboLBox") == 0 && !IsWindowVisible(w)) continue;
        if (std::find(baseline.begin(), baseline.end(), w) == baseline.end()) extra.push_back(Describe(w));
    }
    return extra;
}
void ExpectNoNewWindows(CToolProcess& tool, const std::vector<HWND>& baseline, const std::string& when) {
    for (const std::string& w : NewWindows(tool, baseline)) ADD_FAILURE() << when << ": a new window " << w;
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        tstest::NewStore("hostile");
        SetFaultMode(nullptr);
    }
    void TearDown() override { SetFaultMode(nullptr); }
    // The environment a tool started now inherits: the stand-in in fault mode
    // with the seed (null: normal), its prompt answered with the right password.
    static void SetFaultMode(const char* seed) {
        SetEnvironmentVariableA("TOKENSIM_FAULTS", seed);
        SetEnvironmentVariableA("TOKENSIM_PIN", seed ? "123456" : nullptr);
    }
};

// ---------------------------------------------------------------------------
// 1. WM_COPYDATA from another process

TEST_F(Hostile, CopyDataOfAnySizeAndShapeShowsAtMostABalloonOf255Bytes) {
    std::mt19937 rng(Seed(1));
    CToolProcess tool;
    ASSERT_TRUE(tool.Start());
    ExpectHealthy(tool, "after start");
    std::vector<HWND> baseline = tool.TopWindows(false);

    static const DWORD kSizes[] = {0, 1, 2, 254, 255, 256, 257, 1023, 1024, 4095, 4096, 8192};
    const int kMessages = 600;
    // Shapes: 0 no data but a size (Wine's sender passes neither on), 1 no
    // data and no size, 2 data with size 0, 3 data of its size.
    int shapes[4] = {};
    size_t balloonsRead = 0, longest = 0;
    std::vector<BYTE> bytes;
    for (int i = 0; i < kMessages; ++i) {
        DWORD size = rng() % 2 ? kSizes[rng() % (sizeof kSizes / sizeof kSizes[0])] : rng() % 8193;
        bytes.assign(size ? size : 1, 0);
        for (BYTE& b : bytes) b = (BYTE)(1 + rng() % 255);   // never a zero byte
        int shape = (int)(rng() % 6);
        if (shape > 3) shape = 3;
        COPYDATASTRUCT cds = {};
        cds.dwData = (ULONG_PTR)Random64(rng);
        cds.lpData = shape < 2 ? nullptr : bytes.data();
        cds.cbData = shape == 0 ? 1 + rng() % 8192 : shape == 3 ? size : 0;
        ++shapes[shape];
        DWORD_PTR result = 0;
        WPARAM sender = rng() % 2 ? 0 : (WPARAM)Random64(rng);
        ASSERT_NE(0, SendMessageTimeoutA(tool.wnd, WM_COPYDATA, sender, (LPARAM)&cds, SMTO_ABORTIFHUNG, 10000, &result))
            << "message " << i << " shape " << shape << " size " << cds.cbData;
        if (i % 20 == 19) {
            for (const auto& text : shelltray::BalloonsW()) {
                ++balloonsRead;
                longest = std::max(longest, text.size());
                EXPECT_LE(text.size(), 255u) << "after message " << i;
            }
        }
    }
    ExpectHealthy(tool, "after the WM_COPYDATA storm");

    // Texts are shown whole up to 255 bytes, a longer one cut there.
    std::string longText;
    for (int i = 0; i < 4096; ++i) longText += (char)('!' + i % 94);
    std::string shortText = "来自另一进程的通知";
    for (const std::string* text : {&longText, &shortText}) {
        COPYDATASTRUCT cds = {7, (DWORD)text->size(), (void*)text->data()};   // no terminator sent
        DWORD_PTR result = 0;
        ASSERT_NE(0, SendMessageTimeoutA(tool.wnd, WM_COPYDATA, 0, (LPARAM)&cds, SMTO_ABORTIFHUNG, 10000, &result));
        std::string shown = text->substr(0, 255);
        EXPECT_TRUE(WaitFor([&] { return shelltray::BalloonShown(shown); }, 12000))
            << "balloon of " << text->size() << " bytes";
    }
    // Texts of any bytes, and one whose 255th byte begins a character: the
    // balloon holds the whole characters of the first 255 bytes. Each text
    // differs from the one before, which cannot stand for it.
    for (int i = 0; i < 3; ++i) {
        bytes.assign(300 + rng() % 4000, 0);
        for (BYTE& b : bytes) b = (BYTE)(0x80 + rng() % 0x80);
        if (i == 2)
            for (size_t at = 0; at + 1 < bytes.size(); at += 2) memcpy(&bytes[at], "\xBC\xD7", 2);   // 甲...
        COPYDATASTRUCT cds = {9, (DWORD)bytes.size(), bytes.data()};
        DWORD_PTR result = 0;
        ASSERT_NE(0, SendMessageTimeoutA(tool.wnd, WM_COPYDATA, 0, (LPARAM)&cds, SMTO_ABORTIFHUNG, 10000, &result));
        const std::wstring expected = BalloonOf(bytes.data(), bytes.size());
        ASSERT_GE(expected.size(), i == 2 ? 127u : 1u);
        std::vector<std::wstring> shown;
        EXPECT_TRUE(WaitBalloon(expected, &shown))
            << "balloon of " << bytes.size() << " bytes (" << i << "): " << shown.size()
            << " balloons up, none with the whole characters of its first 255 bytes";
        for (const auto& text : shown) {
            ++balloonsRead;
            longest = std::max(longest, text.size());
            EXPECT_LE(text.size(), 255u) << "balloon of " << bytes.size() << " random bytes";
        }
    }
    ExpectHealthy(tool, "after the exact texts");
    ExpectNoNewWindows(tool, baseline, "after WM_COPYDATA");
    printf("[ hostile  ] WM_COPYDATA: %d messages sent (%d without data but with a size, %d without data, %d with "
           "data and size 0, %d with data), then 5 texts up to their balloons; %u balloon texts read, the longest "
           "%u characters\n",
           kMessages, shapes[0], shapes[1], shapes[2], shapes[3], (unsigned)balloonsRead, (unsigned)longest);
    EXPECT_TRUE(tool.Quit());
    EXPECT_FALSE(tool.HasTrayIcon()) << "the icon outlived the tool";
}

// ---------------------------------------------------------------------------
// 2. WM_USER+5, notification by index

TEST_F(Hostile, NotificationIndexesOfEveryKindPostedAndSentInThousands) {
    std::mt19937 rng(Seed(2));
    CToolProcess tool;
    ASSERT_TRUE(tool.Start());
    ExpectHealthy(tool, "after start");
    std::vector<HWND> baseline = tool.TopWindows(false);
    auto index = [&]() -> WPARAM {
        switch (rng() % 4) {
        case 0: return rng() % 21;                                      // a notification's index
        case 1: return 21 + rng() % 1000;                               // just beyond
        case 2: return (WPARAM)(-(INT_PTR)(1 + rng() % 1000));          // negative
        default: return (WPARAM)Random64(rng);                          // anything
        }
    };
    const int kPosted = 3000, kSent = 2000;
    int valid = 0, refused = 0;
    for (int i = 0; i < kPosted; ++i) {
        WPARAM w = index();
        valid += w <= 20;
        if (!PostMessageA(tool.wnd, WM_USER + 5, w, (LPARAM)Random64(rng))) ++refused;
    }
    for (int i = 0; i < kSent; ++i) {
        WPARAM w = index();
        valid += w <= 20;
        DWORD_PTR result = 1;
        ASSERT_NE(0, SendMessageTimeoutA(tool.wnd, WM_USER + 5, w, (LPARAM)Random64(rng), SMTO_ABORTIFHUNG, 10000,
                                         &result))
            << "message " << i << " index " << (unsigned long long)w;
        EXPECT_EQ(0u, result);
    }
    EXPECT_TRUE(tool.WaitPostedHandled(60000)) << "the posted notifications were not all handled";
    ExpectHealthy(tool, "after the notification storm");
    ExpectNoNewWindows(tool, baseline, "after the notification storm");
    for (const auto& text : shelltray::BalloonsW()) EXPECT_LE(text.size(), 255u);
    // Still shows what it is asked to.
    PostMessageA(tool.wnd, WM_USER + 5, 13, 0);
    EXPECT_TRUE(WaitFor([&] { return shelltray::BalloonShown("导入证书完成!"); }, 12000));
    printf("[ hostile  ] WM_USER+5: %d posted (%d refused by the system), %d sent; %d of them valid indexes\n", kPosted,
           refused, kSent, valid);
    EXPECT_TRUE(tool.Quit());
}

// ---------------------------------------------------------------------------
// 3. The stand-in library in fault mode, driven through the pages

// Copies the files of one store folder into another.
void CopyStore(const std::string& from, const std::string& to) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((from + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            CopyFileA((from + "\\" + found.cFileName).c_str(), (to + "\\" + found.cFileName).c_str(), FALSE);
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

// What one run saw: actions taken, message boxes by text.
struct CRunLog {
    std::map<std::string, int> actions;
    std::map<std::string, int> boxes;
    int boxCount = 0;
    int strayWindows = 0;
};

// Lets the tool finish what it was asked, answering its message boxes as a
// user would (Yes or No at random where it asks): each text must be one of
// its own. Ends when two rounds of posted messages pass without a box.
void Settle(CToolProcess& tool, std::mt19937& rng, CRunLog& log, const std::string& when) {
    ASSERT_TRUE(WaitFor([&] { return tool.Control(IDC_EDIT_PFXPATH, IDC_EDIT_PFXPATH) != nullptr; }, 15000))
        << when << ": the pages never appeared";
    for (int quiet = 0, round = 0; quiet < 2; ++round) {
        ASSERT_LT(round, 200) << when << ": message boxes without end";
        ASSERT_TRUE(tool.Alive()) << when << ": the tool ended";
        ASSERT_TRUE(tool.WaitPostedHandled(20000)) << when << ": the tool hangs";
        HWND box = tool.FindMessageBox();
        for (HWND w : tool.TopWindows(true)) {
            if (w == tool.wnd || w == box) continue;
            ADD_FAILURE() << when << ": visible window " << Describe(w);
            ++log.strayWindows;
            PostMessageA(w, WM_CLOSE, 0, 0);
        }
        if (!box) {
            ++quiet;
            continue;
        }
        quiet = 0;
        char text[1024] = {}, caption[256] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        GetWindowTextA(box, caption, sizeof caption);
        ++log.boxCount;
        ++log.boxes[text];
        EXPECT_TRUE(KnownTexts().Knows(text))
            << when << ": a message that is not the tool's: \"" << Utf8(text) << "\" (" << tstest::Hex(text) << ")";
        EXPECT_TRUE(KnownTexts().Knows(caption)) << when << ": caption \"" << Utf8(caption) << "\"";
        int button = GetDlgItem(box, IDYES) ? (rng() % 4 ? IDYES : IDNO) : IDOK;
        PostMessageA(box, WM_COMMAND, button, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }, 10000)) << when << ": a box that does not close";
    }
}

// Fills an edit of the tool (GBK text).
void SetText(HWND edit, const std::string& text) {
    DWORD_PTR result = 0;
    if (edit) SendMessageTimeoutA(edit, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG, 5000, &result);
}

// Clicks a button as a user could: only an enabled one.
bool Click(HWND button) {
    if (!button || !IsWindowEnabled(button)) return false;
    return PostMessageA(button, BM_CLICK, 0, 0) != FALSE;
}

// One user action, chosen at random; returns its name.
std::string RandomAction(CToolProcess& tool, std::mt19937& rng) {
    static const char* const kPasswords[] = {"123456", "654321", "1234", "abcdef12", "13579246810",
                                             "密码甲乙丙", "0123456789876543"};
    static const char* const kLabels[] = {"新标签", "K", "十五字节的标签X", "", "label-too-long-for-a-key"};
    const size_t kNP = sizeof kPasswords / sizeof kPasswords[0], kNL = sizeof kLabels / sizeof kLabels[0];
    switch (rng() % 12) {
    case 11:   // the count the library gives may differ each time: a settle sleep, a new listing
        PostMessageA(tool.wnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        return "device change";
    case 0:
        PostMessageA(tool.wnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, BN_CLICKED),
                     (LPARAM)GetDlgItem(tool.wnd, IDC_BTN_REFRESH));
        return "refresh";
    case 1:
        tool.ClickTab((int)(rng() % 4));
        return "tab";
    case 2: {
        std::vector<HTREEITEM> items = tool.TreeItems();
        if (items.empty()) return "tree (empty)";
        tool.SelectTreeItem(items[rng() % items.size()]);
        return "tree";
    }
    case 3: {
        HWND combo = GetDlgItem(tool.wnd, IDC_KEYLIST);
        int n = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
        int pick = (int)(rng() % (unsigned)(n + 2)) - 1;   // -1 .. n
        SendMessageA(combo, CB_SETCURSEL, (WPARAM)pick, 0);
        PostMessageA(tool.wnd, WM_COMMAND, MAKEWPARAM(IDC_KEYLIST, CBN_SELCHANGE), (LPARAM)combo);
        return "key list";
    }
    case 4: return Click(tool.Control(IDC_CERTTREE, IDC_BTN_VIEW)) ? "view" : "view (disabled)";
    case 5: return Click(tool.Control(IDC_CERTTREE, IDC_BTN_REGISTER)) ? "register" : "register (disabled)";
    case 6: return Click(tool.Control(IDC_CERTTREE, IDC_BTN_DELETE)) ? "delete" : "delete (disabled)";
    case 7: {
        const char* fresh = kPasswords[rng() % kNP];
        SetText(tool.Control(IDC_BTN_CHGPWD, IDC_EDIT_OLDPWD), kPasswords[rng() % kNP]);
        SetText(tool.Control(IDC_BTN_CHGPWD, IDC_EDIT_NEWPWD), fresh);
        SetText(tool.Control(IDC_BTN_CHGPWD, IDC_EDIT_CONFIRMPWD), rng() % 4 ? fresh : kPasswords[rng() % kNP]);
        return Click(tool.Control(IDC_BTN_CHGPWD, IDC_BTN_CHGPWD)) ? "password" : "password (disabled)";
    }
    case 8: {
        static const char* const kFiles[] = {"signing-legacy.pfx", "zhangsan.p12", "nokey.p12", "notpfx.p12"};
        std::string path = rng() % 5 ? tstest::DataFile(kFiles[rng() % 4]) : "Z:\\no\\such\\file.pfx";
        SetText(tool.Control(IDC_BTN_IMPORT, IDC_EDIT_PFXPATH), path);
        SetText(tool.Control(IDC_BTN_IMPORT, IDC_EDIT_PFXPWD), rng() % 3 ? "123456" : "wrong");
        return Click(tool.Control(IDC_BTN_IMPORT, IDC_BTN_IMPORT)) ? "import" : "import (disabled)";
    }
    case 9:
        SetText(tool.Control(IDC_BTN_SETWEB, IDC_EDIT_LABEL), kLabels[rng() % kNL]);
        return Click(tool.Control(IDC_BTN_SETWEB, IDC_BTN_CHGLABEL)) ? "label" : "label (disabled)";
    case 10: {
        HWND check = tool.Control(IDC_BTN_SETWEB, IDC_CHK_WEBPOPUP);
        if (check) PostMessageA(check, BM_SETCHECK, rng() % 2 ? BST_CHECKED : BST_UNCHECKED, 0);
        return Click(tool.Control(IDC_BTN_SETWEB, IDC_BTN_SETWEB)) ? "web pop-up" : "web pop-up (disabled)";
    }
    }
    return "none";
}

TEST_F(Hostile, FaultyLibraryAnswersOnlyEverShowTheToolsOwnMessages) {
    ASSERT_GT(KnownTexts().Size(), 50u) << "the tool's sources were not found under " << QRVL_SOURCE_DIR;
    ASSERT_TRUE(KnownTexts().Knows("读USBKEY错误！"));
    ASSERT_TRUE(KnownTexts().Knows("用户密码不正确！还有3次可试机会。"));
    ASSERT_FALSE(KnownTexts().Knows("读USBKEY错误"));

    // Two keys: certificates of both key specifications, an incomplete container,
    // a web pop-up file. Each seed starts from a copy of this store.
    const std::string prepared = tstest::NewStore("hostile-prepared");
    ASSERT_EQ(0u, Tokensim("create alpha --label 甲KEY"));
    ASSERT_EQ(0u, Tokensim("add-cert alpha c1 1 " + tstest::DataFile("zhangsan.der")));
    ASSERT_EQ(0u, Tokensim("add-cert alpha c2 2 " + tstest::DataFile("signing.der")));
    ASSERT_EQ(0u, Tokensim("add-container alpha half --flags 4"));
    ASSERT_EQ(0u, Tokensim("set-webfile alpha https://ebank.quorvel-bank.example/"));
    ASSERT_EQ(0u, Tokensim("create beta --label 乙KEY --tries 3"));
    ASSERT_EQ(0u, Tokensim("add-cert beta b1 1 " + tstest::DataFile("zhangsan.der")));
    ASSERT_EQ(0u, Tokensim("insert alpha"));
    ASSERT_EQ(0u, Tokensim("insert beta"));
    // Viewing a certificate and the web pop-up go to the logger, not to a
    // program of the system that might show windows of its own.
    InstallShellLogger();

    // QRVL_HOSTILE_FAULT_SEEDS=<n> runs the seeds 1 to n (6 by default) for a longer search.
    char seedsText[16] = {};
    unsigned seeds = 6;
    if (GetEnvironmentVariableA("QRVL_HOSTILE_FAULT_SEEDS", seedsText, sizeof seedsText) > 0)
        seeds = (unsigned)strtoul(seedsText, nullptr, 0);
    const int kActions = 40;
    for (unsigned faultSeed = 1; faultSeed <= seeds; ++faultSeed) {
        SCOPED_TRACE("TOKENSIM_FAULTS=" + std::to_string(faultSeed));
        std::mt19937 rng(Seed(100 + faultSeed));
        CopyStore(prepared, tstest::NewStore("hostile-faults"));
        SetFaultMode(std::to_string(faultSeed).c_str());
        CToolProcess tool;
        bool started = tool.Start();
        SetFaultMode(nullptr);
        ASSERT_TRUE(started);
        DWORD begin = GetTickCount();
        CRunLog log;
        Settle(tool, rng, log, "start");
        if (HasFatalFailure()) return;
        std::vector<HWND> baseline = tool.TopWindows(false);
        for (int step = 0; step < kActions; ++step) {
            std::string action = RandomAction(tool, rng);
            ++log.actions[action];
            Settle(tool, rng, log, "step " + std::to_string(step) + " (" + action + ")");
            if (HasFatalFailure()) return;
        }
        // The run reached the library: buttons were enabled and clicked, the
        // tool answered, and some answers were the library's faults.
        int clicks = 0, faults = 0;
        for (const char* button : {"view", "register", "delete", "password", "import", "label", "web pop-up"})
            clicks += log.actions.count(button) ? log.actions[button] : 0;
        for (const auto& b : log.boxes)
            for (const char* failed : {"错误", "失败", "出错"})
                if (b.first.find(failed) != std::string::npos) {
                    faults += b.second;
                    break;
                }
        EXPECT_GE(clicks, 5) << "enabled buttons clicked";
        EXPECT_GE(log.boxCount, 5) << "message boxes";
        EXPECT_GE(faults, 3) << "failures told";
        ExpectHealthy(tool, "after the run");
        ExpectNoNewWindows(tool, baseline, "after the run");
        EXPECT_TRUE(tool.Quit()) << "the tool did not end when asked";
        printf("[ hostile  ] TOKENSIM_FAULTS=%u: %d actions (%d clicks on enabled buttons), %d message boxes (%d "
               "failures told) in %lu ms\n",
               faultSeed, kActions, clicks, log.boxCount, faults, (unsigned long)(GetTickCount() - begin));
        std::string actions;
        for (const auto& a : log.actions) actions += " " + a.first + " x" + std::to_string(a.second) + ";";
        printf("[ hostile  ]   actions:%s\n", actions.c_str());
        for (const auto& b : log.boxes) printf("[ hostile  ]   box x%d: %s\n", b.second, Utf8(b.first).c_str());
    }
}

// ---------------------------------------------------------------------------
// 4. Device-change storms around real insertions and removals

struct CStormLog {
    int posted = 0, sent = 0, refused = 0;
};

// count WM_DEVICECHANGE: most posted DBT_DEVNODES_CHANGED with any lParam;
// sent ones; arrivals and removals with a null lParam or a header of random
// content (Wine copies dbch_size bytes in the sender: the size stays within
// the header's buffer, a larger one would only read past the sender's own
// memory); other event types.
// A storm that takes longer than kStormMs fails: the tool would be waiting
// out its settle time on changes that changed nothing.
void DeviceStorm(CToolProcess& tool, std::mt19937& rng, int count, CStormLog& log) {
    const DWORD kStormMs = 20000;
    DWORD start = GetTickCount();
    BYTE header[64];
    for (int i = 0; i < count; ++i) {
        ASSERT_LT(GetTickCount() - start, kStormMs) << "message " << i << " of " << count;
        WPARAM event = DBT_DEVNODES_CHANGED;
        LPARAM data = (LPARAM)Random64(rng);
        bool send = false;
        switch (rng() % 10) {
        case 0: case 1: case 2: case 3: break;
        case 4: send = true; break;
        case 5: case 6: {
            event = rng() % 2 ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
            send = true;
            if (rng() % 2) {
                data = 0;
            } else {
                for (BYTE& b : header) b = (BYTE)rng();
                ((DEV_BROADCAST_HDR*)header)->dbch_size = rng() % (sizeof header + 1);
                data = (LPARAM)header;
            }
            break;
        }
        case 7:   // the system refuses to post these (they carry a pointer)
            event = rng() % 2 ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
            data = rng() % 2 ? 0 : data;
            break;
        default: {
            static const WPARAM kOthers[] = {0, DBT_QUERYCHANGECONFIG, DBT_CONFIGCHANGED, DBT_CONFIGCHANGECANCELED,
                                             DBT_DEVTYP_VOLUME};
            event = rng() % 3 ? kOthers[rng() % 5] : (WPARAM)(rng() % 0x8000);
            send = rng() % 2 != 0;
            break;
        }
        }
        if (send) {
            DWORD_PTR result = 0;
            ASSERT_NE(0, SendMessageTimeoutA(tool.wnd, WM_DEVICECHANGE, event, data, SMTO_ABORTIFHUNG, 10000, &result))
                << "event " << event;
            ++log.sent;
        } else if (PostMessageA(tool.wnd, WM_DEVICECHANGE, event, data)) {
            ++log.posted;
        } else {
            ++log.refused;
        }
    }
}

TEST_F(Hostile, DeviceChangeStormsAroundRealInsertionsEndWithExactlyTheInsertedKeys) {
    std::mt19937 rng(Seed(4));
    struct KeyName {
        const char* name;
        const char* label;
    };
    static const KeyName kKeys[] = {{"alpha", "甲KEY"}, {"beta", "乙KEY"}, {"gamma", "丙KEY"}};
    for (const KeyName& k : kKeys) {
        tstest::CKeySpec spec;
        spec.name = k.name;
        spec.label = k.label;
        spec.inserted = false;
        spec.containers = 1;
        ASSERT_NE(0u, tstest::MakeKey(spec));
    }
    CToolProcess tool;
    ASSERT_TRUE(tool.Start());
    DWORD begin = GetTickCount();
    ExpectHealthy(tool, "after start");
    std::vector<HWND> baseline = tool.TopWindows(false);

    static const char* const kSteps[] = {"insert alpha", "insert beta", "remove alpha",
                                         "insert gamma", "remove beta", "insert alpha"};
    std::vector<std::string> inserted;   // labels in listing order
    CStormLog log;
    for (const char* step : kSteps) {
        SCOPED_TRACE(step);
        DeviceStorm(tool, rng, 300, log);
        if (HasFatalFailure()) return;
        ASSERT_EQ(0u, Tokensim(step));
        DeviceStorm(tool, rng, 300, log);
        if (HasFatalFailure()) return;
        const char* name = strchr(step, ' ') + 1;
        for (const KeyName& k : kKeys) {
            if (strcmp(k.name, name) != 0) continue;
            if (strncmp(step, "insert", 6) == 0)
                inserted.push_back(k.label);
            else
                inserted.erase(std::find(inserted.begin(), inserted.end(), std::string(k.label)));
        }
        EXPECT_TRUE(WaitFor([&] { return tool.Labels() == inserted; }, 15000)) << tool.Labels().size() << " keys listed";
    }
    DeviceStorm(tool, rng, 1000, log);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(tool.WaitPostedHandled(60000));
    EXPECT_EQ(inserted, tool.Labels());
    std::vector<std::string> tree = tool.Tree();
    ASSERT_FALSE(tree.empty());
    EXPECT_EQ(inserted.front(), tree.front());
    ExpectHealthy(tool, "after the storms");
    ExpectNoNewWindows(tool, baseline, "after the storms");
    printf("[ hostile  ] WM_DEVICECHANGE: %d posted, %d sent, %d refused by the system to post; %u real insertions "
           "and removals; %lu ms\n",
           log.posted, log.sent, log.refused, (unsigned)(sizeof kSteps / sizeof kSteps[0]),
           (unsigned long)(GetTickCount() - begin));
    EXPECT_TRUE(tool.Quit());
}

}  // namespace

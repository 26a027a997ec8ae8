// The real tool (bin\QuorvelUSBKEY.exe) with the stand-in token library,
// driven from this process as a user and a key would: tokensim inserts and
// removes keys, and the tool's windows are read and clicked from outside.
#include "tests/support/ShellLog.h"
#include "tests/tokensim/TokensimTestSupport.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <wincrypt.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kTitle[] = "QuorvelUSBKEY管理工具";

std::string BinPath(const char* exe) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    *strrchr(path, '\\') = 0;
    return std::string(path) + "\\" + exe;
}

template <class Pred> bool WaitFor(Pred pred, DWORD ms = 15000) {
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > ms) return pred();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(50);
    }
    return true;
}

struct FindChild {
    int id;
    HWND found;
};
BOOL CALLBACK FindChildProc(HWND wnd, LPARAM param) {
    auto* f = (FindChild*)param;
    if (GetDlgCtrlID(wnd) == f->id) {
        f->found = wnd;
        return FALSE;
    }
    return TRUE;
}

// A running QuorvelUSBKEY.exe and its windows, seen from outside.
class Tool {
public:
    ~Tool() {
        if (m_pi.hProcess) {
            if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_pi.hProcess, 1);
            CloseHandle(m_pi.hProcess);
            CloseHandle(m_pi.hThread);
        }
    }
    bool Start() {
        m_pi = Launch();
        return m_pi.hProcess && WaitFor([&] { return (wnd = MainWindowOf(m_pi.dwProcessId)) != nullptr; });
    }
    static PROCESS_INFORMATION Launch() {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::string exe = BinPath("QuorvelUSBKEY.exe");
        CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        return pi;
    }
    static HWND MainWindowOf(DWORD pid) {
        HWND w = nullptr;
        while ((w = FindWindowExA(nullptr, w, "#32770", kTitle)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == pid) return w;
        }
        return nullptr;
    }
    // The control with the id on the page that holds the control uniqueId.
    HWND Control(int uniqueId, int id) {
        FindChild f = {uniqueId, nullptr};
        EnumChildWindows(wnd, FindChildProc, (LPARAM)&f);
        return f.found ? GetDlgItem(GetParent(f.found), id) : nullptr;
    }
    std::vector<std::string> Labels() {
        std::vector<std::string> labels;
        HWND combo = GetDlgItem(wnd, IDC_KEYLIST);
        int n = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < n; ++i) {
            wchar_t text[128] = {};
            SendMessageW(combo, CB_GETLBTEXT, i, (LPARAM)text);
            char gbk[256] = {};
            WideCharToMultiByte(936, 0, text, -1, gbk, sizeof gbk, nullptr, nullptr);
            labels.push_back(gbk);
        }
        return labels;
    }
    // Root and children of the certificate tree, read through the tool's memory.
    std::vector<std::string> Tree() {
        std::vector<std::string> texts;
        HWND tree = Control(IDC_CERTTREE, IDC_CERTTREE);
        HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, m_pi.dwProcessId);
        if (!tree || !process) return texts;
        BYTE* remote = (BYTE*)VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
        auto read = [&](HTREEITEM item) {
            TVITEMA tv = {};
            tv.mask = TVIF_TEXT;
            tv.hItem = item;
            tv.pszText = (char*)(remote + 512);
            tv.cchTextMax = 256;
            WriteProcessMemory(process, remote, &tv, sizeof tv, nullptr);
            SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)remote);
            char text[256] = {};
            ReadProcessMemory(process, remote + 512, text, sizeof text - 1, nullptr);
            texts.push_back(text);
        };
        HTREEITEM root = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        if (root) {
            read(root);
            for (HTREEITEM c = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)root); c;
                 c = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)c))
                read(c);
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        CloseHandle(process);
        return texts;
    }
    bool Quit() {
        PostMessageA(wnd, WM_USER + 1, 0, 0);
        return WaitForSingleObject(m_pi.hProcess, 10000) == WAIT_OBJECT_0;
    }
    // Closes the tool's next message box and returns its text.
    std::string CloseMessageBox() {
        std::string text;
        WaitFor([&] {
            HWND w = nullptr;
            while ((w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr) {
                DWORD owner = 0;
                GetWindowThreadProcessId(w, &owner);
                if (owner == m_pi.dwProcessId && w != wnd && IsWindowVisible(w) && GetDlgItem(w, 0xFFFF)) {
                    char t[256] = {};
                    GetDlgItemTextA(w, 0xFFFF, t, sizeof t);
                    text = t;
                    PostMessageA(w, WM_COMMAND, IDOK, 0);
                    return true;
                }
            }
            return false;
        });
        return text;
    }
    HWND wnd = nullptr;
    PROCESS_INFORMATION m_pi = {};
};

bool StoreHolds(const char* subject) {
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    bool found = false;
    for (PCCERT_CONTEXT c = nullptr; !found && (c = CertEnumCertificatesInStore(store, c)) != nullptr;) {
        char name[256] = {};
        CertGetNameStringA(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof name);
        if (strcmp(name, subject) == 0) {
            found = true;
            CertFreeCertificateContext(c);
        }
    }
    CertCloseStore(store, 0);
    return found;
}

std::wstring Wide(const std::string& gbk) {
    wchar_t w[512] = {};
    MultiByteToWideChar(936, 0, gbk.c_str(), -1, w, 512);
    return w;
}

DWORD Tokensim(const std::string& args, std::string* out = nullptr) { return tstest::RunTool(Wide(args).c_str(), out); }

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

// The test rig itself: Wine runs with code page 936, so GBK texts survive a
// round trip through a real window.
#include "tests/support/RemotePage.h"
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>

TEST(Rig, AnsiCodePageIs936) {
    EXPECT_EQ(936u, GetACP());
}

TEST(Rig, GbkCaptionReadsBackByteForByte) {
    // "QuorvelUSBKEY管理工具" spelled as GBK bytes, independent of how the
    // compiler converts literals.
    const char caption[] = "QuorvelUSBKEY\xB9\xDC\xC0\xED\xB9\xA4\xBE\xDF";
    HWND wnd = CreateWindowExA(0, "STATIC", caption, WS_POPUP, 0, 0, 100, 20,
                               nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, wnd);
    char back[64] = {};
    int n = GetWindowTextA(wnd, back, sizeof back);
    DestroyWindow(wnd);
    EXPECT_EQ(static_cast<int>(strlen(caption)), n);
    EXPECT_STREQ(caption, back);
}

TEST(Rig, SourceLiteralsAreGbk) {
    // Sources are UTF-8; the compiler stores narrow literals as GBK.
    EXPECT_STREQ("\xB9\xDC\xC0\xED", "管理");
}

// Messages whose lParam points into another process, as the journeys send
// them to the tool: a child process of this program holds a tree view, and
// its item's text is read through a page shared with it. Reading the
// child's memory directly does not work everywhere (the 32-bit Wine under
// qemu-user refuses it); the shared page must.
namespace {

const char kChildFlag[] = "--tree-child";
const char kItemText[] = "\xD6\xA4\xCA\xE9";   // "证书"

int RunTreeChild() {
    InitCommonControls();
    HWND tree = CreateWindowExA(0, WC_TREEVIEWA, "rig-tree-child", WS_POPUP, 0, 0, 100, 100, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    TVINSERTSTRUCTA ins = {};
    ins.hParent = TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = (char*)kItemText;
    SendMessageA(tree, TVM_INSERTITEMA, 0, (LPARAM)&ins);
    SetWindowTextA(tree, "rig-tree-ready");
    for (DWORD start = GetTickCount(); GetTickCount() - start < 20000 && IsWindow(tree);) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(10);
    }
    return 0;
}

}  // namespace

TEST(Rig, AnotherProcessFillsASharedPage) {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    char cmd[MAX_PATH + 32] = {};
    snprintf(cmd, sizeof cmd, "\"%s\" %s", exe, kChildFlag);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(exe, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    HWND tree = nullptr;
    for (int i = 0; i < 400 && !tree; ++i, Sleep(50)) tree = FindWindowA(WC_TREEVIEWA, "rig-tree-ready");
    ASSERT_NE(nullptr, tree);

    // The direct way, for the record: it works or not depending on the machine.
    HANDLE process = OpenProcess(PROCESS_VM_READ, FALSE, pi.dwProcessId);
    char probe = 0;
    BOOL direct = process && ReadProcessMemory(process, GetModuleHandleA(nullptr), &probe, 1, nullptr);
    if (direct)
        printf("reading another process's memory directly: works\n");
    else
        printf("reading another process's memory directly: refused (error %lu)\n", GetLastError());
    if (process) CloseHandle(process);

    {
        remote::CRemotePage page(pi.dwProcessId);
        ASSERT_TRUE(page.Ok());
        HTREEITEM item = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        TVITEMA tv = {};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = (char*)page.At(256);
        tv.cchTextMax = 64;
        ASSERT_TRUE(page.Write(0, &tv, sizeof tv));
        EXPECT_TRUE(SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)page.At(0)));
        char text[65] = {};
        ASSERT_TRUE(page.Read(256, text, 64));
        EXPECT_STREQ(kItemText, text);
        EXPECT_FALSE(page.Read(page.Size() - 1, text, 2));   // past the end
    }
    PostMessageA(tree, WM_CLOSE, 0, 0);
    DestroyWindow(tree);
    TerminateProcess(pi.hProcess, 0);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], kChildFlag) == 0) return RunTreeChild();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

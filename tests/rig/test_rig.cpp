// The test rig itself: Wine runs with code page 936, so GBK texts survive a
// round trip through a real window.
#include <windows.h>
#include <gtest/gtest.h>
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

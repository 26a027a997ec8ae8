// Not a test: drives the real tool with a simulated key through the views the
// README shows and saves each as a 24-bit BMP in the folder given as the first
// argument (tests/screenshots/make-screenshots.sh turns them into PNG).
//   main-<n>.bmp  the main window on the tab n (0..3)
//   balloon.bmp   the tray and the balloon of a key being inserted
#include "res/resource.h"
#include "tests/screenshots/ScreenShot.h"
#include "tests/support/ToolProcess.h"
#include "tests/tokensim/TokensimTestSupport.h"
#include <windows.h>
#include <cstdio>
#include <string>

using namespace e2e;

namespace {

HWND VisibleWindowOfClass(const char* cls) {
    for (HWND w = FindWindowExA(nullptr, nullptr, cls, nullptr); w; w = FindWindowExA(nullptr, w, cls, nullptr))
        if (IsWindowVisible(w)) return w;
    return nullptr;
}

int Fail(const char* what) {
    fprintf(stderr, "screenshot_driver: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return Fail("usage: screenshot_driver OUTDIR");
    std::string out = argv[1];
    if (Tokensim("create demo --label 演示KEY --pin 123456") != 0 ||
        Tokensim("add-cert demo 张三的证书 1 " + tstest::DataFile("zhangsan.der")) != 0 ||
        Tokensim("add-cert demo signing 2 " + tstest::DataFile("signing.der")) != 0 ||
        Tokensim("create spare --label 备用KEY") != 0 || Tokensim("insert demo") != 0)
        return Fail("tokensim could not prepare the keys");

    CToolProcess tool;
    if (!tool.Start()) return Fail("the tool did not start");
    if (!WaitFor([&] { return tool.Labels().size() == 1; })) return Fail("the key is not listed");
    // In the middle of the screen, shown as a click on the tray icon shows it.
    RECT rc = {};
    GetWindowRect(tool.wnd, &rc);
    SetWindowPos(tool.wnd, nullptr, (1280 - (rc.right - rc.left)) / 2, 200, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    PostMessageA(tool.wnd, WM_USER + 2, SW_SHOW, 0);
    if (!WaitFor([&] { return IsWindowVisible(tool.wnd) != FALSE; })) return Fail("the window did not show");

    for (int tab = 0; tab < 4; ++tab) {
        if (!tool.ClickTab(tab)) return Fail("a tab did not answer the click");
        if (tab == 0) {
            auto items = tool.TreeItems();
            if (items.size() > 1) tool.SelectTreeItem(items[1]);
        }
        WaitFor([] { return false; }, 700);   // let it paint
        char name[32];
        snprintf(name, sizeof name, "\\main-%d.bmp", tab);
        if (!SaveScreen(Around(tool.wnd, 0), out + name)) return Fail("could not save a screenshot");
    }

    // The balloon of the second key's insertion, with the tray it points at.
    PostMessageA(tool.wnd, WM_USER + 2, SW_HIDE, 0);
    if (Tokensim("insert spare") != 0) return Fail("tokensim could not insert the second key");
    HWND balloon = nullptr;
    if (!WaitFor([&] { return (balloon = VisibleWindowOfClass("tooltips_class32")) != nullptr; }))
        return Fail("no balloon");
    WaitFor([] { return false; }, 1000);
    RECT shot = Around(balloon, 2);
    HWND tray = FindWindowA("__winex11_standalone_tray", nullptr);
    if (tray && IsWindowVisible(tray)) {
        RECT trayRect = Around(tray, 2);
        UnionRect(&shot, &shot, &trayRect);
    }
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&shot, &shot, &screen);
    if (!SaveScreen(shot, out + "\\balloon.bmp")) return Fail("could not save the balloon");
    tool.Quit();
    return 0;
}

// The yardstick of the tool's start-up: a static exe that makes a hidden
// dialog from a one-control template in memory and runs its loop, ending on
// WM_USER+1 as the tool does.
#include <windows.h>
#include <cstddef>

static INT_PTR CALLBACK Proc(HWND dlg, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_USER + 1) {
        DestroyWindow(dlg);
        PostQuitMessage(0);
        return TRUE;
    }
    return msg == WM_INITDIALOG;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // DLGTEMPLATE, no menu, the default class, a title, one static control.
    // The item must start on a DWORD: 18 + 2 + 2 + 13 * 2 = 48 bytes before it.
    struct alignas(4) {
        DLGTEMPLATE dlg;
        WORD menu, cls;
        WCHAR title[13];
        DLGITEMTEMPLATE item;
        WORD itemClass[2];
        WCHAR itemText[2];
        WORD extra;
    } t = {};
    t.dlg.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    t.dlg.cdit = 1;
    t.dlg.cx = 200;
    t.dlg.cy = 100;
    lstrcpynW(t.title, L"QRVL minimal", 13);
    t.item.style = WS_CHILD | WS_VISIBLE;
    t.item.x = 10;
    t.item.y = 10;
    t.item.cx = 100;
    t.item.cy = 10;
    t.item.id = 1;
    t.itemClass[0] = 0xFFFF;
    t.itemClass[1] = 0x0082;   // static
    t.itemText[0] = L'x';
    static_assert(offsetof(decltype(t), item) == 48, "template layout");
    HWND dlg = CreateDialogIndirectA(instance, &t.dlg, nullptr, Proc);
    if (!dlg) return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(dlg, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return 0;
}

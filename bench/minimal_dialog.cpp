// The yardstick of the tool's start-up: what any tray dialog has to do, and
// nothing of the tool's own. A static exe with the same manifest (common
// controls 6) that makes a hidden dialog from a template in memory, in the
// tool's font, with a tab control, a drop-down combo box and a tree view with
// a 16 x 16 image list of one icon, adds a tray icon and runs its loop, ending
// on WM_USER+1 as the tool does.
//
// With a command line of DLL names separated by spaces it loads them first:
// bench_tool starts it so to see what loading them at start costs.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <cstring>

namespace {

const UINT kTrayMessage = WM_USER + 4;
NOTIFYICONDATAA g_nid;
HIMAGELIST g_images;

// A DLGTEMPLATE written word by word: items start on a DWORD.
struct CTemplate {
    alignas(4) WORD words[512];
    int n = 0;
    void Word(WORD w) { words[n++] = w; }
    void Text(const wchar_t* s) {
        do Word((WORD)*s); while (*s++);
    }
    void Align() {
        if (n % 2) Word(0);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, const wchar_t* cls, WORD atom) {
        Align();
        DLGITEMTEMPLATE item = {WS_CHILD | WS_VISIBLE | style, 0, x, y, cx, cy, id};
        memcpy(words + n, &item, sizeof item);
        n += sizeof item / sizeof(WORD);
        if (cls) {
            Text(cls);
        } else {
            Word(0xFFFF);
            Word(atom);
        }
        Word(0);   // no text
        Word(0);   // no creation data
    }
};

INT_PTR CALLBACK Proc(HWND dlg, UINT msg, WPARAM, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: {
        HINSTANCE inst = GetModuleHandleA(nullptr);
        HICON icon = LoadIconA(inst, MAKEINTRESOURCEA(1));
        g_images = ImageList_Create(16, 16, ILC_MASK | ILC_COLOR32, 1, 1);
        HICON small = (HICON)LoadImageA(inst, MAKEINTRESOURCEA(1), IMAGE_ICON, 16, 16, 0);
        ImageList_AddIcon(g_images, small);
        DestroyIcon(small);
        SendDlgItemMessageA(dlg, 3, TVM_SETIMAGELIST, TVSIL_NORMAL, (LPARAM)g_images);
        TCITEMA tab = {};
        tab.mask = TCIF_TEXT;
        tab.pszText = (char*)"tab";
        SendDlgItemMessageA(dlg, 1, TCM_INSERTITEMA, 0, (LPARAM)&tab);
        g_nid.cbSize = NOTIFYICONDATAA_V2_SIZE;
        g_nid.hWnd = dlg;
        g_nid.uID = 1;
        g_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        g_nid.uCallbackMessage = kTrayMessage;
        g_nid.hIcon = icon;
        Shell_NotifyIconA(NIM_ADD, &g_nid);
        return TRUE;
    }
    case WM_USER + 1:
        Shell_NotifyIconA(NIM_DELETE, &g_nid);
        DestroyWindow(dlg);
        PostQuitMessage(0);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int) {
    for (char* name = cmdLine; name && *name;) {
        char* end = name;
        while (*end && *end != ' ') ++end;
        char save = *end;
        *end = 0;
        if (*name && !LoadLibraryA(name)) return 2;
        *end = save;
        name = *end ? end + 1 : end;
    }
    InitCommonControls();
    CTemplate t;
    DLGTEMPLATE dlg = {DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 3, 0, 0, 256, 270};
    memcpy(t.words, &dlg, sizeof dlg);
    t.n = sizeof dlg / sizeof(WORD);
    t.Word(0);   // no menu
    t.Word(0);   // the dialog class
    t.Text(L"QRVL minimal");
    t.Word(9);
    t.Text(L"宋体");
    t.Item(WS_TABSTOP, 7, 96, 243, 167, 1, L"SysTabControl32", 0);
    t.Item(CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 74, 71, 109, 128, 2, nullptr, 0x0085);
    t.Item(TVS_HASBUTTONS | TVS_HASLINES | WS_BORDER | WS_TABSTOP, 10, 120, 235, 122, 3, L"SysTreeView32", 0);
    HWND wnd = CreateDialogIndirectA(instance, (DLGTEMPLATE*)t.words, nullptr, Proc);
    if (!wnd) return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(wnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    ImageList_Destroy(g_images);
    return 0;
}

#include "tests/support/TestSupport.h"
#include "framework/Framework.h"
#include <cstring>

// The tool registers the common controls at start; so do the test programs.
static const bool s_commonControls = [] {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_TREEVIEW_CLASSES};
    return InitCommonControlsEx(&icc) != FALSE;
}();

void PumpMessages(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!AfxPreTranslateMessage(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        if (ms) Sleep(5);
    } while (GetTickCount() - start < ms);
}

namespace {
thread_local MsgBoxCatcher* t_catcher = nullptr;

bool HasChildOfClass(HWND parent, const char* cls) {
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char name[64] = {};
        GetClassNameA(c, name, sizeof name);
        if (lstrcmpiA(name, cls) == 0) return true;
    }
    return false;
}

bool IsMessageBox(HWND wnd) {
    char cls[16] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (strcmp(cls, "#32770") != 0) return false;
    if (CWnd::FromHandlePermanent(wnd)) return false;          // one of the tool's dialogs
    return GetDlgItem(wnd, 0xFFFF) != nullptr && !HasChildOfClass(wnd, "Edit");
}
}  // namespace

MsgBoxCatcher::MsgBoxCatcher() : m_prev(t_catcher) {
    t_catcher = this;
    m_hook = SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
}

MsgBoxCatcher::~MsgBoxCatcher() {
    UnhookWindowsHookEx(m_hook);
    t_catcher = m_prev;
}

std::string MsgBoxCatcher::Texts() const {
    std::string all;
    for (const auto& b : boxes) all += b.text + "\n";
    return all;
}

LRESULT CALLBACK MsgBoxCatcher::CbtProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && t_catcher && IsMessageBox((HWND)wParam))
        t_catcher->OnActivate((HWND)wParam);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void MsgBoxCatcher::OnActivate(HWND box) {
    if (GetPropA(box, "qrvl.answered")) return;   // activated again
    SetPropA(box, "qrvl.answered", (HANDLE)1);
    CapturedBox b;
    b.owner = GetWindow(box, GW_OWNER);
    char text[1024] = {};
    GetWindowTextA(box, text, sizeof text);
    b.caption = text;
    text[0] = 0;
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    b.text = text;
    HICON icon = (HICON)SendDlgItemMessageA(box, 1088, STM_GETICON, 0, 0);
    struct { LPCSTR id; const char* name; } icons[] = {
        {IDI_WARNING, "warning"}, {IDI_INFORMATION, "information"},
        {IDI_ERROR, "error"}, {IDI_QUESTION, "question"}};
    if (icon)
        for (const auto& i : icons)
            if (icon == LoadIconA(nullptr, i.id)) b.icon = i.name;
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO})
        if (GetDlgItem(box, id)) b.buttons.push_back(id);
    int answer;
    if (!m_answers.empty()) {
        answer = m_answers.front();
        m_answers.pop_front();
    } else if (GetDlgItem(box, IDOK)) {
        answer = IDOK;
    } else if (GetDlgItem(box, IDNO)) {
        answer = IDNO;
    } else {
        answer = IDCANCEL;
    }
    b.answer = answer;
    if (onBox) onBox(b);
    boxes.push_back(b);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(b.answer, BN_CLICKED), (LPARAM)GetDlgItem(box, b.answer));
}

TestHost::TestHost() : hwnd(nullptr), wnd(new CWnd) {
    static ATOM atom = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = TestHost::Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QrvlTestHost";
        wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
        return RegisterClassA(&wc);
    }();
    (void)atom;
    hwnd = CreateWindowExA(0, "QrvlTestHost", "host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 600,
                           500, nullptr, nullptr, GetModuleHandleA(nullptr), this);
    wnd->Attach(hwnd);
}

TestHost::~TestHost() {
    wnd->Detach();
    delete wnd;
    DestroyWindow(hwnd);
}

int TestHost::Count(UINT message, WPARAM wParam) const {
    int n = 0;
    for (const auto& m : received)
        if (m.message == message && m.wParam == wParam) ++n;
    return n;
}

int TestHost::Count(UINT message) const {
    int n = 0;
    for (const auto& m : received)
        if (m.message == message) ++n;
    return n;
}

LRESULT CALLBACK TestHost::Proc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
        SetWindowLongPtrA(h, GWLP_USERDATA, (LONG_PTR)((CREATESTRUCTA*)lParam)->lpCreateParams);
    auto* self = (TestHost*)GetWindowLongPtrA(h, GWLP_USERDATA);
    if (self && (message == WM_COMMAND || message == WM_KEYDOWN || message == WM_KEYUP ||
                 (message >= WM_USER && message < 0x8000))) {
        MSG m = {};
        m.hwnd = h;
        m.message = message;
        m.wParam = wParam;
        m.lParam = lParam;
        self->received.push_back(m);
    }
    return DefWindowProcA(h, message, wParam, lParam);
}

#include "tests/support/TestSupport.h"
#include "framework/Framework.h"
#include <cstring>

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
    boxes.push_back(b);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)GetDlgItem(box, answer));
}

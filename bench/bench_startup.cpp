// Not a test: where the tool's start-up time goes, step by step, in a fresh
// process that runs the tool's own start-up (the steps of
// CToolApp::InitInstance, the real main window from its template, its modal
// loop) and times it from outside the product's code: window hooks of this
// thread mark when the main window is created, when WM_CREATE (the tray
// icon) returns, when WM_INITDIALOG begins and returns, when the key list is
// first refreshed, and when the modal loop takes its first message; then,
// apart from the start-up's total, the four pages made just after it.
//
// Built twice, like bench_refresh: with the stand-in library and with the
// in-process test double; the difference is the library's share. The settle
// pause of the first device check is set to zero here (the tool waits 1.0 s).
//   bench_startup_<lib>.exe nokey|onekey
// Prints one "step_<name>_ms value" line per step.
#include "app/DlgMain.h"
#include "app/ToolApp.h"
#include "bench/Counters.h"
#include "devices/DeviceChange.h"
#include "res/resource.h"
#include <cstdio>
#include <cstring>
#ifdef QRVL_BENCH_DOUBLE
#include "tests/fake/FakeToken.h"
#else
#include "tests/tokensim/TokensimTestSupport.h"
#endif

extern CToolApp theApp;

namespace {

enum Mark {
    kBegin,
    kRunningCopy,     // the search for a running copy is done
    kCommonControls,  // InitCommonControls and the framework's initialisation
    kObject,          // the main window object is constructed (its icon loaded)
    kCreateWindow,    // the main window is being created
    kCreated,         // WM_CREATE returned: the tray icon is added
    kInitBegin,       // WM_INITDIALOG begins: the template's controls exist
    kRefreshBegin,    // the key list is emptied: the first refresh begins
    kInitDone,        // WM_INITDIALOG returned
    kLoop,            // the modal loop took its first message
    kLaterBegin,      // the pages' timer comes: they are made
    kLaterDone,       // the last of them is made
    kMarks
};
double g_at[kMarks];
HWND g_main, g_tab;
const UINT kLoopMarker = WM_APP + 77;

void Stamp(Mark m) {
    if (g_at[m] == 0) g_at[m] = Now();
}

// With QRVL_BENCH_TRACE set: every window created, with its class and the
// time since the start, on stderr.
bool g_trace;

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        auto* cs = ((CBT_CREATEWNDA*)lParam)->lpcs;
        if (g_trace)
            fprintf(stderr, "%8.2f ms  create %s\n", (Now() - g_at[kBegin]) * 1e3,
                    IS_INTRESOURCE(cs->lpszClass) ? "#atom" : cs->lpszClass);
        bool dialog = cs->lpszClass == WC_DIALOG;
        if (dialog && !cs->hwndParent) {
            g_main = (HWND)wParam;
            Stamp(kCreateWindow);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK CallHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* m = (CWPSTRUCT*)lParam;
    if (g_trace && (m->message == WM_SETFOCUS || m->message == WM_IME_SETCONTEXT || m->message == WM_SHOWWINDOW ||
                    m->message == WM_ACTIVATE || m->message == WM_SIZE || m->message == WM_ENABLE))
        fprintf(stderr, "%8.2f ms  message %04x to %p\n", (Now() - g_at[kBegin]) * 1e3, m->message, (void*)m->hwnd);
    if (m->hwnd == g_main && m->message == WM_INITDIALOG) {
        Stamp(kInitBegin);
        g_tab = GetDlgItem(g_main, IDC_TAB);
    } else if (m->message == CB_RESETCONTENT && g_main && m->hwnd == GetDlgItem(g_main, IDC_KEYLIST)) {
        Stamp(kRefreshBegin);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

int g_pagesInitialised;
LRESULT CALLBACK RetHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* m = (CWPRETSTRUCT*)lParam;
    if (m->hwnd == g_main && m->message == WM_CREATE) Stamp(kCreated);
    if (m->hwnd == g_main && m->message == WM_INITDIALOG) Stamp(kInitDone);
    if (m->message == WM_INITDIALOG && g_tab && GetParent(m->hwnd) == g_tab) {
        if (++g_pagesInitialised == 4) {
            Stamp(kLaterDone);
            PostMessageA(g_main, WM_QRVL_QUIT, 0, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK GetMsgHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* m = (MSG*)lParam;
    if (code == HC_ACTION && wParam == PM_REMOVE && !m->hwnd && m->message == kLoopMarker) {
        Stamp(kLoop);
        SetTimer(nullptr, 0, 10000, nullptr);   // ends the run should the pages never come
    } else if (code == HC_ACTION && wParam == PM_REMOVE && m->hwnd == g_main && m->message == WM_TIMER &&
               m->wParam == CDlgMain::kPagesTimer) {
        Stamp(kLaterBegin);
    } else if (code == HC_ACTION && wParam == PM_REMOVE && !m->hwnd && m->message == WM_TIMER) {
        PostMessageA(g_main, WM_QRVL_QUIT, 0, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool MakeKey() {
#ifdef QRVL_BENCH_DOUBLE
    g_fake.AddKeysWithCertificates(1, 2, "zhangsan.der");
    return true;
#else
    tstest::CKeySpec spec;
    spec.name = "demo";
    spec.label = "demo";
    spec.containers = 2;
    return tstest::MakeKey(spec) != 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    bool key = argc > 1 && strcmp(argv[1], "onekey") == 0;
#ifndef QRVL_BENCH_DOUBLE
    tstest::NewStore(key ? "bench-startup-key" : "bench-startup");
#endif
    if (key && !MakeKey()) {
        fprintf(stderr, "bench_startup: could not make the key\n");
        return 1;
    }
    g_deviceSettleMs = 0;
    g_trace = GetEnvironmentVariableA("QRVL_BENCH_TRACE", nullptr, 0) > 0;
    DWORD thread = GetCurrentThreadId();
    HHOOK hooks[] = {SetWindowsHookExA(WH_CBT, CbtHook, nullptr, thread),
                     SetWindowsHookExA(WH_CALLWNDPROC, CallHook, nullptr, thread),
                     SetWindowsHookExA(WH_CALLWNDPROCRET, RetHook, nullptr, thread),
                     SetWindowsHookExA(WH_GETMESSAGE, GetMsgHook, nullptr, thread)};

    // The steps of CToolApp::InitInstance, each timed.
    Stamp(kBegin);
    if (ActivateRunningCopy(2000) != kNoRunningCopy) return 1;
    Stamp(kRunningCopy);
    ::InitCommonControls();
    theApp.CWinApp::InitInstance();
    Stamp(kCommonControls);
    {
        CDlgMain dlg;
        Stamp(kObject);
        theApp.m_pMainWnd = &dlg;
        PostThreadMessageA(thread, kLoopMarker, 0, 0);
        dlg.DoModal();
        theApp.m_pMainWnd = nullptr;
    }
    for (HHOOK h : hooks) UnhookWindowsHookEx(h);

    static const char* const names[kMarks] = {
        nullptr,        "running_copy", "common_controls", "object",   "create_window", "wm_create",
        "template",     "init_device_check", "refresh",    "to_loop",   nullptr,        nullptr};
    // A mark that was never reached (no refresh without a key) takes the
    // time of the next one: its step reads 0.
    for (int m = kLoop - 1; m > kBegin; --m)
        if (g_at[m] == 0) g_at[m] = g_at[m + 1];
    if (g_at[kLoop] == 0) {
        fprintf(stderr, "bench_startup: the modal loop was not reached\n");
        return 1;
    }
    if (g_at[kLaterDone] == 0) {
        fprintf(stderr, "bench_startup: the later pages were not made\n");
        return 1;
    }
    for (int m = kBegin + 1; m <= kLoop; ++m) printf("step_%s_ms %.3f\n", names[m], (g_at[m] - g_at[m - 1]) * 1e3);
    printf("step_total_ms %.3f\n", (g_at[kLoop] - g_at[kBegin]) * 1e3);
    printf("step_later_pages_ms %.3f\n", (g_at[kLaterDone] - g_at[kLaterBegin]) * 1e3);
    return 0;
}

// The application object, the process entry and the PreTranslateMessage walk.
#include "framework/Framework.h"
#include "framework/FrameworkInternal.h"
#include <cstdarg>
#include <cstdio>

namespace {
CWinApp* g_pApp = nullptr;
char g_appName[MAX_PATH];   // the exe's name, when the application has none
}  // namespace

CWinApp::CWinApp(const char* appName)
    : m_hInstance(nullptr), m_pMainWnd(nullptr), m_pszAppName(appName) {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() {
    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0 && got != -1) {
        if (!AfxPreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return got == 0 ? (int)msg.wParam : -1;
}

CWinApp* AfxGetApp() { return g_pApp; }

CWnd* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd : nullptr; }

HINSTANCE AfxGetInstanceHandle() {
    if (g_pApp && g_pApp->m_hInstance) return g_pApp->m_hInstance;
    return GetModuleHandleA(nullptr);
}

const char* AfxAppName() {
    if (g_pApp && g_pApp->m_pszAppName) return g_pApp->m_pszAppName;
    if (!g_appName[0]) {
        char path[MAX_PATH] = {};
        DWORD len = GetModuleFileNameA(AfxGetInstanceHandle(), path, sizeof path);
        if (len >= sizeof path) len = sizeof path - 1;
        path[len] = '\0';
        const char* name = path;
        for (const char* p = path; *p; p = CharNextA(p))
            if (*p == '\\' || *p == '/') name = p + 1;
        lstrcpynA(g_appName, name, sizeof g_appName);
        char* dot = nullptr;
        for (char* p = g_appName; *p; p = CharNextA(p))
            if (*p == '.') dot = p;
        if (dot) *dot = '\0';
    }
    return g_appName;
}

BOOL AfxPreTranslateMessage(MSG* msg) {
    if (!msg->hwnd) return FALSE;
    CWnd* main = AfxGetMainWnd();
    HWND stop = main ? main->m_hWnd : nullptr;
    for (HWND hWnd = msg->hwnd; hWnd; hWnd = ::GetParent(hWnd)) {
        CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
        if (wnd && wnd->PreTranslateMessage(msg)) return TRUE;
        if (hWnd == stop) return FALSE;
    }
    // Input of a window outside the main window's family: the main window
    // still has its say.
    if (main && stop && ::IsWindow(msg->hwnd)) return main->PreTranslateMessage(msg);
    return FALSE;
}

int AfxWinMain(HINSTANCE instance) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    app->m_hInstance = instance;
    if (!app->m_pszAppName) app->m_pszAppName = AfxAppName();
    if (!app->InitInstance()) return 0;
    return app->Run();
}

int AfxFormatText(char* out, size_t size, const char* format, ...) {
    if (!out || size == 0) return -1;
    va_list args;
    va_start(args, format);
    // The C library's own formatter: the compiler's C99 one would bring its
    // floating-point conversions into the exe for a few %d and %s. It gives
    // -1, or size without a NUL, when the text does not fit.
    int n = _vsnprintf(out, size, format, args);
    va_end(args);
    out[size - 1] = '\0';
    return n < 0 || (size_t)n >= size ? -1 : n;
}

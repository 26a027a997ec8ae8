// Window objects: the handle map, the framework's window procedure and the
// message-map dispatch.
#include "framework/Framework.h"
#include "framework/FrameworkInternal.h"

#include <map>

namespace {

// HWND -> window object of every attached window. The tool has one
// user-interface thread; the map is used from it alone.
std::map<HWND, CWnd*>& WndMap() {
    static std::map<HWND, CWnd*> s_map;
    return s_map;
}

// Window creation hook: the next window created on this thread is attached
// to g_pWndInit and subclassed before its first message.
thread_local CWnd* g_pWndInit = nullptr;
thread_local HHOOK g_hHookCbt = nullptr;
thread_local int g_nHookDepth = 0;   // creations nest (pages made in OnInitDialog)

LRESULT CALLBACK CbtFilterHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && g_pWndInit) {
        HWND hWnd = reinterpret_cast<HWND>(wParam);
        // Input-method windows may be created on the way; they are not ours.
        char cls[8] = {};
        GetClassNameA(hWnd, cls, sizeof cls);
        if (!(GetClassLongPtrA(hWnd, GCL_STYLE) & CS_IME) && lstrcmpiA(cls, "ime") != 0) {
            CWnd* wnd = g_pWndInit;
            g_pWndInit = nullptr;
            wnd->SubclassWindow(hWnd);
        }
    }
    return CallNextHookEx(g_hHookCbt, code, wParam, lParam);
}

// Does message map entry e handle this message?
bool Matches(const AFX_MSGMAP_ENTRY& e, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (e.registered) return msg != 0 && *e.registered == msg;
    if (e.message != msg) return false;
    if (msg == WM_COMMAND) return e.code == HIWORD(wParam) && e.id == LOWORD(wParam);
    if (msg == WM_NOTIFY) {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
        return hdr && e.code == hdr->code && e.id == (UINT)hdr->idFrom;
    }
    return true;
}

}  // namespace

void AfxHookWindowCreate(CWnd* wnd) {
    if (g_nHookDepth++ == 0)
        g_hHookCbt = SetWindowsHookExA(WH_CBT, CbtFilterHook, nullptr, GetCurrentThreadId());
    g_pWndInit = wnd;
}

void AfxUnhookWindowCreate() {
    g_pWndInit = nullptr;
    if (--g_nHookDepth == 0 && g_hHookCbt) {
        UnhookWindowsHookEx(g_hHookCbt);
        g_hHookCbt = nullptr;
    }
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
    if (!wnd) return DefWindowProcA(hWnd, msg, wParam, lParam);

    MSG saved = wnd->m_currentMsg;   // messages nest (SendMessage inside a handler)
    wnd->m_currentMsg.hwnd = hWnd;
    wnd->m_currentMsg.message = msg;
    wnd->m_currentMsg.wParam = wParam;
    wnd->m_currentMsg.lParam = lParam;
    LRESULT result = wnd->WindowProc(msg, wParam, lParam);
    wnd->m_currentMsg = saved;

    if (msg == WM_NCDESTROY && CWnd::FromHandlePermanent(hWnd) == wnd) {
        // Last message of the window: let go of the object.
        wnd->Detach();
        wnd->PostNcDestroy();   // may delete the object
    }
    return result;
}

CWnd::CWnd() : m_hWnd(nullptr), m_pfnSuper(nullptr), m_currentMsg() {}

CWnd::~CWnd() {
    // An object that dies before its window leaves the window working.
    Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (!hWnd) return nullptr;
    auto& map = WndMap();
    auto it = map.find(hWnd);
    return it == map.end() ? nullptr : it->second;
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd || FromHandlePermanent(hWnd)) return FALSE;
    WndMap()[hWnd] = this;
    m_hWnd = hWnd;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    if (hWnd) {
        // A window without its object gets its own procedure back.
        if (m_pfnSuper && ::IsWindow(hWnd) &&
            GetWindowLongPtrA(hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(AfxWndProc))
            SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        auto& map = WndMap();
        auto it = map.find(hWnd);
        if (it != map.end() && it->second == this) map.erase(it);
    }
    m_hWnd = nullptr;
    m_pfnSuper = nullptr;
    return hWnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!Attach(hWnd)) return FALSE;
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AfxWndProc)));
    if (!m_pfnSuper) {
        Detach();
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    if (!parent || !parent->m_hWnd) return FALSE;
    HWND item = ::GetDlgItem(parent->m_hWnd, (int)id);
    return item ? SubclassWindow(item) : FALSE;
}

BOOL CWnd::PreTranslateMessage(MSG* msg) {
    (void)msg;
    return FALSE;
}

LRESULT CWnd::Default() {
    return m_pfnSuper
        ? CallWindowProcA(m_pfnSuper, m_hWnd, m_currentMsg.message, m_currentMsg.wParam,
                          m_currentMsg.lParam)
        : DefWindowProcA(m_hWnd, m_currentMsg.message, m_currentMsg.wParam, m_currentMsg.lParam);
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
    return ::MessageBoxA(m_hWnd, text, caption ? caption : AfxAppName(), type);
}

void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnPaint() { Default(); }
void CWnd::OnNcPaint() { Default(); }
void CWnd::OnWindowPosChanging(WINDOWPOS*) { Default(); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnClose() { Default(); }

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = { { 0, 0, 0, nullptr, nullptr } };
    static const AFX_MSGMAP map = { nullptr, entries };
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    // Derived class's map first, then each base's; the first match handles it.
    for (const AFX_MSGMAP* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->entries; e->handler; ++e) {
            if (Matches(*e, msg, wParam, lParam)) {
                LRESULT result = 0;
                e->handler(this, wParam, lParam, &result);
                return result;
            }
        }
    }
    return m_pfnSuper ? CallWindowProcA(m_pfnSuper, m_hWnd, msg, wParam, lParam)
                      : DefWindowProcA(m_hWnd, msg, wParam, lParam);
}

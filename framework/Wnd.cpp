// Window objects: the handle map, the framework's window procedure and the
// message-map dispatch.
#include "framework/Framework.h"
#include "framework/FrameworkInternal.h"

namespace {

// HWND -> window object of every attached window: a table with open
// addressing, grown on the process heap. The tool has one user-interface
// thread; the table is used from it alone. (No standard container: the
// exe carries no C++ library and no exception support.)
struct CWndSlot {
    HWND hWnd;      // nullptr: free
    CWnd* wnd;      // nullptr with a handle: removed, the probe goes on
};
CWndSlot* g_slots;
size_t g_slotCount, g_slotsUsed;   // table size (a power of two), slots with a handle

size_t SlotOf(HWND hWnd, size_t count) {
    size_t h = (size_t)(ULONG_PTR)hWnd;
    h ^= h >> 7;
    return (h * 2654435761u) & (count - 1);
}

CWndSlot* FindSlot(HWND hWnd) {
    if (!g_slots) return nullptr;
    for (size_t i = SlotOf(hWnd, g_slotCount);; i = (i + 1) & (g_slotCount - 1)) {
        if (g_slots[i].hWnd == hWnd) return &g_slots[i];
        if (!g_slots[i].hWnd) return nullptr;
    }
}

bool InsertSlot(HWND hWnd, CWnd* wnd) {
    if ((g_slotsUsed + 1) * 2 > g_slotCount) {
        // Twice the live entries (at least 64), removed ones dropped.
        size_t live = 0;
        for (size_t i = 0; i < g_slotCount; ++i) live += g_slots[i].wnd != nullptr;
        size_t count = 64;
        while (count < (live + 1) * 4) count *= 2;
        auto* slots = (CWndSlot*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * sizeof(CWndSlot));
        if (!slots) return false;
        for (size_t i = 0; i < g_slotCount; ++i) {
            if (!g_slots[i].wnd) continue;
            size_t j = SlotOf(g_slots[i].hWnd, count);
            while (slots[j].hWnd) j = (j + 1) & (count - 1);
            slots[j] = g_slots[i];
        }
        if (g_slots) HeapFree(GetProcessHeap(), 0, g_slots);
        g_slots = slots;
        g_slotCount = count;
        g_slotsUsed = live;
    }
    if (CWndSlot* slot = FindSlot(hWnd)) {   // a removed entry of the same handle
        slot->wnd = wnd;
        return true;
    }
    size_t i = SlotOf(hWnd, g_slotCount);
    while (g_slots[i].hWnd) i = (i + 1) & (g_slotCount - 1);
    g_slots[i].hWnd = hWnd;
    g_slots[i].wnd = wnd;
    ++g_slotsUsed;
    return true;
}

// Window creation hook: the next window created on this thread is attached
// to the thread's init window and subclassed before its first message.
// Per thread, in the system's thread-local slots.
struct CCreateHook {
    DWORD init = TlsAlloc();    // CWnd* to attach the next window to
    DWORD hook = TlsAlloc();    // HHOOK of the thread's creation hook
    DWORD depth = TlsAlloc();   // creations nest (a dialog making its controls or pages)
} g_createHook;

CWnd* HookInit() { return (CWnd*)TlsGetValue(g_createHook.init); }
void SetHookInit(CWnd* wnd) { TlsSetValue(g_createHook.init, wnd); }
HHOOK Hook() { return (HHOOK)TlsGetValue(g_createHook.hook); }
void SetHook(HHOOK hook) { TlsSetValue(g_createHook.hook, hook); }
INT_PTR Depth() { return (INT_PTR)TlsGetValue(g_createHook.depth); }
void SetDepth(INT_PTR depth) { TlsSetValue(g_createHook.depth, (void*)depth); }

LRESULT CALLBACK CbtFilterHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && HookInit()) {
        HWND hWnd = reinterpret_cast<HWND>(wParam);
        // Input-method windows may be created on the way; they are not ours.
        char cls[8] = {};
        GetClassNameA(hWnd, cls, sizeof cls);
        if (!(GetClassLongPtrA(hWnd, GCL_STYLE) & CS_IME) && lstrcmpiA(cls, "ime") != 0) {
            CWnd* wnd = HookInit();
            SetHookInit(nullptr);
            wnd->SubclassWindow(hWnd);
        }
    }
    return CallNextHookEx(Hook(), code, wParam, lParam);
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
    INT_PTR depth = Depth();
    SetDepth(depth + 1);
    if (depth == 0) SetHook(SetWindowsHookExA(WH_CBT, CbtFilterHook, nullptr, GetCurrentThreadId()));
    SetHookInit(wnd);
}

void AfxUnhookWindowCreate() {
    SetHookInit(nullptr);
    INT_PTR depth = Depth() - 1;
    SetDepth(depth);
    if (depth == 0 && Hook()) {
        UnhookWindowsHookEx(Hook());
        SetHook(nullptr);
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
    CWndSlot* slot = FindSlot(hWnd);
    return slot ? slot->wnd : nullptr;
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd || FromHandlePermanent(hWnd) || !InsertSlot(hWnd, this)) return FALSE;
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
        CWndSlot* slot = FindSlot(hWnd);
        if (slot && slot->wnd == this) slot->wnd = nullptr;   // the handle stays: probes go past it
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

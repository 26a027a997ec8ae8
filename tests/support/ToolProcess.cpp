#include "tests/support/ToolProcess.h"
#include "tests/support/RemotePage.h"
#include "res/resource.h"
#include "tests/tokensim/TokensimTestSupport.h"
#include <commctrl.h>
#include <shellapi.h>
#include <wincrypt.h>
#include <cstring>

namespace e2e {

const char kTitle[] = "QuorvelUSBKEY管理工具";

std::string BinPath(const char* exe) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (slash) *slash = 0;
    return std::string(path) + "\\" + exe;
}

std::wstring Wide(const std::string& gbk) {
    wchar_t w[1024] = {};
    MultiByteToWideChar(936, 0, gbk.c_str(), -1, w, 1024);
    return w;
}

DWORD Tokensim(const std::string& args, std::string* out) {
    return tstest::RunTool(Wide(args).c_str(), out);
}

bool StoreHolds(const char* subject) {
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    if (!store) return false;
    bool found = false;
    for (PCCERT_CONTEXT c = nullptr; !found && (c = CertEnumCertificatesInStore(store, c)) != nullptr;) {
        char name[256] = {};
        CertGetNameStringA(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof name);
        if (strcmp(name, subject) == 0) {
            found = true;
            CertFreeCertificateContext(c);
        }
    }
    CertCloseStore(store, 0);
    return found;
}

namespace {

struct FindChild {
    int id;
    HWND found;
};
BOOL CALLBACK FindChildProc(HWND wnd, LPARAM param) {
    auto* f = (FindChild*)param;
    if (GetDlgCtrlID(wnd) == f->id) {
        f->found = wnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

CToolProcess::~CToolProcess() {
    if (m_pi.hProcess) {
        if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_pi.hProcess, 1);
        CloseHandle(m_pi.hProcess);
        CloseHandle(m_pi.hThread);
    }
}

bool CToolProcess::Start() {
    m_pi = Launch();
    if (!m_pi.hProcess || !WaitFor([&] { return (wnd = MainWindowOf(m_pi.dwProcessId)) != nullptr; })) return false;
    // The tool makes its pages just after start-up, the certificate page last:
    // a tool without them has not started.
    return WaitFor([&] { return Control(IDC_CERTTREE, IDC_CERTTREE) != nullptr; });
}

PROCESS_INFORMATION CToolProcess::Launch() {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::string exe = BinPath("QuorvelUSBKEY.exe");
    CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    return pi;
}

HWND CToolProcess::MainWindowOf(DWORD pid, const char* title) {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "#32770", title)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid) return w;
    }
    return nullptr;
}

HWND CToolProcess::Control(int uniqueId, int id) {
    FindChild f = {uniqueId, nullptr};
    EnumChildWindows(wnd, FindChildProc, (LPARAM)&f);
    return f.found ? GetDlgItem(GetParent(f.found), id) : nullptr;
}

std::vector<std::string> CToolProcess::Labels() {
    std::vector<std::string> labels;
    HWND combo = GetDlgItem(wnd, IDC_KEYLIST);
    int n = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) {
        // Marshalled across processes only in the wide form.
        wchar_t text[128] = {};
        if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) >= 128) continue;
        SendMessageW(combo, CB_GETLBTEXT, i, (LPARAM)text);
        char gbk[256] = {};
        WideCharToMultiByte(936, 0, text, -1, gbk, sizeof gbk, nullptr, nullptr);
        labels.push_back(gbk);
    }
    return labels;
}

std::vector<HTREEITEM> CToolProcess::TreeItems() {
    std::vector<HTREEITEM> items;
    HWND tree = Control(IDC_CERTTREE, IDC_CERTTREE);
    if (!tree) return items;
    HTREEITEM root = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    if (!root) return items;
    items.push_back(root);
    for (HTREEITEM c = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)root); c;
         c = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)c))
        items.push_back(c);
    return items;
}

std::vector<std::string> CToolProcess::Tree() {
    std::vector<std::string> texts;
    HWND tree = Control(IDC_CERTTREE, IDC_CERTTREE);
    remote::CRemotePage page(m_pi.dwProcessId);
    if (!tree || !page.Ok()) return texts;
    const size_t kText = 512, kTextSize = 256;
    for (HTREEITEM item : TreeItems()) {
        TVITEMA tv = {};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = (char*)page.At(kText);
        tv.cchTextMax = (int)kTextSize;
        page.Write(0, &tv, sizeof tv);
        SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)page.At(0));
        char text[kTextSize + 1] = {};
        page.Read(kText, text, kTextSize);
        texts.push_back(text);
    }
    return texts;
}

bool CToolProcess::SelectTreeItem(HTREEITEM item) {
    HWND tree = Control(IDC_CERTTREE, IDC_CERTTREE);
    return tree && SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item) &&
           (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0) == item;
}

bool CToolProcess::ClickTab(int index) {
    HWND tab = GetDlgItem(wnd, IDC_TAB);
    remote::CRemotePage page(m_pi.dwProcessId);
    if (!tab || !page.Ok()) return false;
    RECT rc = {};
    if (!SendMessageA(tab, TCM_GETITEMRECT, index, (LPARAM)page.At(0)) || !page.Read(0, &rc, sizeof rc))
        return false;
    LPARAM at = MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    // Both halves queued together, so the tab sees a whole click.
    PostMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(tab, WM_LBUTTONUP, 0, at);
    return WaitFor([&] { return SendMessageA(tab, TCM_GETCURSEL, 0, 0) == index; }, 5000);
}

bool CToolProcess::Quit() {
    PostMessageA(wnd, WM_USER + 1, 0, 0);
    return WaitForSingleObject(m_pi.hProcess, 10000) == WAIT_OBJECT_0;
}

bool CToolProcess::Responds(DWORD ms) {
    DWORD_PTR result = 0;
    return IsWindow(wnd) && SendMessageTimeoutA(wnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, ms, &result) != 0;
}

HWND CToolProcess::FindMessageBox() {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == m_pi.dwProcessId && w != wnd && IsWindowVisible(w) && GetDlgItem(w, 0xFFFF)) return w;
    }
    return nullptr;
}

std::string CToolProcess::CloseMessageBox(int button, DWORD ms) {
    std::string text;
    WaitFor([&] {
        HWND box = FindMessageBox();
        if (!box) return false;
        char t[512] = {};
        GetDlgItemTextA(box, 0xFFFF, t, sizeof t);
        text = t;
        PostMessageA(box, WM_COMMAND, button, 0);
        return true;
    }, ms);
    return text;
}

// --- Watching the tool under load (hostile-input tests) ---

bool CToolProcess::Alive() {
    return m_pi.hProcess && WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT;
}

bool CToolProcess::WaitPostedHandled(DWORD ms) {
    HWND marker = Control(IDC_EDIT_PFXPATH, IDC_EDIT_PFXPATH);
    DWORD_PTR result = 0;
    if (!marker || !SendMessageTimeoutA(marker, EM_SETMODIFY, FALSE, 0, SMTO_ABORTIFHUNG, ms, &result))
        return false;
    if (!PostMessageA(marker, EM_SETMODIFY, TRUE, 0)) return false;
    // Polled more often than WaitFor does: callers settle the tool after every step.
    for (DWORD start = GetTickCount();;) {
        DWORD_PTR modified = 0;
        if (SendMessageTimeoutA(marker, EM_GETMODIFY, 0, 0, SMTO_ABORTIFHUNG, 1000, &modified) && modified)
            return true;
        if (GetTickCount() - start > ms) return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(5);
    }
}

namespace {
struct TopWindowSearch {
    DWORD pid;
    bool visibleOnly;
    std::vector<HWND> found;
};
BOOL CALLBACK CollectTopWindows(HWND w, LPARAM param) {
    auto* s = (TopWindowSearch*)param;
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == s->pid && (!s->visibleOnly || IsWindowVisible(w))) s->found.push_back(w);
    return TRUE;
}
}  // namespace

std::vector<HWND> CToolProcess::TopWindows(bool visibleOnly) {
    TopWindowSearch s = {m_pi.dwProcessId, visibleOnly, {}};
    EnumWindows(CollectTopWindows, (LPARAM)&s);
    return s.found;
}

bool CToolProcess::HasTrayIcon() {
    // A modification that changes nothing succeeds only for an icon the shell has.
    NOTIFYICONDATAA nid = {};
    nid.cbSize = NOTIFYICONDATAA_V2_SIZE;
    nid.hWnd = wnd;
    nid.uID = 1;
    return Shell_NotifyIconA(NIM_MODIFY, &nid) != FALSE;
}

// --- Answering the tool's boxes and prompts (journeys) ---

std::string CToolProcess::AnswerMessageBox(int button, std::string* caption, DWORD ms) {
    std::string text;
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = FindMessageBox()) != nullptr; }, ms)) return text;
    char t[512] = {};
    GetDlgItemTextA(box, 0xFFFF, t, sizeof t);
    text = t;
    if (caption) {
        char c[128] = {};
        GetWindowTextA(box, c, sizeof c);
        *caption = c;
    }
    PostMessageA(box, WM_COMMAND, button, 0);
    WaitFor([&] { return !IsWindow(box); }, ms);
    return text;
}

bool CToolProcess::AnswerPasswordPrompt(const char* password, DWORD ms) {
    static const char kPromptTitle[] = "USBKEY用户密码";
    const int kEdit = 102;
    HWND prompt = nullptr;
    bool found = WaitFor([&] {
        for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", kPromptTitle)) != nullptr;) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == m_pi.dwProcessId && IsWindowVisible(w)) {
                prompt = w;
                return true;
            }
        }
        return false;
    }, ms);
    if (!found) return false;
    SendDlgItemMessageA(prompt, kEdit, WM_SETTEXT, 0, (LPARAM)password);
    PostMessageA(prompt, WM_COMMAND, IDOK, 0);
    return WaitFor([&] { return !IsWindow(prompt); }, ms);
}

}  // namespace e2e

// Dialogs: creation from templates, the modal loop, the dialog keys and
// control binding.
#include "framework/Framework.h"
#include "framework/FrameworkInternal.h"

namespace {

// The dialog manager's procedure for our dialogs. The framework's window
// procedure sits in front of the dialog manager and handles what the maps
// handle, returning results straight to the sender; whatever reaches this
// procedure gets the dialog manager's default processing.
INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

}  // namespace

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_nIDHelp(templateId), m_pParentWnd(parent), m_bModalRunning(FALSE), m_nModalResult(-1) {}

CDialog::~CDialog() {
    if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

BOOL CDialog::CreateFromTemplate(UINT templateId, HWND parent) {
    if (m_hWnd) return FALSE;
    HINSTANCE inst = AfxGetInstanceHandle();
    if (!FindResourceA(inst, MAKEINTRESOURCEA(templateId), (LPCSTR)RT_DIALOG)) return FALSE;
    AfxHookWindowCreate(this);
    HWND hWnd = CreateDialogParamA(inst, MAKEINTRESOURCEA(templateId), parent, AfxDlgProc, 0);
    AfxUnhookWindowCreate();
    if (hWnd && m_hWnd != hWnd) {   // not caught by the hook: not a window of ours
        ::DestroyWindow(hWnd);
        return FALSE;
    }
    return hWnd != nullptr;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    m_nIDHelp = templateId;
    m_pParentWnd = parent;
    return CreateFromTemplate(templateId, parent ? parent->m_hWnd : nullptr);
}

INT_PTR CDialog::DoModal() {
    // Owner: the given parent's top-level window, else the main window.
    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!owner) {
        CWnd* main = AfxGetMainWnd();
        if (main && main != this) owner = main->m_hWnd;
    }
    if (owner) owner = ::IsWindow(owner) ? GetAncestor(owner, GA_ROOT) : nullptr;

    BOOL ownerDisabled = FALSE;
    if (owner && ::IsWindowEnabled(owner)) {
        ::EnableWindow(owner, FALSE);
        ownerDisabled = TRUE;
    }

    m_nModalResult = -1;
    m_bModalRunning = TRUE;   // EndDialog may come already from OnInitDialog
    if (!CreateFromTemplate(m_nIDHelp, owner)) {
        m_bModalRunning = FALSE;
        if (ownerDisabled) ::EnableWindow(owner, TRUE);
        return -1;
    }

    // A dialog the template left hidden is shown when the queue first runs dry.
    BOOL showAtIdle = !::IsWindowVisible(m_hWnd);
    while (m_bModalRunning && m_hWnd) {
        MSG msg;
        if (showAtIdle && !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
            ::UpdateWindow(m_hWnd);
            showAtIdle = FALSE;
        }
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {                 // WM_QUIT: leave it for the outer loop
            PostQuitMessage((int)msg.wParam);
            break;
        }
        if (got == -1) break;
        if (!AfxPreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    m_bModalRunning = FALSE;

    if (m_hWnd)
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    if (ownerDisabled) ::EnableWindow(owner, TRUE);
    if (owner && ::GetActiveWindow() == m_hWnd) ::SetActiveWindow(owner);
    if (m_hWnd) ::DestroyWindow(m_hWnd);
    return m_nModalResult;
}

void CDialog::EndDialog(int result) {
    m_nModalResult = result;
    if (m_bModalRunning) {
        m_bModalRunning = FALSE;
        if (m_hWnd) ::PostMessageA(m_hWnd, WM_NULL, 0, 0);   // wake the modal loop
    }
    if (m_hWnd) ::EndDialog(m_hWnd, result);   // hides the window
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    if (!m_hWnd || !msg->hwnd) return FALSE;
    bool key = msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST;
    bool mouse = msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST;
    if (!key && !mouse) return FALSE;
    if (msg->hwnd != m_hWnd && !::IsChild(m_hWnd, msg->hwnd)) return FALSE;
    return ::IsDialogMessageA(m_hWnd, msg);
}

LRESULT CDialog::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    // The result decides the focus: TRUE lets the dialog manager set it.
    if (msg == WM_INITDIALOG) return OnInitDialog();
    return CWnd::WindowProc(msg, wParam, lParam);
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.m_hWnd || !dx || !dx->m_pDlgWnd) return;
    control.SubclassDlgItem((UINT)id, dx->m_pDlgWnd);
}

// The tool's small application framework: exactly the classes and calls the
// tool uses, in the shape of the classic dialog framework (application object,
// dialogs run modally or created modelessly from templates, the
// PreTranslateMessage walk, control binding, message maps, common controls,
// menu, font, file dialog). ANSI throughout; texts are GBK.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

class CWnd;
class CDialog;
class CDataExchange;

// ---------------------------------------------------------------------------
// Message maps
//
// A class with a map declares DECLARE_MESSAGE_MAP() and defines the map with
// BEGIN_MESSAGE_MAP(Class, Base) ... END_MESSAGE_MAP(). The window procedure
// looks the message up in the class's map, then in its base's, and so on; the
// first match handles it. A message that no entry handles gets the default
// processing (the dialog manager for dialogs). A handled message's result
// goes straight back to its sender, for dialogs too (the framework's window
// procedure sits in front of the dialog manager; no DWLP_MSGRESULT needed).
// Dialogs are attached before their first message: WM_NCCREATE and
// WM_CREATE reach the map.

typedef void (*AFX_MSG_HANDLER)(CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result);

struct AFX_MSGMAP_ENTRY {
    UINT message;              // WM_xxx; 0 ends the table
    UINT code;                 // notification code (WM_COMMAND, WM_NOTIFY), else 0
    UINT id;                   // control or command id (WM_COMMAND, WM_NOTIFY), else 0
    const UINT* registered;    // for ON_REGISTERED_MESSAGE: the message's variable
    AFX_MSG_HANDLER handler;   // sets *result; *result is 0 unless the handler sets it
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* entries;
};

#define DECLARE_MESSAGE_MAP()                                          \
  protected:                                                           \
    static const AFX_MSGMAP* GetThisMessageMap();                      \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                         \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                \
        return GetThisMessageMap();                                    \
    }                                                                  \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                  \
        typedef theClass ThisClass;                                    \
        typedef baseClass TheBaseClass;                                \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                              \
            { 0, 0, 0, nullptr, nullptr }                              \
        };                                                             \
        static const AFX_MSGMAP map = { &TheBaseClass::GetThisMessageMap, entries }; \
        return &map;                                                   \
    }

#define AFX_SELF static_cast<ThisClass*>(self)
#define AFX_UNUSED_ARGS (void)self; (void)wParam; (void)lParam; (void)result

// WM_COMMAND with a notification code from control id: void fn()
#define ON_CONTROL(code, id, fn)                                                  \
    { WM_COMMAND, (UINT)(code), (UINT)(id), nullptr,                              \
      [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) {             \
          AFX_UNUSED_ARGS; AFX_SELF->fn(); } },
// Button clicks and menu commands both arrive with code 0.
#define ON_BN_CLICKED(id, fn)       ON_CONTROL(BN_CLICKED, id, fn)
#define ON_COMMAND(id, fn)          ON_CONTROL(0, id, fn)
#define ON_CBN_SELCHANGE(id, fn)    ON_CONTROL(CBN_SELCHANGE, id, fn)
// WM_NOTIFY with code from control id: void fn(NMHDR*, LRESULT*)
#define ON_NOTIFY(code, id, fn)                                                   \
    { WM_NOTIFY, (UINT)(code), (UINT)(id), nullptr,                               \
      [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) {             \
          AFX_UNUSED_ARGS; AFX_SELF->fn(reinterpret_cast<NMHDR*>(lParam), result); } },
// Any message: LRESULT fn(WPARAM, LPARAM)
#define ON_MESSAGE(msg, fn)                                                       \
    { (UINT)(msg), 0, 0, nullptr,                                                 \
      [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) {             \
          *result = AFX_SELF->fn(wParam, lParam); } },
// A message registered at run time (RegisterWindowMessage): LRESULT fn(WPARAM, LPARAM)
#define ON_REGISTERED_MESSAGE(var, fn)                                            \
    { 0xFFFFFFFFu, 0, 0, &(var),                                                  \
      [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) {             \
          *result = AFX_SELF->fn(wParam, lParam); } },

// Standard window messages with cracked arguments.
#define ON_WM_SYSCOMMAND()          { WM_SYSCOMMAND, 0, 0, nullptr, [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) { AFX_UNUSED_ARGS; AFX_SELF->OnSysCommand((UINT)wParam, lParam); } },
#define ON_WM_PAINT()               { WM_PAINT, 0, 0, nullptr, [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) { AFX_UNUSED_ARGS; AFX_SELF->OnPaint(); } },
#define ON_WM_NCPAINT()             { WM_NCPAINT, 0, 0, nullptr, [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) { AFX_UNUSED_ARGS; AFX_SELF->OnNcPaint(); } },
#define ON_WM_QUERYDRAGICON()       { WM_QUERYDRAGICON, 0, 0, nullptr, [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) { AFX_UNUSED_ARGS; *result = (LRESULT)AFX_SELF->OnQueryDragIcon(); } },
#define ON_WM_WINDOWPOSCHANGING()   { WM_WINDOWPOSCHANGING, 0, 0, nullptr, [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) { AFX_UNUSED_ARGS; AFX_SELF->OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(lParam)); } },
#define ON_WM_DEVICECHANGE()        { WM_DEVICECHANGE, 0, 0, nullptr, [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) { AFX_UNUSED_ARGS; *result = AFX_SELF->OnDeviceChange((UINT)wParam, (DWORD_PTR)lParam); } },
#define ON_WM_DESTROY()             { WM_DESTROY, 0, 0, nullptr, [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) { AFX_UNUSED_ARGS; AFX_SELF->OnDestroy(); } },
#define ON_WM_CLOSE()               { WM_CLOSE, 0, 0, nullptr, [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) { AFX_UNUSED_ARGS; AFX_SELF->OnClose(); } },
#define ON_WM_COPYDATA()            { WM_COPYDATA, 0, 0, nullptr, [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) { AFX_UNUSED_ARGS; *result = AFX_SELF->OnCopyData((HWND)wParam, reinterpret_cast<COPYDATASTRUCT*>(lParam)); } },
#define ON_WM_CREATE()              { WM_CREATE, 0, 0, nullptr, [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) { AFX_UNUSED_ARGS; *result = AFX_SELF->OnCreate(reinterpret_cast<CREATESTRUCTA*>(lParam)); } },
#define ON_WM_DRAWITEM()            { WM_DRAWITEM, 0, 0, nullptr, [](CWnd* self, WPARAM wParam, LPARAM lParam, LRESULT* result) { AFX_UNUSED_ARGS; AFX_SELF->OnDrawItem((int)wParam, reinterpret_cast<DRAWITEMSTRUCT*>(lParam)); *result = TRUE; } },

// ---------------------------------------------------------------------------
// Windows

class CWnd {
public:
    CWnd();
    virtual ~CWnd();

    HWND m_hWnd;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The window object that owns hWnd (attached or created by the framework),
    // or null.
    static CWnd* FromHandlePermanent(HWND hWnd);
    BOOL Attach(HWND hWnd);      // registers the object for hWnd
    HWND Detach();               // unregisters it (and undoes the subclassing)
    // Attach and route the control's messages through the framework's window
    // procedure (control binding); detaches itself when the window goes.
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    // Attach and route hWnd's messages through the framework's window procedure.
    BOOL SubclassWindow(HWND hWnd);

    // Called for every message before it is dispatched, from the focused
    // window up to the main window (see AfxPreTranslateMessage). TRUE = consumed.
    virtual BOOL PreTranslateMessage(MSG* msg);

    // Default processing of the message being handled now (the window's
    // original procedure: the dialog manager for dialogs).
    LRESULT Default();

    // Thin wrappers over the Win32 calls of the same names.
    BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    void SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }
    int GetWindowText(char* text, int size) const { return ::GetWindowTextA(m_hWnd, text, size); }
    int GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    void SetDlgItemText(int id, const char* text) { ::SetDlgItemTextA(m_hWnd, id, text); }
    UINT IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }
    HWND GetParent() const { return ::GetParent(m_hWnd); }
    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) { return ::SendMessageA(m_hWnd, msg, wParam, lParam); }
    BOOL PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) { return ::PostMessageA(m_hWnd, msg, wParam, lParam); }
    void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) { ::MoveWindow(m_hWnd, x, y, width, height, repaint); }
    LONG_PTR GetStyle() const { return ::GetWindowLongPtrA(m_hWnd, GWL_STYLE); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
    HICON SetIcon(HICON icon, BOOL big) { return (HICON)SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, (LPARAM)icon); }
    HMENU GetSystemMenu(BOOL revert) const { return ::GetSystemMenu(m_hWnd, revert); }
    HFONT GetFont() const { return (HFONT)::SendMessageA(m_hWnd, WM_GETFONT, 0, 0); }
    // The framework's message box: owner = this window; a null caption
    // shows the application's name.
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);

    // Default handlers that message-map entries of derived classes may call.
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    void OnNcPaint();
    void OnWindowPosChanging(WINDOWPOS* pos);
    void OnDestroy();
    void OnClose();

protected:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    // Dispatch through the message maps; unhandled messages go to Default().
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    virtual void PostNcDestroy() {}

    WNDPROC m_pfnSuper;          // original window procedure when subclassed
    MSG m_currentMsg;            // the message being dispatched, for Default()
};

// ---------------------------------------------------------------------------
// Control binding

class CDataExchange {
public:
    CDataExchange(CWnd* dlg, BOOL saveAndValidate) : m_pDlgWnd(dlg), m_bSaveAndValidate(saveAndValidate) {}
    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Binds control id of the dialog to the control object (subclassing it);
// a second call for a bound object does nothing.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

// ---------------------------------------------------------------------------
// Dialogs

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Modal run with the framework's own loop: the owner is disabled, every
    // message passes AfxPreTranslateMessage, and the loop ends with EndDialog.
    virtual INT_PTR DoModal();
    // Modeless creation from the template as a child or owned window.
    virtual BOOL Create(UINT templateId, CWnd* parent = nullptr);
    void EndDialog(int result);   // ends a modal run; a modeless dialog is hidden
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    virtual BOOL OnInitDialog();   // runs UpdateData(FALSE), returns TRUE
    virtual void OnOK();           // UpdateData(TRUE), then EndDialog(IDOK)
    virtual void OnCancel();       // EndDialog(IDCANCEL)
    // The dialog keys: keyboard and mouse input aimed at this dialog or at one
    // of its controls goes through IsDialogMessage (Tab, Enter, Esc, ...).
    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    virtual void DoDataExchange(CDataExchange* dx) { (void)dx; }
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    DECLARE_MESSAGE_MAP()          // IDOK -> OnOK, IDCANCEL -> OnCancel

    UINT m_nIDHelp;                // the template id
    CWnd* m_pParentWnd;
    BOOL m_bModalRunning;
    INT_PTR m_nModalResult;

private:
    // Creates the window from template templateId of AfxGetInstanceHandle()
    // with the given parent (or owner), the object attached from WM_NCCREATE on.
    BOOL CreateFromTemplate(UINT templateId, HWND parent);
};

// ---------------------------------------------------------------------------
// Application

class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    virtual BOOL InitInstance();   // base: TRUE
    virtual int Run();             // message loop (used only if InitInstance returns TRUE)

    HINSTANCE m_hInstance;
    CWnd* m_pMainWnd;
    const char* m_pszAppName;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// snprintf of the system's C library into out (size bytes, always ended with
// a NUL): the length written, or -1 when the text did not fit (cut short).
int AfxFormatText(char* out, size_t size, const char* format, ...);
// The walk before dispatch: from msg->hwnd up through the window objects to
// the main window, each object's PreTranslateMessage until one consumes it.
BOOL AfxPreTranslateMessage(MSG* msg);
// The process entry of a framework application (called by WinMain).
int AfxWinMain(HINSTANCE instance);

// ---------------------------------------------------------------------------
// Common controls, menu, font, image list, file dialog

class CTabCtrl : public CWnd {
public:
    LONG InsertItem(int index, const char* text);
    int GetCurSel() const { return (int)::SendMessageA(m_hWnd, TCM_GETCURSEL, 0, 0); }
    int SetCurSel(int index) { return (int)SendMessage(TCM_SETCURSEL, index); }
    int GetItemCount() const { return (int)::SendMessageA(m_hWnd, TCM_GETITEMCOUNT, 0, 0); }
};

class CComboBox : public CWnd {
public:
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
    int AddString(const char* text) { return (int)SendMessage(CB_ADDSTRING, 0, (LPARAM)text); }
    int GetCurSel() const { return (int)::SendMessageA(m_hWnd, CB_GETCURSEL, 0, 0); }
    int SetCurSel(int index) { return (int)SendMessage(CB_SETCURSEL, index); }
    int GetCount() const { return (int)::SendMessageA(m_hWnd, CB_GETCOUNT, 0, 0); }
};

class CEdit : public CWnd {
public:
    void SetLimitText(UINT max) { SendMessage(EM_LIMITTEXT, max); }
};

class CImageList {
public:
    CImageList() : m_hImageList(nullptr) {}
    ~CImageList();
    BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
    COLORREF SetBkColor(COLORREF color) { return ImageList_SetBkColor(m_hImageList, color); }
    int Add(HICON icon) { return ImageList_AddIcon(m_hImageList, icon); }
    int GetImageCount() const { return ImageList_GetImageCount(m_hImageList); }
    HIMAGELIST m_hImageList;
};

class CTreeCtrl : public CWnd {
public:
    HTREEITEM InsertItem(const char* text, int image, int selectedImage,
                         HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST);
    HTREEITEM InsertItem(const char* text, HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST);
    BOOL DeleteAllItems() { return (BOOL)SendMessage(TVM_DELETEITEM, 0, (LPARAM)TVI_ROOT); }
    BOOL SetItemData(HTREEITEM item, DWORD_PTR data);
    DWORD_PTR GetItemData(HTREEITEM item) const;
    BOOL Expand(HTREEITEM item, UINT code) { return (BOOL)SendMessage(TVM_EXPAND, code, (LPARAM)item); }
    HTREEITEM GetNextItem(HTREEITEM item, UINT code) const { return (HTREEITEM)::SendMessageA(m_hWnd, TVM_GETNEXTITEM, code, (LPARAM)item); }
    HTREEITEM GetSelectedItem() const { return GetNextItem(nullptr, TVGN_CARET); }
    HTREEITEM GetParentItem(HTREEITEM item) const { return GetNextItem(item, TVGN_PARENT); }
    HTREEITEM GetRootItem() const { return GetNextItem(nullptr, TVGN_ROOT); }
    HTREEITEM GetChildItem(HTREEITEM item) const { return GetNextItem(item, TVGN_CHILD); }
    HTREEITEM GetNextSiblingItem(HTREEITEM item) const { return GetNextItem(item, TVGN_NEXT); }
    BOOL ItemHasChildren(HTREEITEM item) const { return GetChildItem(item) != nullptr; }
    HIMAGELIST SetImageList(CImageList* list, int kind) { return (HIMAGELIST)SendMessage(TVM_SETIMAGELIST, kind, (LPARAM)list->m_hImageList); }
};

class CMenu {
public:
    CMenu() : m_hMenu(nullptr) {}
    ~CMenu() { DestroyMenu(); }
    BOOL LoadMenu(UINT id);
    BOOL DestroyMenu();
    HMENU GetSubMenu(int pos) const { return ::GetSubMenu(m_hMenu, pos); }
    HMENU m_hMenu;
};

class CFont {
public:
    CFont() : m_hObject(nullptr) {}
    ~CFont() { DeleteObject(); }
    BOOL CreateFontIndirect(const LOGFONTA* lf);
    BOOL DeleteObject();
    HFONT m_hObject;
};

class CFileDialog {
public:
    // filter in the framework's form: "text|pattern|text|pattern||".
    CFileDialog(BOOL openDialog, const char* defExt, const char* fileName, DWORD flags,
                const char* filter, CWnd* parent, DWORD structSize = OPENFILENAME_SIZE_VERSION_400A);
    INT_PTR DoModal();             // IDOK or IDCANCEL
    const char* GetPathName() const { return m_file; }
    void SetTitle(const char* title) { m_ofn.lpstrTitle = title; }
    OPENFILENAMEA m_ofn;

    // The common dialog blocks its caller; tests replace it through this seam.
    static BOOL (WINAPI* s_pfnGetOpenFileName)(OPENFILENAMEA*);
private:
    BOOL m_open;
    char m_file[MAX_PATH];
    char m_filter[256];
};

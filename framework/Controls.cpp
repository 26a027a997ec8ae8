// Common controls, image list, menu, font and the file dialog.
#include "framework/Framework.h"
#include "framework/FrameworkInternal.h"

#include <cstring>

LONG CTabCtrl::InsertItem(int index, const char* text) {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(text);
    return (LONG)SendMessage(TCM_INSERTITEMA, (WPARAM)index, (LPARAM)&item);
}

CImageList::~CImageList() {
    if (m_hImageList) ImageList_Destroy(m_hImageList);
}

BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
    if (m_hImageList) ImageList_Destroy(m_hImageList);
    m_hImageList = ImageList_Create(cx, cy, flags, initial, grow);
    return m_hImageList != nullptr;
}

HTREEITEM CTreeCtrl::InsertItem(const char* text, int image, int selectedImage,
                                HTREEITEM parent, HTREEITEM after) {
    TVINSERTSTRUCTA tvis = {};
    tvis.hParent = parent;
    tvis.hInsertAfter = after;
    tvis.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    tvis.item.pszText = const_cast<char*>(text);
    tvis.item.iImage = image;
    tvis.item.iSelectedImage = selectedImage;
    return (HTREEITEM)SendMessage(TVM_INSERTITEMA, 0, (LPARAM)&tvis);
}

HTREEITEM CTreeCtrl::InsertItem(const char* text, HTREEITEM parent, HTREEITEM after) {
    TVINSERTSTRUCTA tvis = {};
    tvis.hParent = parent;
    tvis.hInsertAfter = after;
    tvis.item.mask = TVIF_TEXT;
    tvis.item.pszText = const_cast<char*>(text);
    return (HTREEITEM)SendMessage(TVM_INSERTITEMA, 0, (LPARAM)&tvis);
}

BOOL CTreeCtrl::SetItemData(HTREEITEM item, DWORD_PTR data) {
    TVITEMA tvi = {};
    tvi.mask = TVIF_PARAM;
    tvi.hItem = item;
    tvi.lParam = (LPARAM)data;
    return (BOOL)SendMessage(TVM_SETITEMA, 0, (LPARAM)&tvi);
}

DWORD_PTR CTreeCtrl::GetItemData(HTREEITEM item) const {
    TVITEMA tvi = {};
    tvi.mask = TVIF_PARAM;
    tvi.hItem = item;
    if (!::SendMessageA(m_hWnd, TVM_GETITEMA, 0, (LPARAM)&tvi)) return 0;
    return (DWORD_PTR)tvi.lParam;
}

BOOL CMenu::LoadMenu(UINT id) {
    DestroyMenu();
    m_hMenu = ::LoadMenuA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(id));
    return m_hMenu != nullptr;
}

BOOL CMenu::DestroyMenu() {
    if (!m_hMenu) return FALSE;
    BOOL ok = ::DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
    return ok;
}

BOOL CFont::CreateFontIndirect(const LOGFONTA* lf) {
    DeleteObject();
    m_hObject = ::CreateFontIndirectA(lf);
    return m_hObject != nullptr;
}

BOOL CFont::DeleteObject() {
    if (!m_hObject) return FALSE;
    BOOL ok = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return ok;
}

BOOL (WINAPI* CFileDialog::s_pfnGetOpenFileName)(OPENFILENAMEA*) = GetOpenFileNameA;

CFileDialog::CFileDialog(BOOL openDialog, const char* defExt, const char* fileName, DWORD flags,
                         const char* filter, CWnd* parent, DWORD structSize)
    : m_ofn(), m_open(openDialog), m_file(), m_filter() {
    m_ofn.lStructSize = (structSize && structSize <= sizeof m_ofn) ? structSize : sizeof m_ofn;
    m_ofn.hwndOwner = parent ? parent->m_hWnd : nullptr;
    m_ofn.hInstance = AfxGetInstanceHandle();
    m_ofn.lpstrFile = m_file;
    m_ofn.nMaxFile = sizeof m_file;
    m_ofn.lpstrDefExt = defExt;
    m_ofn.Flags = flags | OFN_EXPLORER;
    if (fileName) lstrcpynA(m_file, fileName, sizeof m_file);

    // "text|pattern|text|pattern||" -> "text\0pattern\0text\0pattern\0\0".
    // Only whole pairs are kept; pairs that do not fit the buffer are left out.
    size_t out = 0;
    for (const char* p = filter; p && *p;) {
        size_t textLen = strcspn(p, "|");
        if (textLen == 0 || p[textLen] != '|') break;      // "||" ends the list
        const char* pattern = p + textLen + 1;
        size_t patternLen = strcspn(pattern, "|");
        if (patternLen == 0) break;
        if (out + textLen + patternLen + 2 >= sizeof m_filter) break;   // + final NUL
        memcpy(m_filter + out, p, textLen);
        out += textLen;
        m_filter[out++] = '\0';
        memcpy(m_filter + out, pattern, patternLen);
        out += patternLen;
        m_filter[out++] = '\0';
        p = pattern + patternLen;
        if (*p == '|') ++p;
    }
    m_filter[out] = '\0';
    if (out > 0) m_ofn.lpstrFilter = m_filter;
}

INT_PTR CFileDialog::DoModal() {
    if (!m_ofn.hwndOwner) {
        CWnd* main = AfxGetMainWnd();
        if (main) m_ofn.hwndOwner = main->m_hWnd;
    }
    m_file[sizeof m_file - 1] = '\0';
    BOOL ok = m_open ? s_pfnGetOpenFileName(&m_ofn) : GetSaveFileNameA(&m_ofn);
    if (!ok) m_file[0] = '\0';
    return ok ? IDOK : IDCANCEL;
}

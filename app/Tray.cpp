// The tray icon, its balloons and menu, and the notifications by index.
#include "app/DlgMain.h"
#include "app/DlgAbout.h"
#include "app/Notify.h"
#include "res/resource.h"
#include "token/SlotList.h"
#include <cstring>

const UINT g_msgTaskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");

const char* const NotifyTexts[NOTIFY_TEXT_COUNT] = {
    "修改密码完成!",           // 0
    "校验密码完成!",           // 1
    "正在生成加密密钥对...",   // 2
    "生成加密密钥对成功!",     // 3
    "正在生成签名密钥对...",   // 4
    "生成签名密钥对成功!",     // 5
    "公钥加密完成!",           // 6
    "私钥解密完成!",           // 7
    "私钥签名完成!",           // 8
    "公钥验证完成!",           // 9
    "有USBKEY插入!",           // 10
    "有USBKEY拔除!",           // 11
    "正在导入证书...",         // 12
    "导入证书完成!",           // 13
    "删除容器完成!",           // 14
    "写私钥文件完成!",         // 15
    "读公钥完成!",             // 16
    "读取证书完成!",           // 17
    "写证书完成!",             // 18
    "注册证书到IE完成!",       // 19
    "更改USBKEY标签完成!",     // 20
};

static const char kTipKeyPresent[] = "USBKEY已插入，可以正常使用";
static const char kTipNoKey[] = "当前未插入USBKEY";

static_assert(sizeof(void*) != 4 || NOTIFYICONDATAA_V2_SIZE == 488,
              "the 32-bit tray record is the 488-byte version-2 layout");

void CDlgMain::AddTrayIcon(BOOL add) {
    if (!add) return;
    memset(&m_nid, 0, sizeof m_nid);
    m_nid.cbSize = NOTIFYICONDATAA_V2_SIZE;
    m_nid.hWnd = m_hWnd;
    m_nid.uID = 1;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
    m_nid.uCallbackMessage = WM_QRVL_TRAY;
    m_nid.hIcon = m_hIcon;
    m_nid.dwState = NIS_SHAREDICON;
    m_nid.dwStateMask = 0;
    m_nid.uTimeout = 1000;
    m_nid.dwInfoFlags = 0;
    ::Shell_NotifyIconA(NIM_ADD, &m_nid);
}

void CDlgMain::ShowBalloon(const char* text) {
    m_nid.uTimeout = 1003;
    memset(m_nid.szTip, 0, sizeof m_nid.szTip);
    memset(m_nid.szInfo, 0, sizeof m_nid.szInfo);
    // Takes down the balloon shown so far and empties the tooltip.
    ::Shell_NotifyIconA(NIM_MODIFY, &m_nid);
    lstrcpynA(m_nid.szTip, g_slotCount > 0 ? kTipKeyPresent : kTipNoKey, sizeof m_nid.szTip);
    lstrcpynA(m_nid.szInfo, text, sizeof m_nid.szInfo);
    ::Shell_NotifyIconA(NIM_MODIFY, &m_nid);
}

LRESULT CDlgMain::OnNotifyIndex(WPARAM index, LPARAM) {
    if ((UINT)index < NOTIFY_TEXT_COUNT) ShowBalloon(NotifyTexts[(UINT)index]);
    return 0;
}

BOOL CDlgMain::OnCopyData(HWND, COPYDATASTRUCT* data) {
    // Any process may send this: read no more than it sent, and at most
    // what the balloon holds.
    if (!data || !data->lpData || data->cbData == 0) return TRUE;
    char text[sizeof m_nid.szInfo];
    size_t n = data->cbData < sizeof text - 1 ? data->cbData : sizeof text - 1;
    memcpy(text, data->lpData, n);
    const char* end = (const char*)memchr(text, 0, n);
    if (end) n = (size_t)(end - text);
    // Whole GBK characters only: a cut may not leave half of one at the end.
    size_t whole = 0;
    while (whole < n) {
        size_t step = ::IsDBCSLeadByteEx(936, (BYTE)text[whole]) ? 2 : 1;
        if (whole + step > n) break;
        whole += step;
    }
    text[whole] = 0;
    ShowBalloon(text);
    return TRUE;
}

LRESULT CDlgMain::OnTaskbarCreated(WPARAM, LPARAM) {
    // A restarted shell has forgotten the icon: without it a hidden tool
    // could not be reached any more.
    AddTrayIcon(TRUE);
    return 0;
}

LRESULT CDlgMain::OnTrayNotify(WPARAM, LPARAM mouseMsg) {
    switch ((UINT)mouseMsg) {
    case WM_LBUTTONDOWN:
        if (GetStyle() & WS_VISIBLE) {
            ShowMainWindow(SW_HIDE, TRUE);
        } else {
            ShowMainWindow(SW_SHOW, TRUE);
            SetForegroundWindow();
        }
        break;
    case WM_RBUTTONDOWN: {
        CMenu menu;
        if (!menu.LoadMenu(IDR_TRAYMENU)) break;
        POINT pt = {0, 0};
        ::GetCursorPos(&pt);
        // A tray menu closes on a click elsewhere only when its owner is the
        // foreground window; the message after it lets the next one open at
        // once. The main window stays hidden while it is foreground.
        SetForegroundWindow();
        ::TrackPopupMenu(menu.GetSubMenu(0), TPM_CENTERALIGN | TPM_LEFTBUTTON, pt.x, pt.y, 0, m_hWnd,
                         nullptr);
        PostMessage(WM_NULL);
        break;
    }
    default:
        break;
    }
    return 0;
}

void CDlgMain::OnTrayShow() { ShowMainWindow(SW_SHOW, TRUE); }

void CDlgMain::OnTrayRefresh() { OnRefresh(); }

void CDlgMain::OnTrayAbout() {
    CDlgAbout about;
    about.DoModal();
}

void CDlgMain::OnTrayExit() { CDialog::OnOK(); }

void NotifyMainWindows(uint32_t index) {
    HWND wnd = nullptr;
    while ((wnd = ::FindWindowExA(nullptr, wnd, "#32770", QRVL_MAIN_TITLE)) != nullptr) {
        LONG_PTR data = ::GetWindowLongPtrA(wnd, GWLP_USERDATA);
        if (data == (LONG_PTR)TokenWindowMarker(0, 0))
            ::PostMessageA(wnd, WM_QRVL_NOTIFY, (WPARAM)index, 0);
    }
}

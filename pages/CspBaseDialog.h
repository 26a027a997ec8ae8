// Base of the main window and of every tab page: Esc pressed anywhere on a
// page goes to the outermost window, and Enter never ends a page.
#pragma once
#include "framework/Framework.h"

class CCspBaseDialog : public CDialog {
public:
    explicit CCspBaseDialog(UINT templateId, CWnd* parent = nullptr);
    // Esc key-down and key-up are posted to the outermost window and consumed;
    // everything else gets the dialog's own key handling.
    BOOL PreTranslateMessage(MSG* msg) override;
    void OnOK() override;   // does nothing
    BOOL OnInitDialog() override;

    // Enables or disables the page's controls of the given ids, in order.
    // Controls already in that state are left alone: the main window applies
    // the key-present state at every device change on the machine.
    // Before the page's window is made, the state is only remembered: the
    // owner applies ItemsEnabled() once it makes the window.
    void EnableItems(const int* ids, size_t count, BOOL enable);
    BOOL ItemsEnabled() const { return m_itemsEnabled; }

private:
    // The controls EnableItems works on, looked up once per window: a control
    // lookup costs more than everything else of a device change.
    BOOL m_itemsEnabled;   // the last state asked for; the templates' controls start enabled
    enum { kCachedItems = 4 };
    int m_cachedIds[kCachedItems];
    HWND m_cachedItems[kCachedItems];
    HWND CachedItem(int id);
};

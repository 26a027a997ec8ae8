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
};

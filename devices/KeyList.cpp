// The key list: which keys are inserted, which one is current, and handing
// it to the pages.
#include "app/DlgMain.h"
#include "token/SlotList.h"

TOKEN_KEY g_slotList[TOKEN_MAX_KEYS];
uint32_t g_slotCount;

void CDlgMain::OnRefresh() {
    m_keyCombo.ResetContent();
    m_hKey = 0;
    CSP_GetSlotList(g_slotList, &g_slotCount);
    if (g_slotCount == 0) {
        CleanStaleUsbEntries();
        // While its message box was up, a device change or another refresh
        // may have listed the keys already; list them once, afresh.
        m_keyCombo.ResetContent();
    }

    // The list holds 256 handles; a larger count lists only what fits.
    uint32_t inList = g_slotCount < TOKEN_MAX_KEYS ? g_slotCount : TOKEN_MAX_KEYS;
    uint32_t listed = 0;
    for (uint32_t i = 0; i < inList; ++i) {
        char label[TOKEN_LABEL_BUFFER] = {};
        if (CSP_GetUsbKeyLabel(g_slotList[i], label) != TOKEN_OK) continue;
        label[sizeof label - 1] = 0;
        m_keyHandles[listed++] = g_slotList[i];
        m_keyCombo.AddString(label);
    }
    m_keyCombo.SetCurSel(0);

    // Pages follow the library's count; the current key needs a listed label,
    // so that no handle of an earlier refresh is acted on.
    BOOL present = g_slotCount > 0;
    m_hKey = (present && listed > 0) ? m_keyHandles[0] : 0;
    m_pageImport.EnableControls(present);
    m_pageCerts.EnableControls(present);
    m_pagePassword.EnableControls(present);
    m_pageLabel.EnableControls(present);
    m_pageCerts.m_hKey = m_hKey;
    m_pagePassword.m_hKey = m_hKey;
    m_pageImport.m_hKey = m_hKey;
    m_pageLabel.m_hKey = m_hKey;

    ShowSelectedPage();

    m_pageCerts.RefreshTree();
    m_pageCerts.SetRootButtonState();
}

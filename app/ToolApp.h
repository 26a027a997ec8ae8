// The application object: start-up, the single-instance handshake, and the
// modal run of the main window.
#pragma once
#include "framework/Framework.h"

class CToolApp : public CWinApp {
public:
    CToolApp();
    BOOL InitInstance() override;   // always FALSE: the main window's modal loop is the only one
};

// Outcome of looking for a running copy of the tool on this desktop.
enum RunningCopy {
    kNoRunningCopy,      // none answered: start normally
    kHandedOver,         // a running copy came to the front (answered -1)
    kRunningCopyHung,    // a running copy did not answer in time: end silently
};
// Asks each main window of the tool (class, title and marker) to come to the
// front, waiting at most timeoutMs for each.
RunningCopy ActivateRunningCopy(UINT timeoutMs);

// The real tool (bin\QuorvelUSBKEY.exe) seen from another process, as a user
// and a key would see it: started, its windows found, read and clicked from
// outside. Shared by the end-to-end tests, the hostile-input tests, the
// benchmarks and the screenshot driver; it needs no test framework.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>

namespace e2e {

extern const char kTitle[];   // the main window's title, GBK

std::string BinPath(const char* exe);   // bin\<exe> beside this program
std::wstring Wide(const std::string& gbk);

// Dispatches this thread's messages until pred() holds or ms elapse; returns pred().
template <class Pred> bool WaitFor(Pred pred, DWORD ms = 15000) {
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > ms) return pred();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(50);
    }
    return true;
}

// Runs bin\tokensim.exe with GBK arguments; returns its exit code.
DWORD Tokensim(const std::string& args, std::string* out = nullptr);

// Whether the user's "MY" store holds a certificate with this simple name.
bool StoreHolds(const char* subject);

// A running QuorvelUSBKEY.exe and its windows.
class CToolProcess {
public:
    ~CToolProcess();
    // Starts the tool and waits for its main window and its pages; false
    // when either has not come within the wait.
    bool Start();
    static PROCESS_INFORMATION Launch();
    // The process's dialog window with that title (the tool's by default).
    static HWND MainWindowOf(DWORD pid, const char* title = kTitle);
    // The control with the id on the page that holds the control uniqueId.
    HWND Control(int uniqueId, int id);
    // Texts of the key list, GBK.
    std::vector<std::string> Labels();
    // Root and children of the certificate tree, read through the tool's memory.
    std::vector<std::string> Tree();
    // Handles of the root and its children, in the same order as Tree().
    std::vector<HTREEITEM> TreeItems();
    // Selects a tree item as a click would (the tool is told of the change).
    bool SelectTreeItem(HTREEITEM item);
    // Shows the page of the tab index with a click on its tab.
    bool ClickTab(int index);
    // Asks the tool to quit (WM_USER+1) and waits for it to end.
    bool Quit();
    // Whether the tool answers a message within ms.
    bool Responds(DWORD ms = 5000);
    // The tool's visible message box, if any.
    HWND FindMessageBox();
    // Closes the tool's next message box with the button id and returns its text.
    std::string CloseMessageBox(int button = IDOK, DWORD ms = 15000);
    HWND wnd = nullptr;
    PROCESS_INFORMATION m_pi = {};

    // --- Watching the tool under load (hostile-input tests) ---
    // Whether the process is still running.
    bool Alive();
    // Waits until the tool's thread has handled every message posted to it
    // before this call: a marker posted behind them (the import page's path
    // edit's modified flag) is seen handled. A message box's own loop handles
    // it too, so a box may be up when this returns.
    bool WaitPostedHandled(DWORD ms = 15000);
    // The tool's top-level windows (all, or only the visible ones).
    std::vector<HWND> TopWindows(bool visibleOnly);
    // Whether the shell still has the tool's tray icon (id 1 of the main window).
    bool HasTrayIcon();

    // --- Answering the tool's boxes and prompts (journeys) ---
    // Closes the tool's next message box with the button and waits until the
    // box is gone, so that a box shown next is not taken for it. Returns the
    // box's text and, if asked, its caption (GBK); empty when none came.
    std::string AnswerMessageBox(int button = IDOK, std::string* caption = nullptr, DWORD ms = 15000);
    // Types the password into the stand-in library's prompt ("USBKEY用户密码",
    // shown in the tool's process) and presses its OK button.
    bool AnswerPasswordPrompt(const char* password, DWORD ms = 15000);
};

}  // namespace e2e

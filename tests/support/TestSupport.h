// Helpers shared by the GUI tests: message pumping and message-box capture.
#pragma once
#include <windows.h>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// Dispatches this thread's messages for about ms milliseconds (at least once),
// through the framework's PreTranslateMessage walk like the tool's own loop.
void PumpMessages(DWORD ms = 0);
// Pumps until pred() holds or ms elapse; returns pred().
template <class Pred> bool PumpUntil(Pred pred, DWORD ms = 3000) {
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > ms) return pred();
        PumpMessages(10);
    }
    return true;
}

// A message box seen by MsgBoxCatcher.
struct CapturedBox {
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    const char* icon = "none";   // "warning", "information", "error", "question", "none"
    std::vector<int> buttons;    // ids present among IDOK, IDCANCEL, IDYES, IDNO
    int answer = 0;              // the button it was answered with
};

// While alive, every message box shown on this thread (a "#32770" window
// that is no framework window and shows a message text) is recorded and
// answered at once: with the next queued answer, else IDOK when it has an OK
// button, else IDNO, else IDCANCEL.
class MsgBoxCatcher {
public:
    MsgBoxCatcher();
    ~MsgBoxCatcher();
    void Answer(int id) { m_answers.push_back(id); }
    // Run when a box comes up, before its answer is posted: what the test
    // posts here is handled by the box's own message loop while it is up,
    // and the answer may be changed.
    std::function<void(CapturedBox&)> onBox;
    std::vector<CapturedBox> boxes;
    // Texts of all boxes, joined with "\n" (handy in assertion messages).
    std::string Texts() const;
private:
    static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);
    void OnActivate(HWND box);
    HHOOK m_hook;
    std::deque<int> m_answers;
    MsgBoxCatcher* m_prev;
};

class CWnd;

// A plain top-level window standing in for the main window: pages are made
// as its children, and it records the messages that reach it (posted Esc
// keys, refresh commands, WM_USER messages).
class TestHost {
public:
    TestHost();
    ~TestHost();
    HWND hwnd;
    CWnd* wnd;                     // a framework object for it (parent and owner pointers)
    std::vector<MSG> received;     // message, wParam, lParam of each message after creation
    int Count(UINT message, WPARAM wParam) const;
    int Count(UINT message) const;
private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
};

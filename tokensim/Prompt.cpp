// The stand-in's own password prompt, a dialog built in memory.
#include "tokensim/Library.h"

#include <stdio.h>
#include <string.h>

namespace tokensim {

namespace {

enum { kIdPrompt = 100, kIdTries = 101, kIdEdit = 102 };

struct CPromptState {
    uint32_t triesLeft;
    char* pin;
    size_t pinSize;
};

// Appends the pieces of a DLGTEMPLATE to a WORD buffer.
class CTemplateWriter {
public:
    void Word(WORD w) { m_words.push_back(w); }
    void DWord(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const char* gbk) {
        wchar_t wide[128];
        int n = MultiByteToWideChar(936, 0, gbk, -1, wide, 128);
        if (n <= 0) n = 1, wide[0] = 0;
        for (int i = 0; i < n; ++i) m_words.push_back(static_cast<WORD>(wide[i]));
    }
    void Align() {
        if (m_words.size() % 2) Word(0);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD cls,
              const char* text) {
        Align();
        DWord(style | WS_CHILD | WS_VISIBLE);
        DWord(0);
        Word(static_cast<WORD>(x));
        Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(id);
        Word(0xFFFF);
        Word(cls);
        Text(text);
        Word(0);   // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }
private:
    std::vector<WORD> m_words;
};

INT_PTR CALLBACK PromptProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dlg, DWLP_USER, lParam);
        const CPromptState* s = reinterpret_cast<const CPromptState*>(lParam);
        char text[64];
        snprintf(text, sizeof(text), "剩余尝试次数：%lu", static_cast<unsigned long>(s->triesLeft));
        SetDlgItemTextA(dlg, kIdTries, text);
        SendDlgItemMessageA(dlg, kIdEdit, EM_LIMITTEXT, TOKEN_PIN_MAX, 0);
        SetForegroundWindow(dlg);
        SetFocus(GetDlgItem(dlg, kIdEdit));
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            CPromptState* s = reinterpret_cast<CPromptState*>(GetWindowLongPtrA(dlg, DWLP_USER));
            GetDlgItemTextA(dlg, kIdEdit, s->pin, static_cast<int>(s->pinSize));
            EndDialog(dlg, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dlg, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

TOKEN_RESULT AskPassword(uint32_t triesLeft, char* pin, size_t pinSize) {
    if (!pin || pinSize == 0) return TS_E_INVALID_PARAMETER;
    pin[0] = 0;
    char answer[64];
    DWORD n = GetEnvironmentVariableA("TOKENSIM_PIN", answer, sizeof(answer));
    if (n > 0 && n < sizeof(answer)) {
        if (strcmp(answer, ":cancel") == 0) return TOKEN_PIN_NO_VERDICT;
        lstrcpynA(pin, answer, static_cast<int>(pinSize));
        return 0;
    }

    CTemplateWriter t;
    t.DWord(DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    t.DWord(0);
    t.Word(5);   // controls
    t.Word(0);
    t.Word(0);
    t.Word(180);
    t.Word(86);
    t.Word(0);   // no menu
    t.Word(0);   // standard class
    t.Text("USBKEY用户密码");
    t.Word(9);
    t.Text("宋体");
    t.Item(SS_LEFT, 12, 10, 156, 10, kIdPrompt, 0x0082, "请输入用户密码：");
    t.Item(ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 12, 24, 156, 14, kIdEdit,
           0x0081, "");
    t.Item(SS_LEFT, 12, 44, 156, 10, kIdTries, 0x0082, "");
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 60, 62, 50, 14, IDOK, 0x0080, "确定");
    t.Item(BS_PUSHBUTTON | WS_TABSTOP, 118, 62, 50, 14, IDCANCEL, 0x0080, "取消");

    // The active window of this thread owns the prompt; else a foreground
    // window of this process.
    HWND owner = GetActiveWindow();
    if (!owner) {
        HWND fg = GetForegroundWindow();
        DWORD pid = 0;
        if (fg && GetWindowThreadProcessId(fg, &pid) && pid == GetCurrentProcessId()) owner = fg;
    }
    CPromptState state = {triesLeft, pin, pinSize};
    INT_PTR r = DialogBoxIndirectParamA(g_module, t.Get(), owner, PromptProc,
                                        reinterpret_cast<LPARAM>(&state));
    if (r != IDOK) {
        SecureZeroMemory(pin, pinSize);
        return TOKEN_PIN_NO_VERDICT;
    }
    return 0;
}

}  // namespace tokensim

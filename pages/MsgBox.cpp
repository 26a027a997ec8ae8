#include "pages/MsgBox.h"
#include "framework/Framework.h"
#include "token/token.h"

static const char kCaption[] = "提示";

int WarnBox(HWND owner, const char* text) {
    return MessageBoxA(owner, text, kCaption, MB_ICONWARNING);
}

int InfoBox(HWND owner, const char* text) {
    return MessageBoxA(owner, text, kCaption, MB_ICONINFORMATION);
}

int PasswordStatusBox(HWND owner, const char* format, const char* fallback, uint32_t status) {
    uint32_t tries = status & 0x0Fu;
    if ((status & TOKEN_PIN_WRONG_MASK) == TOKEN_PIN_WRONG_BASE && tries != 0) {
        char text[256];
        AfxFormatText(text, sizeof text, format, (int)tries);
        return WarnBox(owner, text);
    }
    return WarnBox(owner, fallback);
}

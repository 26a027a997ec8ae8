// A text the user typed (a password), held only as long as one handler runs
// and wiped from memory before it is released.
#pragma once
#include <windows.h>

class CSecretText {
public:
    // Reads the text of a control; the buffer has room for at least
    // minSize bytes, or the whole text if that is longer.
    CSecretText(HWND control, int minSize);
    ~CSecretText();
    char* Get() { return m_text ? m_text : m_empty; }
    int Length() const;   // bytes
    CSecretText(const CSecretText&) = delete;
    CSecretText& operator=(const CSecretText&) = delete;

private:
    char* m_text;
    int m_size;
    char m_empty[1];
};

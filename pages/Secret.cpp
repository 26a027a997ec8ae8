#include "pages/Secret.h"
#include <cstdlib>

CSecretText::CSecretText(HWND control, int minSize) : m_text(nullptr), m_size(0), m_empty{0} {
    int length = control ? ::GetWindowTextLengthA(control) : 0;
    m_size = (length + 1 > minSize ? length + 1 : minSize);
    m_text = static_cast<char*>(calloc((size_t)m_size, 1));
    if (!m_text) {
        m_size = 0;
        return;
    }
    if (control) ::GetWindowTextA(control, m_text, m_size);
}

CSecretText::~CSecretText() {
    if (m_text) {
        SecureZeroMemory(m_text, (size_t)m_size);
        free(m_text);
    }
}

int CSecretText::Length() const { return m_text ? lstrlenA(m_text) : 0; }

// Pictures of the screen for the README, shared by the screenshot drivers.
#include "tests/screenshots/ScreenShot.h"

// Saves the screen's rectangle as a bottom-up 24-bit BMP.
bool SaveScreen(const RECT& rc, const std::string& path) {
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
    GdiFlush();
    DWORD stride = ((DWORD)w * 3 + 3) & ~3u, size = stride * (DWORD)h;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + size;
    bool ok = false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD done = 0;
        ok = WriteFile(file, &fh, sizeof fh, &done, nullptr) &&
             WriteFile(file, &bi.bmiHeader, sizeof bi.bmiHeader, &done, nullptr) &&
             WriteFile(file, bits, size, &done, nullptr);
        CloseHandle(file);
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

RECT Around(HWND wnd, int margin) {
    RECT rc = {};
    GetWindowRect(wnd, &rc);
    InflateRect(&rc, margin, margin);
    return rc;
}


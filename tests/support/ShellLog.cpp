#include "tests/support/ShellLog.h"
#include <cstdio>
#include <cstring>

namespace {

std::string BinDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (slash) *slash = 0;
    return path;
}

std::string LogPath() { return BinDir() + "\\shell-open.log"; }

void SetDefault(const char* subkey, const std::string& value) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, nullptr, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)value.size() + 1);
        RegCloseKey(key);
    }
}

}  // namespace

void InstallShellLogger() {
    std::string cmd = "\"" + BinDir() + "\\shell_logger.exe\" \"" + LogPath() + "\" \"%1\"";
    SetDefault("http\\shell\\open\\command", cmd);
    SetDefault("https\\shell\\open\\command", cmd);
    SetDefault(".cer", "qrvl.testcer");
    SetDefault("qrvl.testcer\\shell\\open\\command", cmd);
}

void ClearShellLog() { DeleteFileA(LogPath().c_str()); }

std::vector<std::string> WaitShellLog(size_t count, DWORD ms) {
    std::vector<std::string> lines;
    DWORD start = GetTickCount();
    for (;;) {
        lines.clear();
        if (FILE* f = fopen(LogPath().c_str(), "rb")) {
            char line[2048];
            while (fgets(line, sizeof line, f)) {
                line[strcspn(line, "\r\n")] = 0;
                lines.push_back(line);
            }
            fclose(f);
        }
        if (lines.size() >= count || GetTickCount() - start > ms) return lines;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(50);
    }
}

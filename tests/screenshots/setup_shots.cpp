// Not a test: walks the real installer (the first argument) through its pages
// as a user would, on a machine without the key's driver, and saves each page
// as a 24-bit BMP in the folder given as the second argument; then removes
// the installed tool silently. make-screenshots.sh turns them into PNG.
//   setup-welcome.bmp   the welcome page
//   setup-folder.bmp    the choice of the folder
//   setup-driver.bmp    the message that the key's driver is missing
//   setup-progress.bmp  the installation, done
//   setup-finish.bmp    the finish page
#include "tests/screenshots/ScreenShot.h"
#include "tests/support/ToolProcess.h"
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

using e2e::WaitFor;

namespace {

// The visible top-level dialogs of the process, the wizard first (it owns the others).
std::vector<HWND> DialogsOf(DWORD pid) {
    std::vector<HWND> found;
    for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", nullptr); w;
         w = FindWindowExA(nullptr, w, "#32770", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner != pid || !IsWindowVisible(w)) continue;
        if (GetWindow(w, GW_OWNER)) found.push_back(w);
        else found.insert(found.begin(), w);
    }
    return found;
}

void Pause(DWORD ms) { WaitFor([] { return false; }, ms); }

// The wizard's "next" button (下一步, 安装, 完成) has the id 1.
bool ClickNext(HWND wizard) {
    HWND next = GetDlgItem(wizard, IDOK);
    if (!WaitFor([&] { return next && IsWindowEnabled(next); }, 120000)) return false;
    return PostMessageA(next, BM_CLICK, 0, 0) != FALSE;
}

int Fail(const std::string& what) {
    fprintf(stderr, "setup_shots: %s\n", what.c_str());
    return 1;
}

// Lets the wizard's page settle, saves it as OUTDIR\setup-<page>.bmp and goes
// on; empty, or what went wrong.
std::string ShootThenNext(HWND wizard, const std::string& out, const char* page, DWORD settleMs) {
    Pause(settleMs);
    if (!SaveScreen(Around(wizard, 0), out + "\\setup-" + page + ".bmp"))
        return std::string("could not save the ") + page + " page";
    if (!ClickNext(wizard)) return std::string("the ") + page + " page did not go on";
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return Fail("usage: setup_shots SETUP_EXE OUTDIR");
    std::string cmd = std::string("\"") + argv[1] + "\"", out = argv[2];
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return Fail("the installer did not start");
    HWND wizard = nullptr;
    if (!WaitFor([&] { auto d = DialogsOf(pi.dwProcessId); return !d.empty() && (wizard = d[0]); }, 60000))
        return Fail("no wizard");
    RECT rc = {};
    GetWindowRect(wizard, &rc);
    SetWindowPos(wizard, nullptr, (1280 - (rc.right - rc.left)) / 2, 200, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    for (const char* page : {"welcome", "folder"}) {
        std::string failed = ShootThenNext(wizard, out, page, 1500);
        if (!failed.empty()) return Fail(failed);
    }

    // No token library on this machine: the installer says so while it installs.
    HWND box = nullptr;
    if (!WaitFor([&] { auto d = DialogsOf(pi.dwProcessId); return d.size() > 1 && (box = d[1]); }, 120000))
        return Fail("no message about the driver");
    Pause(1000);
    if (!SaveScreen(Around(box, 0), out + "\\setup-driver.bmp")) return Fail("could not save the message");
    PostMessageA(box, WM_COMMAND, IDOK, 0);

    HWND next = GetDlgItem(wizard, IDOK);
    if (!WaitFor([&] { return IsWindowEnabled(next) != FALSE; }, 120000)) return Fail("the installation did not end");
    std::string failed = ShootThenNext(wizard, out, "progress", 1000);
    if (failed.empty()) failed = ShootThenNext(wizard, out, "finish", 1500);
    if (!failed.empty()) return Fail(failed);
    if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) return Fail("the installer did not end");
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    // Leave the machine as it was.
    HKEY key;
    char quiet[MAX_PATH + 16] = {};
    DWORD size = sizeof quiet - 1;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuorvelUSBKEY", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return Fail("no uninstall entry");
    LONG r = RegQueryValueExA(key, "QuietUninstallString", nullptr, nullptr, (BYTE*)quiet, &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return Fail("no quiet uninstall command");
    PROCESS_INFORMATION un = {};
    if (!CreateProcessA(nullptr, quiet, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &un))
        return Fail("the uninstaller did not start");
    CloseHandle(un.hThread);
    CloseHandle(un.hProcess);
    // It runs on from a copy of itself: its end is the entry gone.
    WaitFor([] {
        HKEY k;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuorvelUSBKEY",
                          0, KEY_READ, &k) != ERROR_SUCCESS)
            return true;
        RegCloseKey(k);
        return false;
    }, 60000);
    return 0;
}

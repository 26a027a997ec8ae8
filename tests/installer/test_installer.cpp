// setup.exe as an administrator runs it, silently (/S), under 32-bit Wine:
// an older version installed into a chosen folder (/D=) on a machine without
// the key's driver, this version installed over it while the tool runs with a
// library the installer cannot see, installed again over a running tool that
// uses a token library placed beside it, and the uninstall. What each step leaves is read back the way
// Windows reads it: files, the start-menu shortcut through the shell, the
// autostart value and the installed-programs entry in the registry, and the
// tool's main windows by class, title and marker.
#include "tests/support/ToolProcess.h"
#include "token/token.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using e2e::WaitFor;

namespace {

const char kDir[] = "C:\\qrvl-setup-test\\QuorvelUSBKEY";   // chosen with /D=
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kToolKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuorvelUSBKEY";
const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kForeignRunValue[] = "QrvlInstallerTestOther";   // someone else's autostart

std::string InDir(const char* name) { return std::string(kDir) + "\\" + name; }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

DWORD KB(const std::string& path) { return (DWORD)((Bytes(path).size() + 1023) / 1024); }

// Runs a command line and waits for it; its exit code, or ~0u when it did not end.
DWORD RunWait(std::string cmd, DWORD ms = 120000) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

// What a run of a command started: it runs in a job of its own, which every
// process it starts, and what those start in turn, joins; the job's port
// hears of each as it comes. Each is held from then on, so that its image
// can be read also after it ended (a tool without its library ends at once).
struct Started {
    DWORD pid;
    std::string image;
};
DWORD RunWatched(std::string cmd, std::vector<Started>* started, DWORD ms = 120000) {
    started->clear();
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT link = {job, port};
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    DWORD code = ~0u;
    std::vector<HANDLE> handles;
    if (job && port && SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &link, sizeof link) &&
        CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi)) {
        if (AssignProcessToJobObject(job, pi.hProcess)) ResumeThread(pi.hThread);
        else TerminateProcess(pi.hProcess, ~0u);
        // Until every process of the job has ended, or 3 s of quiet after the
        // command's end (a tool it started keeps running).
        DWORD start = GetTickCount(), quietSince = 0;
        for (;;) {
            DWORD message = 0;
            ULONG_PTR key = 0;
            LPOVERLAPPED data = nullptr;
            bool heard = GetQueuedCompletionStatus(port, &message, &key, &data, 50) != FALSE;
            bool ended = WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
            if (heard && message == JOB_OBJECT_MSG_NEW_PROCESS && (DWORD)(ULONG_PTR)data != pi.dwProcessId) {
                DWORD pid = (DWORD)(ULONG_PTR)data;
                started->push_back({pid, ""});
                // Held, so that its image can be read once it is loaded, or has ended.
                handles.push_back(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
            }
            if (heard && message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) break;
            if (!ended || heard) quietSince = GetTickCount();
            if ((ended && GetTickCount() - quietSince > 3000) || GetTickCount() - start > ms) break;
        }
        for (size_t i = 0; i < handles.size(); ++i) {
            char path[MAX_PATH] = {};
            DWORD len = sizeof path;
            if (handles[i] && QueryFullProcessImageNameA(handles[i], 0, path, &len)) (*started)[i].image.assign(path, len);
            else (*started)[i].image = "process " + std::to_string((*started)[i].pid) + ", gone before it was seen";
            if (handles[i]) CloseHandle(handles[i]);
        }
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    if (port) CloseHandle(port);
    if (job) CloseHandle(job);
    return code;
}
std::string Images(const std::vector<Started>& started) {
    std::string text;
    for (const Started& s : started) text += " " + s.image + ";";
    return text;
}
// The images of what the installer itself started: Wine's shell starts its
// menu builder whenever a shortcut is saved, and that one is left out.
std::string StartedByTheInstaller(const std::vector<Started>& started) {
    const std::string wine = "\\winemenubuilder.exe";
    std::vector<Started> own;
    for (const Started& s : started)
        if (s.image.size() < wine.size() || _stricmp(s.image.c_str() + s.image.size() - wine.size(), wine.c_str()) != 0)
            own.push_back(s);
    return Images(own);
}

std::string Env(const char* name) {
    const char* s = std::getenv(name);
    return s ? s : "";
}
std::string SetupExe() { return Env("QRVL_SETUP_EXE"); }   // this version's, from the release script
const char kOlderVersion[] = "0.9.0.0";                      // QRVL_OLDER_SETUP_EXE's

// A value of HKLM as a string (REG_SZ) or a number (REG_DWORD); found says whether it is there.
struct RegValue {
    bool found = false;
    std::string text;
    DWORD number = 0;
};
RegValue ReadValue(const char* key, const char* name) {
    RegValue v;
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return v;
    char buf[1024] = {};
    DWORD type = 0, size = sizeof buf - 1;
    if (RegQueryValueExA(h, name, nullptr, &type, (BYTE*)buf, &size) == ERROR_SUCCESS) {
        v.found = true;
        if (type == REG_DWORD) memcpy(&v.number, buf, sizeof v.number);
        else v.text.assign(buf, strnlen(buf, sizeof buf));
    }
    RegCloseKey(h);
    return v;
}
bool KeyExists(const char* key) {
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

// The installed programs that call themselves the tool.
int EntriesNamedLikeTheTool() {
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &h) != ERROR_SUCCESS) return 0;
    int n = 0;
    char sub[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = sizeof sub;
        if (RegEnumKeyExA(h, i, sub, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::string key = std::string(kUninstallKey) + "\\" + sub;
        if (ReadValue(key.c_str(), "DisplayName").text == e2e::kTitle) ++n;
    }
    RegCloseKey(h);
    return n;
}

std::string Folder(int csidl) {
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
    return path;
}
std::string Shortcut() { return Folder(CSIDL_COMMON_PROGRAMS) + "\\" + e2e::kTitle + ".lnk"; }

// The target of a shell link, as the shell reads it.
std::string ShortcutTarget(const std::string& lnk) {
    std::string target;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&link)))
        return target;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
        std::wstring wide = e2e::Wide(lnk);
        char path[MAX_PATH] = {};
        if (SUCCEEDED(file->Load(wide.c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(path, sizeof path, nullptr, 0)))
            target = path;
        file->Release();
    }
    link->Release();
    return target;
}

// The main windows of running copies of the tool: class, title and marker.
struct Copy {
    HWND wnd;
    DWORD pid;
};
std::vector<Copy> RunningCopies() {
    std::vector<Copy> copies;
    HWND wnd = nullptr;
    while ((wnd = FindWindowExA(nullptr, wnd, "#32770", e2e::kTitle)) != nullptr) {
        if (GetWindowLongPtrA(wnd, GWLP_USERDATA) != (LONG_PTR)TokenWindowMarker(0, 0)) continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(wnd, &pid);
        copies.push_back({wnd, pid});
    }
    return copies;
}

std::string ImageOf(DWORD pid) {
    std::string image;
    HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!p) return image;
    char path[MAX_PATH] = {};
    DWORD len = sizeof path;
    if (QueryFullProcessImageNameA(p, 0, path, &len)) image.assign(path, len);
    CloseHandle(p);
    return image;
}

// Starts the tool in the folder dir; the process handle, or none.
PROCESS_INFORMATION StartTool(const std::string& exe, const char* dir) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::string cmd = "\"" + exe + "\"";
    if (CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, dir, &si, &pi)) CloseHandle(pi.hThread);
    return pi;
}

void EndAllCopies() {
    for (const Copy& c : RunningCopies()) {
        HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, c.pid);
        PostMessageA(c.wnd, WM_USER + 1, 0, 0);
        if (p && WaitForSingleObject(p, 10000) != WAIT_OBJECT_0) TerminateProcess(p, 1);
        if (p) CloseHandle(p);
    }
}

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
            else DeleteFileA(path.c_str());
        } while (FindNextFileA(find, &fd));
        FindClose(find);
    }
    RemoveDirectoryA(dir.c_str());
}

// A machine without the tool: what an earlier run may have left is removed.
void Clean() {
    EndAllCopies();
    RegValue quiet = ReadValue(kToolKey, "QuietUninstallString");
    if (quiet.found) {
        RunWait(quiet.text);
        WaitFor([] { return !KeyExists(kToolKey); }, 60000);
    }
    RemoveTree(kDir);
    RemoveTree("C:\\qrvl-setup-test");
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
        RegDeleteValueA(h, kForeignRunValue);
        RegCloseKey(h);
    }
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(SetupExe().empty()) << "QRVL_SETUP_EXE names the installer";
        ASSERT_TRUE(Exists(SetupExe())) << SetupExe();
        ASSERT_TRUE(Exists(Env("QRVL_OLDER_SETUP_EXE"))) << "QRVL_OLDER_SETUP_EXE names an older installer";
        CoInitialize(nullptr);
        Clean();
        HKEY h;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_SET_VALUE,
                                                 nullptr, &h, nullptr));
        const char other[] = "C:\\other\\other.exe";
        RegSetValueExA(h, kForeignRunValue, 0, REG_SZ, (const BYTE*)other, sizeof other);
        RegCloseKey(h);
    }
    void TearDown() override {
        Clean();
        CoUninitialize();
    }
};

TEST_F(Installer, InstallsThenUpgradesOverARunningToolThenRemovesExactlyWhatItAdded) {
    const std::string exe = InDir("QuorvelUSBKEY.exe");
    const std::string uninstaller = InDir("uninstall.exe");
    const std::string library = InDir("MorvaneFun_qrvl.dll");

    // An older version, installed into the folder given with /D=, with no token
    // library anywhere Windows would load it from for the tool: not started.
    std::vector<Started> started;
    ASSERT_EQ(0u, RunWatched("\"" + Env("QRVL_OLDER_SETUP_EXE") + "\" /S /D=" + kDir, &started));
    EXPECT_EQ("", StartedByTheInstaller(started)) << "nothing started, not even a tool that ends at once";
    ASSERT_TRUE(Exists(exe));
    EXPECT_EQ(kOlderVersion, ReadValue(kToolKey, "DisplayVersion").text);
    const std::string olderExe = Bytes(exe);
    Sleep(1000);
    EXPECT_TRUE(RunningCopies().empty()) << "without its library the tool cannot run and is not started";

    // The tool runs with a library the installer cannot see (Windows found it
    // in the tool's current folder). This version is installed over it, without
    // /D=: with no marker to compare, the copy is known by its process's exe and
    // ended before the files are replaced in the same folder; still without a
    // library for the installed tool, it is not started.
    PROCESS_INFORMATION unseen = StartTool(exe, e2e::BinPath("").c_str());
    ASSERT_TRUE(unseen.hProcess);
    ASSERT_TRUE(WaitFor([&] { return RunningCopies().size() == 1; }, 30000));
    ASSERT_EQ(0u, RunWatched("\"" + SetupExe() + "\" /S", &started));
    EXPECT_EQ("", StartedByTheInstaller(started)) << "nothing started, not even a tool that ends at once";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(unseen.hProcess, 0)) << "the running copy was asked to end";
    CloseHandle(unseen.hProcess);
    EXPECT_NE(olderExe, Bytes(exe)) << "the older exe was replaced";
    EXPECT_TRUE(Exists(uninstaller));
    EXPECT_FALSE(Exists(library)) << "the installer never brings the token library";
    EXPECT_EQ(exe, ShortcutTarget(Shortcut()));
    EXPECT_EQ("\"" + exe + "\"", ReadValue(kRunKey, "QuorvelUSBKEY").text);
    EXPECT_EQ(e2e::kTitle, ReadValue(kToolKey, "DisplayName").text);
    EXPECT_EQ(QRVL_VERSION, ReadValue(kToolKey, "DisplayVersion").text);
    EXPECT_EQ("Quorvel银行", ReadValue(kToolKey, "Publisher").text);
    EXPECT_EQ("\"" + exe + "\",0", ReadValue(kToolKey, "DisplayIcon").text);
    EXPECT_EQ(kDir, ReadValue(kToolKey, "InstallLocation").text);
    EXPECT_EQ("\"" + uninstaller + "\"", ReadValue(kToolKey, "UninstallString").text);
    EXPECT_EQ("\"" + uninstaller + "\" /S", ReadValue(kToolKey, "QuietUninstallString").text);
    EXPECT_EQ(KB(exe) + KB(uninstaller), ReadValue(kToolKey, "EstimatedSize").number);
    EXPECT_EQ(1, EntriesNamedLikeTheTool());
    EXPECT_FALSE(Exists(Folder(CSIDL_PROGRAM_FILES) + "\\QuorvelUSBKEY")) << "the upgrade kept its folder";
    Sleep(1000);
    EXPECT_TRUE(RunningCopies().empty()) << "still no library for the installed tool: not started";

    // The key's driver puts the library beside the tool; the user starts it.
    ASSERT_TRUE(CopyFileA(e2e::BinPath("MorvaneFun_qrvl.dll").c_str(), library.c_str(), FALSE));
    const std::string libraryBytes = Bytes(library);
    PROCESS_INFORMATION old = StartTool(exe, kDir);
    ASSERT_TRUE(old.hProcess);
    ASSERT_TRUE(WaitFor([&] { return RunningCopies().size() == 1; }, 30000));
    ASSERT_EQ(old.dwProcessId, RunningCopies()[0].pid);

    // Installed again, without /D=, over the running tool: the running copy
    // ends, the files are replaced in the same folder, the new tool starts once.
    ASSERT_EQ(0u, RunWatched("\"" + SetupExe() + "\" /S", &started));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(old.hProcess, 0)) << "the running copy was asked to end";
    CloseHandle(old.hProcess);
    ASSERT_TRUE(WaitFor([] { return RunningCopies().size() == 1; }, 30000));
    Sleep(2000);   // a second start would show up by now
    std::vector<Copy> copies = RunningCopies();
    ASSERT_EQ(1u, copies.size());
    // The watch of the runs without a library sees a start: this one.
    int toolStarts = 0;
    for (const Started& s : started) toolStarts += _stricmp(s.image.c_str(), exe.c_str()) == 0;
    EXPECT_EQ(1, toolStarts) << "the installer started:" << Images(started);
    EXPECT_TRUE(std::any_of(started.begin(), started.end(), [&](const Started& s) { return s.pid == copies[0].pid; }))
        << "the running copy is not the one the installer started:" << Images(started);
    EXPECT_NE(old.dwProcessId, copies[0].pid);
    EXPECT_STRCASEEQ(exe.c_str(), ImageOf(copies[0].pid).c_str());
    EXPECT_EQ(kDir, ReadValue(kToolKey, "InstallLocation").text);
    EXPECT_FALSE(Exists(Folder(CSIDL_PROGRAM_FILES) + "\\QuorvelUSBKEY")) << "the upgrade kept its folder";
    EXPECT_EQ(1, EntriesNamedLikeTheTool());
    EXPECT_EQ(libraryBytes, Bytes(library));

    // Uninstalled: the uninstaller runs from a copy of itself, so its end is
    // seen in what it removes. The running tool ends; the library beside it,
    // the folder that still holds it, and someone else's autostart stay.
    HANDLE running = OpenProcess(SYNCHRONIZE, FALSE, copies[0].pid);
    ASSERT_EQ(0u, RunWait("\"" + uninstaller + "\" /S"));
    EXPECT_TRUE(WaitFor([&] { return !KeyExists(kToolKey) && !Exists(uninstaller); }, 60000));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(running, 0));
    CloseHandle(running);
    EXPECT_TRUE(RunningCopies().empty());
    EXPECT_FALSE(Exists(exe));
    EXPECT_FALSE(Exists(uninstaller));
    EXPECT_FALSE(Exists(Shortcut()));
    EXPECT_FALSE(ReadValue(kRunKey, "QuorvelUSBKEY").found);
    EXPECT_EQ("C:\\other\\other.exe", ReadValue(kRunKey, kForeignRunValue).text);
    EXPECT_EQ(0, EntriesNamedLikeTheTool());
    ASSERT_TRUE(Exists(library));
    EXPECT_EQ(libraryBytes, Bytes(library));
}

}  // namespace

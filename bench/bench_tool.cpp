// Not a test: the real tool seen from another process.
//   start-up  from CreateProcess until the main window exists and answers,
//             against the same for bench_minimal_dialog.exe, with no key and
//             with one simulated key;
//   objects   GDI objects, windows and private bytes of the running tool
//             after start and after 10,000 refresh commands.
// Prints one "name value" line per figure for bench/run.sh.
#include "bench/Counters.h"
#include "res/resource.h"
#include "tests/support/ToolProcess.h"
#include "tests/tokensim/TokensimTestSupport.h"
#include <cstdio>
#include <string>

using namespace e2e;

namespace {

HWND WindowOf(DWORD pid, const char* title) {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "#32770", title)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid) return w;
    }
    return nullptr;
}

// Seconds from CreateProcess until the window answers; -1 on failure.
double StartOnce(const char* exe, const char* title) {
    std::string path = BinPath(exe);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    double start = Now();
    if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    HWND wnd = nullptr;
    DWORD_PTR result = 0;
    while (!(wnd = WindowOf(pi.dwProcessId, title)) ||
           !SendMessageTimeoutA(wnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) {
        if (Now() - start > 30 || WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) break;
        Sleep(1);
    }
    double took = wnd ? Now() - start : -1;
    if (wnd) PostMessageA(wnd, WM_USER + 1, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return took;
}

double MedianStart(const char* exe, const char* title, int runs) {
    double samples[32];
    StartOnce(exe, title);   // warm the file cache and the prefix
    for (int i = 0; i < runs; ++i)
        if ((samples[i] = StartOnce(exe, title)) < 0) return -1;
    return Median(samples, runs);
}

void PrintCounts(const char* when, HANDLE process, DWORD pid) {
    CCounts c = CountsOf(process, pid);
    printf("tool_%s_gdi %d\ntool_%s_windows %d\ntool_%s_private %zu\n", when, c.gdi, when, c.windows, when,
           (size_t)c.privateBytes);
}

}  // namespace

int main() {
    const int kRuns = 10;
    tstest::NewStore("bench-tool");
    printf("minimal_start_ms %.1f\n", MedianStart("bench_minimal_dialog.exe", "QRVL minimal", kRuns) * 1e3);
    printf("tool_start_nokey_ms %.1f\n", MedianStart("QuorvelUSBKEY.exe", kTitle, kRuns) * 1e3);
    if (Tokensim("create demo --label 演示KEY") != 0 ||
        Tokensim("add-cert demo c1 1 " + tstest::DataFile("zhangsan.der")) != 0 ||
        Tokensim("add-cert demo c2 2 " + tstest::DataFile("signing.der")) != 0 || Tokensim("insert demo") != 0) {
        fprintf(stderr, "bench_tool: tokensim could not make the key\n");
        return 1;
    }
    printf("tool_start_onekey_ms %.1f\n", MedianStart("QuorvelUSBKEY.exe", kTitle, kRuns) * 1e3);

    CToolProcess tool;
    if (!tool.Start() || !WaitFor([&] { return tool.Labels().size() == 1; })) {
        fprintf(stderr, "bench_tool: the tool did not start with its key\n");
        return 1;
    }
    WaitFor([] { return false; }, 2000);   // balloons, the store, the tray settle
    HANDLE process = tool.m_pi.hProcess;
    PrintCounts("start", process, tool.m_pi.dwProcessId);
    const int kRefreshes = 10000;
    double start = Now();
    for (int i = 0; i < kRefreshes; ++i) SendMessageA(tool.wnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, 0), 0);
    printf("tool_refresh_ms %.3f\n", (Now() - start) / kRefreshes * 1e3);
    WaitFor([] { return false; }, 500);
    PrintCounts("refreshed", process, tool.m_pi.dwProcessId);
    tool.Quit();
    return 0;
}

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
#include <psapi.h>
#include <cstdio>
#include <string>

using namespace e2e;

namespace {

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
    while (!(wnd = CToolProcess::MainWindowOf(pi.dwProcessId, title)) ||
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

// The machine is shared and Wine's start-up varies by tens of milliseconds
// from minute to minute: the two programs start in turns, so that both see
// the same conditions, and the medians are taken over the same stretch.
void MedianStarts(const char* title, int runs, double* minimal, double* tool) {
    double a[32], b[32];
    StartOnce("bench_minimal_dialog.exe", "QRVL minimal");   // warm the file cache
    StartOnce("QuorvelUSBKEY.exe", title);
    *minimal = *tool = -1;
    for (int i = 0; i < runs; ++i) {
        a[i] = StartOnce("bench_minimal_dialog.exe", "QRVL minimal");
        b[i] = StartOnce("QuorvelUSBKEY.exe", title);
        if (a[i] < 0 || b[i] < 0) return;
    }
    *minimal = Median(a, runs) * 1e3;
    *tool = Median(b, runs) * 1e3;
}

// What the system's own counters give for a process here; under Wine 8 all
// three are 0, which is why the counts above are taken another way.
void PrintSystemCounters(HANDLE process) {
    SetLastError(0);
    DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    DWORD error = GetLastError();
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS*)&pmc, sizeof pmc);
    printf("sys_guiresources_user %lu\nsys_guiresources_gdi %lu\nsys_guiresources_error %lu\n"
           "sys_privateusage %zu\nsys_pagefileusage %zu\n",
           (unsigned long)user, (unsigned long)gdi, (unsigned long)error, (size_t)pmc.PrivateUsage,
           (size_t)pmc.PagefileUsage);
}

// The counts must see what this process makes and frees: 16 pens, 4 windows
// and 1 MiB. The first round is not counted: the first windows of a process
// leave things of the system's behind (its DCs, fonts, classes).
void PrintSelfCheck() {
    HANDLE self = GetCurrentProcess();
    DWORD pid = GetCurrentProcessId();
    CCounts before, during, after;
    for (int round = 0; round < 2; ++round) {
        before = CountsOf(self, pid);
        HPEN pens[16];
        HWND wnds[4];
        for (HPEN& pen : pens) pen = CreatePen(PS_SOLID, 1, RGB(1, 2, 3));
        for (HWND& wnd : wnds)
            wnd = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        void* block = VirtualAlloc(nullptr, 1 << 20, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        during = CountsOf(self, pid);
        for (HPEN pen : pens) DeleteObject(pen);
        for (HWND wnd : wnds) DestroyWindow(wnd);
        VirtualFree(block, 0, MEM_RELEASE);
        after = CountsOf(self, pid);
    }
    printf("check_gdi_made %d\ncheck_gdi_left %d\ncheck_windows_made %d\ncheck_windows_left %d\n"
           "check_private_made %lld\ncheck_private_left %lld\n",
           during.gdi - before.gdi, after.gdi - before.gdi, during.windows - before.windows,
           after.windows - before.windows, (long long)during.privateBytes - (long long)before.privateBytes,
           (long long)after.privateBytes - (long long)before.privateBytes);
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
    PrintSelfCheck();
    double minimal = 0, started = 0;
    MedianStarts(kTitle, kRuns, &minimal, &started);
    printf("minimal_start_nokey_ms %.1f\ntool_start_nokey_ms %.1f\n", minimal, started);
    if (Tokensim("create demo --label 演示KEY") != 0 ||
        Tokensim("add-cert demo c1 1 " + tstest::DataFile("zhangsan.der")) != 0 ||
        Tokensim("add-cert demo c2 2 " + tstest::DataFile("signing.der")) != 0 || Tokensim("insert demo") != 0) {
        fprintf(stderr, "bench_tool: tokensim could not make the key\n");
        return 1;
    }
    MedianStarts(kTitle, kRuns, &minimal, &started);
    printf("minimal_start_onekey_ms %.1f\ntool_start_onekey_ms %.1f\n", minimal, started);

    CToolProcess tool;
    if (!tool.Start() || !WaitFor([&] { return tool.Labels().size() == 1; })) {
        fprintf(stderr, "bench_tool: the tool did not start with its key\n");
        return 1;
    }
    WaitFor([] { return false; }, 2000);   // balloons, the store, the tray settle
    HANDLE process = tool.m_pi.hProcess;
    PrintCounts("start", process, tool.m_pi.dwProcessId);
    PrintSystemCounters(process);
    const int kRefreshes = 10000;
    double start = Now();
    for (int i = 0; i < kRefreshes; ++i) SendMessageA(tool.wnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, 0), 0);
    printf("tool_refresh_ms %.3f\n", (Now() - start) / kRefreshes * 1e3);
    WaitFor([] { return false; }, 500);
    PrintCounts("refreshed", process, tool.m_pi.dwProcessId);
    tool.Quit();
    return 0;
}

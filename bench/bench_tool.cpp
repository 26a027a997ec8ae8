// Not a test: the real tool seen from another process.
//   start-up  from CreateProcess until WaitForInputIdle returns and until
//             the main window exists and answers, against the same for
//             bench_minimal_dialog.exe (the yardstick), with no key and with
//             one simulated key; and the yardstick loading the DLLs that the
//             tool has loaded beyond its own;
//   footprint working set, private memory and mapped images a second after
//             start, against the yardstick; the working set also against
//             the yardstick holding every DLL the tool holds;
//   objects   GDI objects, windows and private bytes of the running tool
//             after start and after 10,000 refresh commands.
// Prints one "name value" line per figure for bench/run.sh.
#include "bench/Counters.h"
#include "res/resource.h"
#include "tests/support/ToolProcess.h"
#include "tests/tokensim/TokensimTestSupport.h"
#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace e2e;

namespace {

const char kMinimal[] = "bench_minimal_dialog.exe";
const char kMinimalTitle[] = "QRVL minimal";
const char kTool[] = "QuorvelUSBKEY.exe";

struct CStart {
    double idle = -1;     // seconds from CreateProcess until WaitForInputIdle returns
    double answer = -1;   // ... until the main window exists and answers WM_NULL
    CCounts counts;       // what the process holds once it has settled (when asked for)
    std::vector<std::string> modules;   // the DLLs it has loaded by then (when asked for)
};

struct CWatch {
    DWORD pid;
    HANDLE process;
    const char* title;
    double start;
    double answer;
};

// Until the window answers: polled from a thread of its own, so that the
// main thread can wait for the input idle at the same time.
DWORD WINAPI WatchWindow(void* param) {
    auto* w = (CWatch*)param;
    DWORD_PTR result = 0;
    for (;;) {
        HWND wnd = CToolProcess::MainWindowOf(w->pid, w->title);
        if (wnd && SendMessageTimeoutA(wnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) {
            w->answer = Now() - w->start;
            return 0;
        }
        if (Now() - w->start > 30 || WaitForSingleObject(w->process, 0) == WAIT_OBJECT_0) return 1;
        Sleep(1);
    }
}

std::vector<std::string> ModulesOf(HANDLE process) {
    HMODULE mods[512];
    DWORD bytes = 0;
    std::vector<std::string> names;
    if (!EnumProcessModules(process, mods, sizeof mods, &bytes)) return names;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; ++i) {
        char name[MAX_PATH] = {};
        if (GetModuleBaseNameA(process, mods[i], name, sizeof name)) names.push_back(CharLowerA(name));
    }
    return names;
}

// The modules of mods (the tool's) that base does not hold, the tool's exe
// left out, as a command line for the yardstick.
std::string ModulesBeyond(const std::vector<std::string>& mods, const std::vector<std::string>& base) {
    std::string beyond;
    for (const std::string& m : mods)
        if (m != "quorvelusbkey.exe" && std::find(base.begin(), base.end(), m) == base.end())
            beyond += (beyond.empty() ? "" : " ") + m;
    return beyond;
}

// One start: from CreateProcess until the input idle and until the window
// answers; with settleMs > 0, what the process holds that long after.
CStart StartOnce(const char* exe, const char* title, const std::string& args = "", DWORD settleMs = 0) {
    CStart r;
    std::string cmd = "\"" + BinPath(exe) + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    double start = Now();
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return r;
    CWatch watch = {pi.dwProcessId, pi.hProcess, title, start, -1};
    HANDLE thread = CreateThread(nullptr, 0, WatchWindow, &watch, 0, nullptr);
    DWORD idle = WaitForInputIdle(pi.hProcess, 30000);
    if (idle == 0)
        r.idle = Now() - start;
    else
        fprintf(stderr, "bench_tool: %s: WaitForInputIdle gave %lu (error %lu)\n", exe, (unsigned long)idle,
                (unsigned long)GetLastError());
    WaitForSingleObject(thread, 40000);
    CloseHandle(thread);
    r.answer = watch.answer;
    if (r.answer < 0) fprintf(stderr, "bench_tool: %s: the window did not answer\n", exe);
    HWND wnd = CToolProcess::MainWindowOf(pi.dwProcessId, title);
    if (wnd && settleMs) {
        Sleep(settleMs);
        r.counts = CountsOf(pi.hProcess, pi.dwProcessId);
        r.modules = ModulesOf(pi.hProcess);
    }
    if (wnd) PostMessageA(wnd, WM_USER + 1, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    if (r.answer < 0) r.idle = -1;
    return r;
}

// The machine is shared and Wine's start-up varies by tens of milliseconds
// from minute to minute: the programs start in turns, so that all see the
// same conditions, and the medians are taken over the same stretch. With no
// key the yardstick also starts loading the token library first, and loading
// the DLLs the tool has loaded beyond the yardstick's (when there are any):
// what the tool pays for them.
bool MedianStarts(const char* tag, int runs, const std::string& extraDlls) {
    struct {
        const char* name;
        const char* exe;
        const char* title;
        std::string args;
    } programs[] = {{"minimal", kMinimal, kMinimalTitle, ""},
                    {"tool", kTool, kTitle, ""},
                    {"minimal_token", kMinimal, kMinimalTitle, "MorvaneFun_qrvl.dll"},
                    {"minimal_dlls", kMinimal, kMinimalTitle, extraDlls}};
    int count = strcmp(tag, "nokey") != 0 ? 2 : extraDlls.empty() ? 3 : 4;
    double idle[4][32], answer[4][32];
    StartOnce(kMinimal, kMinimalTitle);   // warm the file cache
    StartOnce(kTool, kTitle);
    for (int i = 0; i < runs; ++i) {
        for (int p = 0; p < count; ++p) {
            CStart s = StartOnce(programs[p].exe, programs[p].title, programs[p].args);
            if (s.idle < 0) {
                // A start that never became idle on the loaded machine is not
                // a measurement: once more, then give up.
                fprintf(stderr, "bench_tool: %s (%s) did not start, run %d; once more\n", programs[p].name, tag, i);
                s = StartOnce(programs[p].exe, programs[p].title, programs[p].args);
                if (s.idle < 0) return false;
            }
            idle[p][i] = s.idle;
            answer[p][i] = s.answer;
        }
    }
    for (int p = 0; p < count; ++p)
        printf("%s_idle_%s_ms %.1f\n%s_answer_%s_ms %.1f\n", programs[p].name, tag, Median(idle[p], runs) * 1e3,
               programs[p].name, tag, Median(answer[p], runs) * 1e3);
    return true;
}

// What the tool and the yardstick hold a second after start (median of
// three starts each, in turns), and the DLLs the tool has loaded beyond the
// yardstick's with the token library loaded, as a command line for the
// yardstick.
std::string PrintFootprint(const char* tag) {
    const int kRuns = 3;
    double v[2][4][kRuns];
    std::vector<std::string> mods[2];
    // The DLLs that the token library brings (the stand-in's crypt32) are
    // the library's, not the tool's.
    std::vector<std::string> withToken = StartOnce(kMinimal, kMinimalTitle, "MorvaneFun_qrvl.dll", 1000).modules;
    for (int i = 0; i < kRuns; ++i) {
        for (int p = 0; p < 2; ++p) {
            CStart s = p == 0 ? StartOnce(kMinimal, kMinimalTitle, "", 1000) : StartOnce(kTool, kTitle, "", 1000);
            v[p][0][i] = (double)s.counts.workingSet;
            v[p][1][i] = (double)s.counts.privateBytes;
            v[p][2][i] = (double)s.counts.imageBytes;
            v[p][3][i] = (double)s.modules.size();
            mods[p] = s.modules;
        }
    }
    const char* names[] = {"minimal", "tool"};
    const char* what[] = {"workingset", "private", "images", "modules"};
    for (int p = 0; p < 2; ++p)
        for (int k = 0; k < 4; ++k) printf("%s_%s_%s %.0f\n", names[p], what[k], tag, Median(v[p][k], kRuns));
    std::string extra = ModulesBeyond(mods[1], withToken);
    fprintf(stderr, "DLLs the tool has loaded beyond the yardstick's (%s): %s\n", tag, extra.c_str());
    printf("tool_extra_dlls_%s %d\n", tag, extra.empty() ? 0 : (int)std::count(extra.begin(), extra.end(), ' ') + 1);

    // The yardstick holding every DLL the tool holds (the token library and
    // what it and the tool's work with a key load): what of the footprint is
    // those DLLs' own.
    std::string loaded = ModulesBeyond(mods[1], mods[0]);
    double w[kRuns];
    for (int i = 0; i < kRuns; ++i) w[i] = (double)StartOnce(kMinimal, kMinimalTitle, loaded, 1000).counts.workingSet;
    printf("minimal_loaded_workingset_%s %.0f\n", tag, Median(w, kRuns));
    fprintf(stderr, "DLLs the tool holds beyond the yardstick's (%s): %s\n", tag, loaded.c_str());
    return extra;
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
    const int kRuns = 12;
    tstest::NewStore("bench-tool");
    PrintSelfCheck();
    std::string extra = PrintFootprint("nokey");
    if (!MedianStarts("nokey", kRuns, extra)) {
        fprintf(stderr, "bench_tool: a start with no key failed\n");
        return 1;
    }
    if (Tokensim("create demo --label 演示KEY") != 0 ||
        Tokensim("add-cert demo c1 1 " + tstest::DataFile("zhangsan.der")) != 0 ||
        Tokensim("add-cert demo c2 2 " + tstest::DataFile("signing.der")) != 0 || Tokensim("insert demo") != 0) {
        fprintf(stderr, "bench_tool: tokensim could not make the key\n");
        return 1;
    }
    PrintFootprint("onekey");
    if (!MedianStarts("onekey", kRuns, "")) {
        fprintf(stderr, "bench_tool: a start with one key failed\n");
        return 1;
    }

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

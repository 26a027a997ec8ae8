#include "bench/Counters.h"
#include <psapi.h>
#include <winternl.h>
#include <algorithm>
#include <vector>

namespace {

// One entry of the GDI handle table, as the PEB's GdiSharedHandleTable holds it.
struct CGdiEntry {
    ULONGLONG object;
    ULONG owner;
    USHORT instance;
    UCHAR type;
    UCHAR flags;
    ULONGLONG user;
};
static_assert(sizeof(CGdiEntry) == 24, "GDI handle table entry");
const int kGdiEntries = 0x10000;
#ifdef _WIN64
const size_t kPebGdiTable = 0xF8;
#else
const size_t kPebGdiTable = 0x94;
#endif

int CountGdi(HANDLE process) {
    typedef NTSTATUS(NTAPI * QueryProc)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    QueryProc query = (QueryProc)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION info = {};
    if (!query || query(process, ProcessBasicInformation, &info, sizeof info, nullptr) != 0) return -1;
    BYTE* table = nullptr;
    if (!ReadProcessMemory(process, (BYTE*)info.PebBaseAddress + kPebGdiTable, &table, sizeof table, nullptr) ||
        !table)
        return -1;
    std::vector<CGdiEntry> entries(kGdiEntries);
    if (!ReadProcessMemory(process, table, entries.data(), entries.size() * sizeof(CGdiEntry), nullptr)) return -1;
    int used = 0;
    for (const CGdiEntry& e : entries) used += e.type != 0;
    return used;
}

struct CWindowCount {
    DWORD pid;
    int count;
};
BOOL CALLBACK CountChild(HWND, LPARAM param) {
    ((CWindowCount*)param)->count++;
    return TRUE;
}
BOOL CALLBACK CountTop(HWND wnd, LPARAM param) {
    auto* c = (CWindowCount*)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid == c->pid) {
        c->count++;
        EnumChildWindows(wnd, CountChild, param);
    }
    return TRUE;
}

int CountWindows(DWORD pid) {
    CWindowCount c = {pid, 0};
    EnumWindows(CountTop, (LPARAM)&c);
    for (HWND w = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
         w = FindWindowExA(HWND_MESSAGE, w, nullptr, nullptr))
        CountTop(w, (LPARAM)&c);
    return c.count;
}

SIZE_T CountCommitted(HANDLE process, DWORD type) {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (BYTE* at = nullptr; VirtualQueryEx(process, at, &mbi, sizeof mbi) == sizeof mbi;
         at = (BYTE*)mbi.BaseAddress + mbi.RegionSize) {
        if (mbi.State == MEM_COMMIT && mbi.Type == type) total += mbi.RegionSize;
        if ((BYTE*)mbi.BaseAddress + mbi.RegionSize < at) break;
    }
    return total;
}

}  // namespace

CCounts CountsOf(HANDLE process, DWORD pid) {
    CCounts c;
    c.gdi = CountGdi(process);
    c.windows = CountWindows(pid);
    c.privateBytes = CountCommitted(process, MEM_PRIVATE);
    c.imageBytes = CountCommitted(process, MEM_IMAGE);
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (GetProcessMemoryInfo(process, &pmc, sizeof pmc)) c.workingSet = pmc.WorkingSetSize;
    return c;
}

double Median(double* samples, int count) {
    std::sort(samples, samples + count);
    return count % 2 ? samples[count / 2] : (samples[count / 2 - 1] + samples[count / 2]) / 2;
}

double Now() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return (double)t.QuadPart / (double)f.QuadPart;
}

// Not a test: the main window's full refresh and the certificate page's
// listing, in this process, with eight keys of six certificates each. Built
// twice: bench_refresh_standin links the stand-in library (MorvaneFun_qrvl.dll
// through the import library), bench_refresh_double the in-process test double
// whose own time is next to nothing; bench/run.sh takes the library's share
// from the difference.
//
// Both count GDI objects, windows and private bytes after start, after 10,000
// refreshes and after 1,000 removals and insertions of a key beside another
// (the device-change path with the settle time set to zero): with the double,
// what grows is the tool's own.
#include "app/DlgMain.h"
#include "bench/Counters.h"
#include "devices/DeviceChange.h"
#include "res/resource.h"
#include "tests/support/TestSupport.h"
#include <dbt.h>
#include <cstdio>
#include <cstring>
#include <string>
#ifdef QRVL_BENCH_DOUBLE
#include "tests/fake/FakeToken.h"
#else
#include "tests/tokensim/TokensimTestSupport.h"
#endif

namespace {

const int kKeys = 8, kContainers = 6;

bool MakeKeys() {
#ifdef QRVL_BENCH_DOUBLE
    g_fake.AddKeysWithCertificates(kKeys, kContainers, "zhangsan.der");
    return true;
#else
    tstest::NewStore("bench-refresh");
    for (int k = 1; k <= kKeys; ++k) {
        std::string name = "k" + std::to_string(k), label = "KEY" + std::to_string(k);
        tstest::CKeySpec spec;
        spec.name = name.c_str();
        spec.label = label.c_str();
        spec.containers = kContainers;
        if (!tstest::MakeKey(spec)) return false;
    }
    return true;
#endif
}

void ForgetCalls() {
#ifdef QRVL_BENCH_DOUBLE
    g_fake.calls.clear();
#endif
}

#ifndef QRVL_BENCH_DOUBLE
// Inserts or removes a key of the current store as `tokensim insert|remove`
// does (an inserted key is listed last), without the broadcast.
bool SetInserted(const char* name, bool inserted) {
    using namespace tokensim;
    CStoreLock lock;
    CIndex index;
    if (!lock.Ok() || LoadIndex(index) != 0) return false;
    CIndexEntry* e = index.FindName(name);
    if (!e || e->inserted == inserted) return false;
    CIndexEntry moved = *e;
    moved.inserted = inserted;
    index.keys.erase(index.keys.begin() + (e - index.keys.data()));
    index.keys.push_back(moved);
    return SaveIndex(index) == 0;
}
#endif

// Takes the last key out or puts it back, as a user pulling and plugging it.
bool SetLastKeyInserted(bool inserted) {
#ifdef QRVL_BENCH_DOUBLE
    static FakeKey s_out;
    if (inserted) {
        g_fake.keys.push_back(s_out);
    } else {
        s_out = g_fake.keys.back();
        g_fake.keys.pop_back();
    }
    g_fake.calls.clear();
    g_fake.loadedToIE.clear();
    return true;
#else
    return SetInserted("k8", inserted);
#endif
}

// Median time of one call of what, in milliseconds.
template <class F> double MedianMs(int runs, F what) {
    static double samples[1000];
    for (int i = 0; i < runs; ++i) {
        double start = Now();
        what();
        samples[i] = (Now() - start) * 1e3;
        ForgetCalls();
    }
    return Median(samples, runs);
}

void PrintCounts(const char* when) {
    CCounts c = CountsOf(GetCurrentProcess(), GetCurrentProcessId());
    printf("inproc_%s_gdi %d\ninproc_%s_windows %d\ninproc_%s_private %zu\n", when, c.gdi, when, c.windows, when,
           (size_t)c.privateBytes);
}

}  // namespace

// With the argument "timing" only the two times are printed.
int main(int argc, char** argv) {
    bool timingOnly = argc > 1 && strcmp(argv[1], "timing") == 0;
    g_deviceSettleMs = 0;
    if (!MakeKeys()) {
        fprintf(stderr, "bench_refresh: could not make the keys\n");
        return 1;
    }
    CDlgMain dlg;
    if (!dlg.Create(IDD_MAIN, nullptr)) return 1;
    PumpMessages(200);
    dlg.CreatePages();   // as the tool's modal loop does at its first idle
    HWND wnd = dlg.m_hWnd;

    const int kRuns = 200;
    double refresh = MedianMs(kRuns, [&] { SendMessageA(wnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, 0), 0); });
    double listing = MedianMs(kRuns, [&] { dlg.m_pageCerts.RefreshTree(); });
    printf("refresh_ms %.3f\nlisting_ms %.3f\n", refresh, listing);
    if (timingOnly) return 0;
    PumpMessages(500);
    PrintCounts("start");
    for (int i = 0; i < 10000; ++i) {
        SendMessageA(wnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, 0), 0);
        ForgetCalls();
        if (i % 100 == 0) PumpMessages();
    }
    PumpMessages(500);
    PrintCounts("refreshed");
    // Two keys for the cycles: the first stays, the last comes and goes.
    for (int k = 2; k < kKeys; ++k) {
#ifdef QRVL_BENCH_DOUBLE
        g_fake.keys.erase(g_fake.keys.begin() + 1);
#else
        SetInserted(("k" + std::to_string(k)).c_str(), false);
#endif
    }
    SendMessageA(wnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    ForgetCalls();
    PumpMessages(500);
    PrintCounts("precycle");
    // The last key leaves and comes back: the count changes both times, so
    // every change runs the whole arrival or removal path.
    for (int i = 0; i < 1000; ++i) {
        for (bool inserted : {false, true}) {
            if (!SetLastKeyInserted(inserted)) {
                fprintf(stderr, "bench_refresh: the store did not take the change\n");
                return 1;
            }
            SendMessageA(wnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        }
        if (i % 10 == 0) PumpMessages();
    }
    PumpMessages(500);
    PrintCounts("cycled");
    return 0;
}

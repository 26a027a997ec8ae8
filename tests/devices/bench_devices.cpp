// Not a test: the main window's own cost for device-change messages with an
// unchanged key count (the common case: every USB event on the machine) and
// for a full refresh with eight keys, with the test double as the library so
// that the library's own time is next to nothing.
#include "app/DlgMain.h"
#include "devices/DeviceChange.h"
#include "devices/UsbCleanup.h"
#include "res/resource.h"
#include "tests/fake/FakeToken.h"
#include "tests/support/TestSupport.h"
#include <dbt.h>
#include <cstdio>

static double Now() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return (double)t.QuadPart / (double)f.QuadPart;
}

int main() {
    g_deviceSettleMs = 0;
    g_fake.AddKeysWithCertificates(8, 6, "zhangsan.der");
    CDlgMain dlg;
    if (!dlg.Create(IDD_MAIN, nullptr)) return 1;
    PumpMessages(50);
    dlg.CreatePages();   // as the tool's modal loop does at its first idle

    const int kEvents = 1000;
    g_fake.calls.clear();
    double start = Now();
    for (int i = 0; i < kEvents; ++i) SendMessageA(dlg.m_hWnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    double perEvent = (Now() - start) / kEvents;
    printf("device change, unchanged count: %.1f us per message (%d messages, %zu library calls)\n",
           perEvent * 1e6, kEvents, g_fake.calls.size());

    const int kRefreshes = 200;
    start = Now();
    for (int i = 0; i < kRefreshes; ++i) SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_REFRESH, 0), 0);
    printf("full refresh, 8 keys, 6 certificates on the current one: %.2f ms\n",
           (Now() - start) / kRefreshes * 1e3);
    return 0;
}

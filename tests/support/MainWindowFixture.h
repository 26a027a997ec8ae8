// The fixture of the tests that drive the tool's real main window in this
// process, with the test double of the token library: the double and the
// device state reset, no settle pause, and the system's device set-up
// functions replaced as the test asks.
#pragma once
#include "app/DlgMain.h"
#include "devices/DeviceChange.h"
#include "devices/UsbCleanup.h"
#include "res/resource.h"
#include "tests/fake/FakeToken.h"
#include "tests/support/TestSupport.h"
#include "token/SlotList.h"
#include <gtest/gtest.h>
#include <memory>

// The system's device set-up functions, but with no USB class to clean up.
inline BOOL WINAPI NoClassImageList(PSP_CLASSIMAGELIST_DATA) { return FALSE; }
inline DeviceSetupApi SystemDevicesWithoutCleanUp() {
    DeviceSetupApi api = kSystemDeviceSetupApi;
    api.getClassImageList = NoClassImageList;
    return api;
}

class CMainWindowFixture : public ::testing::Test {
protected:
    explicit CMainWindowFixture(const DeviceSetupApi& devices) : m_devices(devices) {}
    void SetUp() override {
        g_fake.Reset();
        g_deviceSettleMs = 0;
        g_slotCount = 0;
        g_deviceSetupApi = m_devices;
    }
    void TearDown() override {
        dlg.reset();
        g_deviceSetupApi = kSystemDeviceSetupApi;
        PumpMessages();
    }
    // The main window from its template; with pages, also the pages that the
    // tool makes just after start-up.
    void Open(bool pages = true) {
        dlg.reset(new CDlgMain);
        ASSERT_TRUE(dlg->Create(IDD_MAIN, nullptr));
        if (pages) dlg->CreatePages();
    }
    bool Visible() { return IsWindowVisible(dlg->m_hWnd) != FALSE; }

    std::unique_ptr<CDlgMain> dlg;
    DeviceSetupApi m_devices;
};

// The main window's reaction to keys coming and going.
#include "devices/DeviceChange.h"
#include "app/DlgMain.h"
#include "app/Notify.h"
#include "token/SlotList.h"
#include "token/WebFile.h"
#include <dbt.h>
#include <cstring>

DWORD g_deviceSettleMs = 1000;

static const uint32_t kBalloonInserted = 10;
static const uint32_t kBalloonRemoved = 11;
static const uint32_t kBalloonRegistered = 19;

bool IsWebAddress(const char* text) {
    return _strnicmp(text, "http://", 7) == 0 || _strnicmp(text, "https://", 8) == 0;
}

int ReadWebFile(TOKEN_KEY key, char* text, uint32_t* length) {
    uint16_t ids[TOKEN_MAX_FILE_IDS] = {};
    BYTE content[WEBFILE_SIZE] = {};
    uint16_t count = 0;
    if (CSP_FileAllID(key, &count, ids) != TOKEN_OK) return 0;
    uint32_t inList = count < TOKEN_MAX_FILE_IDS ? count : TOKEN_MAX_FILE_IDS;
    bool found = false;
    for (uint32_t i = 0; i < inList && !found; ++i) found = ids[i] == (uint16_t)WEBFILE_ID;
    if (!found) {
        *length = 0;
        return 1;
    }
    if (CSP_FileRead(key, WEBFILE_ID, 0, WEBFILE_SIZE, content) != TOKEN_OK) return 0;
    size_t n = WebFileAddressLength(content);
    memcpy(text, content, n);
    *length = (uint16_t)n;
    return 1;
}

BOOL CDlgMain::OnDeviceChange(UINT eventType, DWORD_PTR) {
    if (eventType == DBT_DEVICEARRIVAL || eventType == DBT_DEVICEREMOVECOMPLETE) return TRUE;

    CSP_GetSlotList(nullptr, &g_slotCount);
    BOOL present = g_slotCount > 0;
    m_pageImport.EnableControls(present);
    m_pageCerts.EnableControls(present);
    m_pagePassword.EnableControls(present);
    m_pageLabel.EnableControls(present);
    if (g_slotCount == m_lastKeyCount) return TRUE;

    ::Sleep(g_deviceSettleMs);
    CSP_GetSlotList(g_slotList, &g_slotCount);
    bool inserted = m_lastKeyCount < g_slotCount;
    if (inserted) AddTrayIcon(TRUE);
    if (eventType != 0) NotifyMainWindows(inserted ? kBalloonInserted : kBalloonRemoved);
    m_lastKeyCount = g_slotCount;

    CSP_UnloadIECert();
    if (g_slotCount > 0) {
        uint32_t inList = g_slotCount < TOKEN_MAX_KEYS ? g_slotCount : TOKEN_MAX_KEYS;
        for (uint32_t i = 0; i < inList; ++i) {
            uint32_t status = 0;
            // A key whose status cannot be read gets nothing loaded.
            if (CSP_GetSlotStatus(g_slotList[i], &status) == TOKEN_OK && status > 1)
                CSP_LoadCertToIE(g_slotList[i], TOKEN_LOADCERT_ALL);
        }
        NotifyMainWindows(kBalloonRegistered);
    }

    if (inserted) {
        char address[WEBFILE_SIZE] = {};
        uint32_t length = 0;
        // A file on a key never makes the tool start a program or open a
        // local file: only web addresses go to the shell.
        if (ReadWebFile(g_slotList[0], address, &length) == 1 && length != 0 && IsWebAddress(address))
            ::ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOW);
    }

    OnRefresh();
    return TRUE;
}

// Clean-up of stale registry entries of the key's USB device, run when the
// library finds no key.
#pragma once
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

extern HDEVINFO g_hDevInfo;                        // the set of the last clean-up, or INVALID_HANDLE_VALUE
extern SP_CLASSIMAGELIST_DATA g_classImageList;    // size 0 until obtained, then kept
extern char g_devIdText[260];                      // identification text of the device examined

// The device-setup calls of the clean-up. The real ones by default; tests put
// their own here, since no device with a problem can be made to order.
struct DeviceSetupApi {
    HDEVINFO (WINAPI* getClassDevs)(const GUID*, PCSTR, HWND, DWORD);
    BOOL (WINAPI* destroyDeviceInfoList)(HDEVINFO);
    BOOL (WINAPI* getClassImageList)(PSP_CLASSIMAGELIST_DATA);
    BOOL (WINAPI* getClassImageIndex)(PSP_CLASSIMAGELIST_DATA, const GUID*, PINT);
    BOOL (WINAPI* enumDeviceInfo)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
    BOOL (WINAPI* getDeviceRegistryProperty)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
    CONFIGRET (WINAPI* getDevNodeStatus)(PULONG, PULONG, DEVINST, ULONG);
};
extern DeviceSetupApi g_deviceSetupApi;
extern const DeviceSetupApi kSystemDeviceSetupApi;

// The clean-up's sub-key enumeration, RegEnumKeyExA by default. Tests put
// their own here to remove a key at a chosen moment of the walk, as another
// process may.
extern LONG (WINAPI* g_regEnumKeyEx)(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPSTR, LPDWORD, PFILETIME);

#define USBKEY_HARDWARE_ID "USB\\Vid_d1a1&Pid_2291"

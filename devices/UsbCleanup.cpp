// When no key can be found, a key may still be plugged in whose device the
// system failed to start. For each such device, everything the system
// recorded below the device's key is deleted, so that it detects and
// installs the key afresh when the user plugs it in again.
#include "devices/UsbCleanup.h"
#include "app/DlgMain.h"
#include <aclapi.h>
#include <cstring>

HDEVINFO g_hDevInfo = INVALID_HANDLE_VALUE;
SP_CLASSIMAGELIST_DATA g_classImageList;
char g_devIdText[260];

const DeviceSetupApi kSystemDeviceSetupApi = {
    SetupDiGetClassDevsA,  SetupDiDestroyDeviceInfoList, SetupDiGetClassImageList,
    SetupDiGetClassImageIndex, SetupDiEnumDeviceInfo,    SetupDiGetDeviceRegistryPropertyA,
    CM_Get_DevNode_Status,
};
DeviceSetupApi g_deviceSetupApi = kSystemDeviceSetupApi;
LONG (WINAPI* g_regEnumKeyEx)(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPSTR, LPDWORD, PFILETIME) = RegEnumKeyExA;

// The smart-card reader setup class.
static const GUID kReaderClass = {0x50DD5230, 0xBA8A, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};
static const char kUnknownDevice[] = "未知设备!";
static const char* const kEnumKeys[] = {
    "SYSTEM\\ControlSet001\\Enum\\USB\\Vid_d1a1&Pid_2291",
    "SYSTEM\\ControlSet002\\Enum\\USB\\Vid_d1a1&Pid_2291",
    "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_d1a1&Pid_2291",
};

HDEVINFO CDlgMain::OpenDeviceSet() {
    const DeviceSetupApi& api = g_deviceSetupApi;
    if (g_hDevInfo != INVALID_HANDLE_VALUE) api.destroyDeviceInfoList(g_hDevInfo);
    g_hDevInfo = api.getClassDevs(&kReaderClass, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (g_hDevInfo == INVALID_HANDLE_VALUE) {
        g_classImageList.cbSize = 0;
        return INVALID_HANDLE_VALUE;
    }
    if (g_classImageList.cbSize == 0) {
        g_classImageList.cbSize = sizeof g_classImageList;
        if (!api.getClassImageList(&g_classImageList)) {
            g_classImageList.cbSize = 0;
            api.destroyDeviceInfoList(g_hDevInfo);
            g_hDevInfo = INVALID_HANDLE_VALUE;
            return INVALID_HANDLE_VALUE;
        }
    }
    return g_hDevInfo;
}

const char* CDlgMain::GetDeviceIdText(SP_DEVINFO_DATA* device) {
    static const DWORD kProperties[] = {SPDRP_HARDWAREID, SPDRP_DEVICEDESC, SPDRP_CLASS, SPDRP_CLASSGUID};
    lstrcpynA(g_devIdText, kUnknownDevice, sizeof g_devIdText);
    bool read = false;
    for (DWORD property : kProperties) {
        // Cleared first, so that a single string read over an earlier longer
        // list ends the list: nothing of another device's ids is compared.
        memset(g_devIdText, 0, sizeof g_devIdText);
        if (g_deviceSetupApi.getDeviceRegistryProperty(g_hDevInfo, device, property, nullptr,
                                                       (BYTE*)g_devIdText, sizeof g_devIdText, nullptr)) {
            read = true;
            break;
        }
    }
    if (!read) lstrcpynA(g_devIdText, kUnknownDevice, sizeof g_devIdText);
    return g_devIdText;
}

// The security object name of a key below HKEY_LOCAL_MACHINE; false when it does not fit.
static bool KeyObjectName(const char* keyPath, char* object, size_t size) {
    return AfxFormatText(object, size, "MACHINE\\%s", keyPath) >= 0;
}

BOOL CDlgMain::GrantEveryoneFullAccess(const char* keyPath, PSECURITY_DESCRIPTOR* original) {
    if (original) *original = nullptr;
    char object[256];
    if (!KeyObjectName(keyPath, object, sizeof object)) return FALSE;
    PACL oldDacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(object, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &oldDacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return FALSE;
    EXPLICIT_ACCESS_A access;
    ZeroMemory(&access, sizeof access);
    char everyone[] = "everyone";
    BuildExplicitAccessWithNameA(&access, everyone, KEY_ALL_ACCESS, SET_ACCESS,
                                 SUB_CONTAINERS_AND_OBJECTS_INHERIT);
    PACL newDacl = nullptr;
    BOOL granted = SetEntriesInAclA(1, &access, oldDacl, &newDacl) == ERROR_SUCCESS &&
                   SetNamedSecurityInfoA(object, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                         nullptr, newDacl, nullptr) == ERROR_SUCCESS;
    if (newDacl) LocalFree(newDacl);
    if (granted && original)
        *original = descriptor;
    else
        LocalFree(descriptor);
    return granted;
}

// Puts the DACL of original, taken before the grant, back on a key that stays.
// Under the system's propagation of inherited entries, the sub-keys that only
// inherited the grant lose it with it.
static void RestoreKeyAccess(const char* keyPath, PSECURITY_DESCRIPTOR original) {
    char object[256];
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!original || !KeyObjectName(keyPath, object, sizeof object) ||
        !GetSecurityDescriptorDacl(original, &present, &dacl, &defaulted))
        return;
    SetNamedSecurityInfoA(object, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          present ? dacl : nullptr, nullptr);
}

BOOL CDlgMain::DeleteSubKeysRecursive(const char* keyPath, PSECURITY_DESCRIPTOR* keptGrant) {
    PSECURITY_DESCRIPTOR original = nullptr;
    GrantEveryoneFullAccess(keyPath, &original);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        // Each deletion moves the next sub-key to the front; a sub-key that
        // cannot be deleted stays there and is stepped over. Any other answer
        // than a name lasts (the key was removed meanwhile, say: every index
        // then answers ERROR_KEY_DELETED) and ends the walk, so it always ends.
        DWORD index = 0;
        for (;;) {
            char name[260];
            DWORD nameSize = sizeof name;
            LONG r = g_regEnumKeyEx(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
            if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) break;   // ERROR_MORE_DATA: a name too long, stepped over
            bool deleted = false;
            char path[260];
            int n = r == ERROR_SUCCESS ? AfxFormatText(path, sizeof path, "%s\\%s", keyPath, name) : -1;
            if (n >= 0) {   // a path that would not fit is never cut short
                HKEY sub;
                if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &sub) == ERROR_SUCCESS) {
                    DWORD subKeys = 0;
                    RegQueryInfoKeyA(sub, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr);
                    RegCloseKey(sub);
                    // The sub-key keeps its grant until its own deletion was tried.
                    PSECURITY_DESCRIPTOR subOriginal = nullptr;
                    if (subKeys) DeleteSubKeysRecursive(path, &subOriginal);
                    deleted = RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS;
                    if (!deleted) RestoreKeyAccess(path, subOriginal);
                    if (subOriginal) LocalFree(subOriginal);
                }
            }
            if (!deleted) ++index;
        }
        RegCloseKey(key);
    }
    if (keptGrant) {
        *keptGrant = original;
    } else {
        RestoreKeyAccess(keyPath, original);
        if (original) LocalFree(original);
    }
    return TRUE;
}

// Set while a clean-up runs. Its message box lets messages through, and a
// refresh they start must not take a new device set or overwrite the
// identification text under the clean-up that is waiting for the user.
static bool g_cleanupRunning;

void CDlgMain::CleanStaleUsbEntries() {
    const DeviceSetupApi& api = g_deviceSetupApi;
    if (g_cleanupRunning) return;
    if (OpenDeviceSet() == INVALID_HANDLE_VALUE) return;
    g_cleanupRunning = true;
    for (DWORD member = 0;; ++member) {
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof device;
        if (!api.enumDeviceInfo(g_hDevInfo, member, &device)) break;
        ULONG status = 0, problem = 0;
        int image = 0;
        if (api.getDevNodeStatus(&status, &problem, device.DevInst, 0) != CR_SUCCESS) continue;
        if (status & DN_NO_SHOW_IN_DM) continue;
        if (!api.getClassImageIndex(&g_classImageList, &device.ClassGuid, &image)) continue;
        if (problem == 0) continue;

        // A list of strings ended by an empty one, read within the buffer only.
        const char* text = GetDeviceIdText(&device);
        const char* end = text + sizeof g_devIdText;
        for (const char* id = text; id < end && *id;) {
            size_t len = strnlen(id, (size_t)(end - id));
            if (len == (size_t)(end - id)) break;   // unterminated: not a whole string
            if (strcmp(id, USBKEY_HARDWARE_ID) == 0) {
                for (const char* path : kEnumKeys) DeleteSubKeysRecursive(path);
                MessageBox("请重新插入USBKEY!", "提示", MB_OK);
            }
            id += len + 1;
        }
    }
    g_cleanupRunning = false;
}

#include "tests/support/RemotePage.h"
#include <cstring>

namespace remote {

namespace {

typedef LONG(NTAPI* MapViewFn)(HANDLE section, HANDLE process, PVOID* base, ULONG_PTR zeroBits,
                               SIZE_T commit, PLARGE_INTEGER offset, PSIZE_T viewSize, DWORD inherit,
                               ULONG allocation, ULONG protect);
typedef LONG(NTAPI* UnmapViewFn)(HANDLE process, PVOID base);
const DWORD kViewUnmap = 2;   // SECTION_INHERIT: the view is not inherited by children

// An ntdll function by name, as a plain pointer for the caller to cast.
void* Ntdll(const char* name) { return (void*)GetProcAddress(GetModuleHandleA("ntdll.dll"), name); }

}  // namespace

CRemotePage::CRemotePage(DWORD pid, size_t size) : m_size(size) {
    MapViewFn map = reinterpret_cast<MapViewFn>(Ntdll("NtMapViewOfSection"));
    m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION, FALSE, pid);
    m_section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, (DWORD)size, nullptr);
    if (!map || !m_process || !m_section) return;
    m_local = (BYTE*)MapViewOfFile(m_section, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (!m_local) return;
    PVOID base = nullptr;
    SIZE_T view = 0;
    if (map(m_section, m_process, &base, 0, 0, nullptr, &view, kViewUnmap, 0, PAGE_READWRITE) >= 0)
        m_remote = (BYTE*)base;
}

CRemotePage::~CRemotePage() {
    UnmapViewFn unmap = reinterpret_cast<UnmapViewFn>(Ntdll("NtUnmapViewOfSection"));
    if (m_remote && unmap) unmap(m_process, m_remote);
    if (m_local) UnmapViewOfFile(m_local);
    if (m_section) CloseHandle(m_section);
    if (m_process) CloseHandle(m_process);
}

bool CRemotePage::Write(size_t offset, const void* data, size_t size) {
    if (!m_remote || offset > m_size || size > m_size - offset) return false;
    memcpy(m_local + offset, data, size);
    return true;
}

bool CRemotePage::Read(size_t offset, void* data, size_t size) const {
    if (!m_remote || offset > m_size || size > m_size - offset) return false;
    memcpy(data, m_local + offset, size);
    return true;
}

}  // namespace remote

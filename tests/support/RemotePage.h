// A page of memory shared with another process, for messages whose lParam
// must point into the receiver (tree items, tab rectangles, tooltip records).
//
// The page is a section mapped twice: here, where it is read and written as
// plain memory, and in the other process, whose address goes into the
// message. Nothing reads or writes the other process's memory directly, so
// it also works where ReadProcessMemory and WriteProcessMemory do not: the
// 32-bit Wine run through qemu-user, whose wineserver cannot trace its
// clients. Mapping a view into another process is an asynchronous call that
// the target's own ntdll carries out, like VirtualAllocEx.
#pragma once
#include <windows.h>
#include <cstddef>

namespace remote {

class CRemotePage {
public:
    // Maps a page into process pid; Ok() says whether it worked.
    explicit CRemotePage(DWORD pid, size_t size = 4096);
    ~CRemotePage();
    CRemotePage(const CRemotePage&) = delete;
    CRemotePage& operator=(const CRemotePage&) = delete;

    bool Ok() const { return m_remote != nullptr; }
    size_t Size() const { return m_size; }
    // The address of offset in the other process, for the message.
    BYTE* At(size_t offset) const { return m_remote + offset; }
    // Copies in and out of the page; false when the range does not fit.
    bool Write(size_t offset, const void* data, size_t size);
    bool Read(size_t offset, void* data, size_t size) const;

private:
    HANDLE m_process = nullptr;
    HANDLE m_section = nullptr;
    BYTE* m_local = nullptr;
    BYTE* m_remote = nullptr;
    size_t m_size;
};

}  // namespace remote

// What a process holds, counted in a way that works under Wine 8 as on
// Windows. GetGuiResources is a stub there (0, ERROR_CALL_NOT_IMPLEMENTED)
// and PrivateUsage reads 0, so:
//   gdi      the GDI objects: the used entries of the process's GDI handle
//            table, which the PEB points at (GdiSharedHandleTable);
//   windows  the USER objects that matter here: the process's windows,
//            top-level, message-only and children (menus, icons and cursors
//            are not counted; an icon also holds GDI bitmaps, which are);
//   privateBytes  committed private memory (VirtualQueryEx, MEM_PRIVATE);
//   imageBytes    committed memory of mapped images, the exe and its DLLs
//                 (MEM_IMAGE);
//   workingSet    the process's working set (GetProcessMemoryInfo).
// The process handle needs PROCESS_QUERY_INFORMATION | PROCESS_VM_READ; the
// bench and the process it counts are of the same bitness.
#pragma once
#include <windows.h>

struct CCounts {
    int gdi = -1;
    int windows = 0;
    SIZE_T privateBytes = 0;
    SIZE_T imageBytes = 0;
    SIZE_T workingSet = 0;
};

CCounts CountsOf(HANDLE process, DWORD pid);

// Median and mean of samples in seconds.
double Median(double* samples, int count);
double Now();   // seconds, from the performance counter

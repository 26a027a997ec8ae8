// Observing what the tool asks the shell to open. ShellExecute starts a
// program in another process, so tests point the "open" verb of http, https
// and .cer at shell_logger.exe (next to the test programs), which appends its
// argument to a log file that the test then reads.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

void InstallShellLogger();   // registers the logger for http, https and .cer (HKCR)
void ClearShellLog();
// The arguments logged so far, waiting up to ms for at least count of them.
std::vector<std::string> WaitShellLog(size_t count, DWORD ms = 8000);

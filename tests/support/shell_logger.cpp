// shell_logger LOGFILE ARG: appends ARG as one line to LOGFILE. Registered by
// the tests as the program that opens http, https and .cer.
#include <windows.h>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "qrvl.shell_logger");
    WaitForSingleObject(mutex, 5000);
    if (FILE* f = fopen(argv[1], "ab")) {
        fprintf(f, "%s\n", argv[2]);
        fclose(f);
    }
    ReleaseMutex(mutex);
    return 0;
}

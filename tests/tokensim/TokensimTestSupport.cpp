#include "tests/tokensim/TokensimTestSupport.h"

#include <stdio.h>

namespace tstest {

std::string NewStore(const char* tag) {
    static int s_count = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    char dir[MAX_PATH];
    snprintf(dir, sizeof(dir), "%stokensim-%s-%lu-%d", temp, tag,
             static_cast<unsigned long>(GetCurrentProcessId()), ++s_count);
    // Process ids repeat between runs under Wine: empty a folder left by an
    // earlier run, so that every store starts with no keys.
    if (!CreateDirectoryA(dir, nullptr)) {
        WIN32_FIND_DATAA found;
        std::string pattern = std::string(dir) + "\\*";
        HANDLE find = FindFirstFileA(pattern.c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA((std::string(dir) + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(find, &found));
            FindClose(find);
        }
    }
    SetEnvironmentVariableA("TOKENSIM_STORE", dir);
    return dir;
}

TOKEN_KEY MakeKey(const CKeySpec& spec) {
    using namespace tokensim;
    CStoreLock lock;
    CIndex index;
    if (!lock.Ok() || LoadIndex(index) != 0) return 0;
    CKey key;
    key.id = index.next++;
    key.name = spec.name;
    key.label = spec.label;
    key.pin = spec.pin;
    key.tries = key.maxTries = spec.tries;
    key.status = spec.status;
    std::string der = ReadBytes(DataFile("zhangsan.der"));
    for (int i = 0; i < spec.containers; ++i) {
        CContainer c;
        c.name = "C" + std::to_string(i);
        c.flags = TOKEN_CF_SPEC1_CERT | TOKEN_CF_SPEC1_KEY;
        c.cert[0] = der;
        key.containers.push_back(c);
    }
    CIndexEntry e;
    e.id = key.id;
    e.name = key.name;
    e.inserted = spec.inserted;
    index.keys.push_back(e);
    if (SaveKey(key) != 0 || SaveIndex(index) != 0) return 0;
    return key.id;
}

std::string ReadBytes(const std::string& path) {
    std::string bytes;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return bytes;
    DWORD size = GetFileSize(h, nullptr), got = 0;
    if (size != INVALID_FILE_SIZE && size > 0) {
        bytes.resize(size);
        if (!ReadFile(h, &bytes[0], size, &got, nullptr) || got != size) bytes.clear();
    }
    CloseHandle(h);
    return bytes;
}

std::string Hex(const std::string& bytes) {
    std::string hex;
    char two[3];
    for (unsigned char c : bytes) {
        snprintf(two, sizeof two, "%02x", c);
        hex += two;
    }
    return hex;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD put = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(h);
}

std::string DataFile(const char* name) {
    return std::string(QRVL_TEST_DATA) + "\\" + name;
}

namespace {

HANDLE InheritableFile(const char* path) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &sa, CREATE_ALWAYS, 0,
                       nullptr);
}

}  // namespace

DWORD RunBin(const char* exe, const wchar_t* args, std::string* out, std::string* err) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof(self));
    std::string dir(self);
    dir = dir.substr(0, dir.find_last_of('\\') + 1);
    std::wstring command = L"\"";
    for (char c : dir + exe) command += static_cast<wchar_t>(static_cast<unsigned char>(c));
    command += L"\" ";
    command += args;

    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    // A new name for every run: a file deleted while a finished child's
    // console still holds it would vanish under the next run's output.
    static int s_run = 0;
    std::string outPath = std::string(temp) + "tokensim-run-" + std::to_string(GetCurrentProcessId()) +
                          "-" + std::to_string(++s_run) + ".out";
    std::string errPath = outPath.substr(0, outPath.size() - 3) + "err";
    HANDLE hOut = InheritableFile(outPath.c_str());
    HANDLE hErr = InheritableFile(errPath.c_str());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = hOut;
    si.hStdError = hErr;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    DWORD code = 0xFFFFFFFF;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &si, &pi)) {
        // Pump while waiting: the tool broadcasts to this thread's windows.
        DWORD start = GetTickCount();
        while (MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0 &&
               GetTickCount() - start < 60000) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        code = 0xC0DE0000u | (GetLastError() & 0xFFFF);
    }
    CloseHandle(hOut);
    CloseHandle(hErr);
    if (out) *out = ReadBytes(outPath);
    if (err) *err = ReadBytes(errPath);
    DeleteFileA(outPath.c_str());
    DeleteFileA(errPath.c_str());
    return code;
}

DWORD RunTool(const wchar_t* args, std::string* out, std::string* err) {
    return RunBin("tokensim.exe", args, out, err);
}

}  // namespace tstest

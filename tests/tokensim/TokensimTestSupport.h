// Helpers of the stand-in's tests: private stores, keys made directly in the
// store, test files, and runs of tokensim.exe.
#pragma once
#include "tokensim/Store.h"

#include <string>

namespace tstest {

// A fresh store folder under the temporary directory, set as TOKENSIM_STORE.
std::string NewStore(const char* tag);

// Writes a key directly into the current store; returns its handle.
struct CKeySpec {
    const char* name = "k";
    const char* label = "label";
    const char* pin = "123456";
    uint32_t tries = 6;
    uint32_t status = 2;
    bool inserted = true;
    int containers = 0;          // "C0".."Cn" each with the zhangsan certificate as spec 1
};
TOKEN_KEY MakeKey(const CKeySpec& spec);

std::string ReadBytes(const std::string& path);   // empty when unreadable
void WriteBytes(const std::string& path, const std::string& bytes);
std::string DataFile(const char* name);           // path of tests/data/<name>
std::string Hex(const std::string& bytes);        // lower-case, as tokensim show prints files

// Runs bin\tokensim.exe with the wide argument text; pumps this thread's
// messages meanwhile (the tool broadcasts). Returns the exit code.
DWORD RunTool(const wchar_t* args, std::string* out = nullptr, std::string* err = nullptr);
// Runs another exe of bin\ with arguments; same as RunTool.
DWORD RunBin(const char* exe, const wchar_t* args, std::string* out, std::string* err);

}  // namespace tstest

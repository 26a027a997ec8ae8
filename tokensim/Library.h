// Internal declarations of the stand-in token library MorvaneFun_qrvl.dll.
#pragma once
#include "tokensim/Store.h"

namespace tokensim {

extern HINSTANCE g_module;

// Shows the stand-in's modal password prompt, owned by the active window of
// the calling thread, with the tries left. TOKENSIM_PIN, when set, answers it
// unattended (":cancel" stands for the Cancel button). Returns 0 with the
// typed password in pin, or TOKEN_PIN_NO_VERDICT when the user cancelled.
TOKEN_RESULT AskPassword(uint32_t triesLeft, char* pin, size_t pinSize);

// Checks a password against the key and counts the try; saves the key.
// 0: verified; 0x63C0 + tries left; 0x6983 once no try is left.
TOKEN_RESULT CheckPassword(CKey& key, const char* password);

// Registers one certificate in the current user's "MY" store, with the
// key-provider property naming the container.
TOKEN_RESULT AddCertToStore(const BYTE* der, uint32_t length, uint32_t keySpec,
                            const char* containerName);

// Length of a NUL-terminated text, reading at most limit + 1 bytes;
// limit + 1 means "longer than limit".
size_t BoundedLength(const char* text, size_t limit);

// Fault mode (TOKENSIM_FAULTS=<seed>): made-up failures and hostile answers
// that still never write beyond the capacities the caller gives.
bool FaultMode();
uint32_t FaultRandom();
bool FaultFail(TOKEN_RESULT* result);   // true: answer *result instead of working
bool FaultHostile();                     // true: give a hostile answer this time
void FaultFill(void* buffer, size_t size);   // non-zero garbage, no terminator

}  // namespace tokensim

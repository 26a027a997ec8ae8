// Fault mode of the stand-in: TOKENSIM_FAULTS=<seed> turns it on for the
// process. The same seed gives the same sequence of answers.
#include "tokensim/Library.h"

#include <stdlib.h>

namespace tokensim {

namespace {
uint32_t g_faultState = 0;
bool g_faultSeeded = false;
}  // namespace

bool FaultMode() {
    char seed[32];
    DWORD n = GetEnvironmentVariableA("TOKENSIM_FAULTS", seed, sizeof(seed));
    if (n == 0 || n >= sizeof(seed)) return false;
    if (!g_faultSeeded) {
        g_faultState = static_cast<uint32_t>(strtoul(seed, nullptr, 0)) * 2654435761u + 1u;
        if (g_faultState == 0) g_faultState = 0x9E3779B9u;
        g_faultSeeded = true;
    }
    return true;
}

uint32_t FaultRandom() {
    uint32_t x = g_faultState ? g_faultState : 0x9E3779B9u;   // xorshift32
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    g_faultState = x;
    return x;
}

bool FaultFail(TOKEN_RESULT* result) {
    if (!FaultMode() || FaultRandom() % 4 != 0) return false;
    static const TOKEN_RESULT kAnswers[] = {TOKEN_PIN_LOCKED, TOKEN_PIN_NO_VERDICT, TS_E_INJECTED,
                                            TS_E_STORE, TS_E_KEY_REMOVED, 0xFFFFFFFFu};
    uint32_t pick = FaultRandom() % 8;
    if (pick == 6) *result = TOKEN_PIN_WRONG_BASE + FaultRandom() % 16;
    else if (pick == 7) *result = FaultRandom() | 1u;
    else *result = kAnswers[pick];
    return true;
}

bool FaultHostile() {
    return FaultMode() && FaultRandom() % 3 == 0;
}

void FaultFill(void* buffer, size_t size) {
    BYTE* p = static_cast<BYTE*>(buffer);
    for (size_t i = 0; i < size; ++i) p[i] = static_cast<BYTE>(0x80 | (FaultRandom() & 0x7F));
}

}  // namespace tokensim

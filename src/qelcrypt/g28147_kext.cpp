#include "qelcrypt/g28147.h"

namespace {
uint32_t rotl11(uint32_t v) { return v << 11 | v >> 21; }
}

uint32_t* g28147_make_kext(uint32_t* KExt, const uint8_t* sblock)
{
    // Table t serves byte 3 - t of the round value, i.e. S-block columns 2t (high nibble) and 2t + 1.
    for (unsigned t = 0; t < 4; ++t) {
        for (unsigned b = 0; b < 256; ++b) {
            const uint8_t hi = sblock[8 * (b >> 4) + 2 * t];
            const uint8_t lo = sblock[8 * (b & 15) + 2 * t + 1];
            if (hi > 15 || lo > 15) return nullptr;
            KExt[256 * t + b] = rotl11(uint32_t(hi << 4 | lo) << (24 - 8 * t));
        }
    }
    return KExt;
}

#include "driver/atr_acceptors.h"

namespace qel {

// Bytes 0..5 fixed, 15..17 zero, the rest free; 19 bytes long.
#define ZR_ATR_MASK {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF}

const AtrAcceptor ZorvaneKeyAcceptors[] = {
    {{0x3B, 0x8F, 0x01, 'Z', 'R', 'K'}, ZR_ATR_MASK, 19, 0},
    {{0x3B, 0x8F, 0x01, 'Z', 'R', 'U'}, ZR_ATR_MASK, 19, 1},
    {{}, {}, 0, 0},
};

const AtrAcceptor UlmarKeyAcceptors[] = {
    {{0x3B, 0x8F, 0x01, 'Q', 'J', 'K'}, ZR_ATR_MASK, 19, 0},
    {{}, {}, 0, 0},
};

#undef ZR_ATR_MASK

bool IsAtrAcceptable(const tru::Buffer& atr, const uint8_t* pattern, const uint8_t* mask, uint32_t length)
{
    if (atr.Size() != length || length > 24) {
        return false;
    }
    for (uint32_t i = 0; i < length; ++i) {
        if ((atr.Data()[i] & mask[i]) != pattern[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace qel

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

}  // namespace qel

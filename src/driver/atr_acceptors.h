#pragma once

#include <cstdint>

#include "tru2/buffer.h"

namespace qel {

// One accepted ATR form: same length, and every ATR byte ANDed with the mask equals the pattern.
struct AtrAcceptor {
    uint8_t pattern[24];
    uint8_t mask[24];
    uint32_t length;     // 0 ends a table
    uint32_t modelFlag;  // 1: the model without RSA, ECDSA and SHA, with host-held EC keys
};

extern const AtrAcceptor ZorvaneKeyAcceptors[];  // brand 0
extern const AtrAcceptor UlmarKeyAcceptors[];    // brand 1

// Length equal and (ATR byte AND mask byte) == pattern byte for every byte.
bool IsAtrAcceptable(const tru::Buffer& atr, const uint8_t* pattern, const uint8_t* mask, uint32_t length);

}  // namespace qel

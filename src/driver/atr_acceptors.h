#pragma once

#include <cstdint>


namespace qel {

// One accepted ATR form (matched with zrck::Slot::IsATRAcceptable): same length, and every ATR
// byte ANDed with the mask equals the pattern.
struct AtrAcceptor {
    uint8_t pattern[24];
    uint8_t mask[24];
    uint32_t length;     // 0 ends a table
    uint32_t modelFlag;  // 1: the model without RSA, ECDSA and SHA, with host-held EC keys
};

extern const AtrAcceptor ZorvaneKeyAcceptors[];  // brand 0
extern const AtrAcceptor UlmarKeyAcceptors[];    // brand 1

}  // namespace qel

#pragma once

#include <cstdint>

// Token information block: six device attributes in the token's own layout. Text fields are
// blank-padded, not terminated.
struct _TokenInfo_Struct {
    uint8_t manufacturerID[32];   // attribute 5
    uint8_t model[16];            // attribute 3
    uint8_t versionMajor;         // top byte of the version word (attribute 7)
    uint8_t versionMinor;         // second byte of the version word
    uint8_t serialNumber[16];     // attribute 1
    uint8_t label[32];            // attribute 0
    uint8_t tokenInitialized;     // flag bits of attribute 8, each 0 or 1
    uint8_t userPinInitialized;
    uint8_t userPinCountLow;
    uint8_t userPinFinalTry;
    uint8_t userPinLocked;
};
static_assert(sizeof(_TokenInfo_Struct) == 103, "token information block is 103 bytes");

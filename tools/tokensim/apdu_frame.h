// The token's APDU framing: header 81 00 00 00, Lc as one byte (1..255) or as 00 + low byte +
// high byte, the data, then an optional Le (the host always sends 00 16 05). Answers are
// 01, status, fields, then 90 00.
#pragma once

#include "bytes.h"

namespace tokensim {

// Extracts the data field. On a framing fault returns false and the ISO status word to answer
// with alone (6E00 wrong class, 6D00 wrong instruction, 6B00 wrong P1-P2, 6700 wrong length).
bool ParseCommandApdu(const Bytes& apdu, Bytes& data, uint16_t& statusWord);

Bytes FrameAnswer(uint8_t status, const Bytes& fields);
Bytes StatusWordOnly(uint16_t statusWord);

}  // namespace tokensim

// The answer-to-reset the simulated card sends.
#pragma once

#include "bytes.h"
#include "token_options.h"

namespace tokensim {

// Genuine ATRs are 19 bytes: 3B 8F 01, three brand and model letters, nine free historical
// bytes (here "SIM", the firmware version and zeros), 00 00 00 in bytes 15 to 17, and the
// check byte TCK (the XOR of bytes 1 to 17, as T=1 requires).
//   brand 0: "ZRK" (full model), "ZRU" (lite model); brand 1: "QJK"; brand 1 lite "QJU" is not
//   an ATR of that brand's tables and is refused by its library.
Bytes BuildAtr(const TokenOptions& options);

}  // namespace tokensim

// The token's Triple-DES CBC and CBC-PAD mechanisms: the host mechanisms, offered by every token.
#pragma once

#include "swcrypto/des3_mechanisms.h"
#include "swcrypto/token_mechanism.h"

namespace qel {

class TokDES3CbcMechanism : public TokenMechanism<TokDES3CbcMechanism, mbt::TokDES3CbcMechanism> {};
class TokDES3CbcPadMechanism : public TokenMechanism<TokDES3CbcPadMechanism, mbt::TokDES3CbcPadMechanism> {};

}  // namespace qel

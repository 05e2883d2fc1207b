// The token's SHA-1 to SHA-512 digest mechanisms: the host mechanisms, offered by tokens whose
// model flag is clear.
#pragma once

#include "swcrypto/sha_mechanisms.h"
#include "swcrypto/token_mechanism.h"

namespace qel {

class TokSha1Mechanism : public TokenMechanism<TokSha1Mechanism, mbt::TokSha1Mechanism> {};
class TokSha224Mechanism : public TokenMechanism<TokSha224Mechanism, mbt::TokSha224Mechanism> {};
class TokSha256Mechanism : public TokenMechanism<TokSha256Mechanism, mbt::TokSha256Mechanism> {};
class TokSha384Mechanism : public TokenMechanism<TokSha384Mechanism, mbt::TokSha384Mechanism> {};
class TokSha512Mechanism : public TokenMechanism<TokSha512Mechanism, mbt::TokSha512Mechanism> {};

}  // namespace qel

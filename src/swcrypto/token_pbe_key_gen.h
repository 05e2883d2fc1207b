// The token's password-based Triple-DES key generation (every token); the key it makes is the
// token's Triple-DES key, chosen by the token's class factory.
#pragma once

#include "swcrypto/pbe_key_gen.h"
#include "swcrypto/token_mechanism.h"

namespace qel {

class TokSha1PBE3DESEdeCbcKeyGenMechanism
    : public TokenMechanism<TokSha1PBE3DESEdeCbcKeyGenMechanism, mbt::TokSha1PBE3DESEdeCbcKeyGenMechanism> {
public:
    // A new token Triple-DES key; the generation itself creates its key through the session.
    KeyPointer CreateSecretKey() override;
};

}  // namespace qel

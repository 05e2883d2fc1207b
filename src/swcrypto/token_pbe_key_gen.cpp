#include "swcrypto/token_pbe_key_gen.h"

#include "swcrypto/token_des3_secret_key.h"

namespace qel {

zrck::TokMechanism::KeyPointer TokSha1PBE3DESEdeCbcKeyGenMechanism::CreateSecretKey()
{
    return KeyPointer(new TokDES3SecretKey());
}

}  // namespace qel

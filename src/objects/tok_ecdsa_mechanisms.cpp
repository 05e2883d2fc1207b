#include "objects/tok_ecdsa_mechanisms.h"

#include "objects/mechanism_rules.h"

namespace zrck {

TokPublicKey& TokECDsaUtl::VerifyKey(TokPublicKey& key) { return RequireKeyType(key, CKK_EC); }
TokPrivateKey& TokECDsaUtl::VerifyKey(TokPrivateKey& key) { return RequireKeyType(key, CKK_EC); }

}  // namespace zrck

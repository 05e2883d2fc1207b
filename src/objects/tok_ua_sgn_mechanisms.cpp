#include "objects/tok_ua_sgn_mechanisms.h"

#include "objects/mechanism_rules.h"

namespace zrck {

TokPrivateKey& TokUASgnMechanismBase::VerifyKeyIsUASgn(TokPrivateKey& key) { return RequireKeyType(key, CKK_DSTU4145); }
TokPublicKey& TokUASgnMechanismBase::VerifyKeyIsUASgn(TokPublicKey& key) { return RequireKeyType(key, CKK_DSTU4145); }

}  // namespace zrck

#include "objects/tok_des3_mechanisms.h"

#include <cstring>

#include "objects/mechanism_rules.h"

namespace zrck {

TokSecretKey& TokDES3CbcModeMechanism::VerifyKey(TokSecretKey& key) { return RequireKeyType(key, CKK_DES3); }

void TokDES3CbcModeMechanism::SetParameter(const MechanismParameter& parameter) {
    RequireParameterLength(parameter, IV_LENGTH);
    SetIV(parameter.GetParameter());
}

void TokSha1PBE3DESEdeCbcKeyGenMechanism::SetParameter(const MechanismParameter& parameter) {
    RequireParameterLength(parameter, sizeof(CK_PBE_PARAMS));
    std::memcpy(&mParams, BufferBytes(parameter.GetParameter()), sizeof mParams);
    SetParams(&mParams);
}

}  // namespace zrck

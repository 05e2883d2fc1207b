#include "objects/tok_ua_gost_mechanisms.h"

#include "objects/mechanism_rules.h"

namespace zrck {

TokSecretKey& TokUAGostEcbMechanism::VerifyKey(TokSecretKey& key) { return RequireKeyType(key, CKK_GOST28147_NAT); }

void TokUAGostIvMechanism::SetParameter(const MechanismParameter& parameter) {
    if (BufferBytes(parameter.GetParameter()) == nullptr) {
        static const unsigned char ZERO_IV[IV_LENGTH] = {};
        SetIV(tru::Buffer(ZERO_IV, IV_LENGTH));
        return;
    }
    RequireParameterLength(parameter, IV_LENGTH, "CK_GOST28147_PARAMS structure expected as mechanism parameter");
    SetIV(parameter.GetParameter());
}

TokKey& TokUAGostWrapMechanism::VerifyKey(TokKey& key) {
    return RequireKeyType(key, CKK_GOST28147_NAT, "KeyType() != CKK_GOST28147");
}

void TokUAGostWrapMechanism::SetParameter(const MechanismParameter& parameter) {
    if (BufferBytes(parameter.GetParameter()) != nullptr) {
        throw Exception(CKR_MECHANISM_PARAM_INVALID, "Mechanism parameter not NULL");
    }
}

}  // namespace zrck

#include "objects/tok_ua_dh_mechanisms.h"

#include <cstring>

#include "objects/mechanism_rules.h"

namespace zrck {

namespace {
const char STRUCTURE_EXPECTED[] = "CK_ECDH1_DERIVE_PARAMS structure expected as mechanism parameter";

tru::Buffer DataView(const unsigned char* data, CK_ULONG length) {
    if (data == nullptr && length != 0) throw Exception(CKR_MECHANISM_PARAM_INVALID);
    return MakeView(data, length);
}
}  // namespace

TokPrivateKey& TokUADHDeriveMechanismBase::VerifyKeyIsUASgn(TokPrivateKey& key) {
    return RequireKeyType(key, CKK_DSTU4145);
}

void TokUADHDeriveMechanismBase::SetParameter(const MechanismParameter& parameter) {
    const ParameterTexts texts = GetParameterTexts();
    if (BufferBytes(parameter.GetParameter()) == nullptr) throw Exception(CKR_MECHANISM_PARAM_INVALID, texts.missing);
    RequireParameterLength(parameter, sizeof(CK_ECDH1_DERIVE_PARAMS), texts.wrongSize);
    CK_ECDH1_DERIVE_PARAMS params;
    std::memcpy(&params, BufferBytes(parameter.GetParameter()), sizeof params);
    if (params.kdf != CKD_GOST34311_KDF) throw Exception(CKR_MECHANISM_PARAM_INVALID, texts.wrongKdf);
    const tru::Buffer shared = DataView(params.pSharedData, params.ulSharedDataLen);
    const tru::Buffer publicData = DataView(params.pPublicData, params.ulPublicDataLen);
    SetSharedData(shared);
    SetPublicData(publicData);
}

TokUADHDeriveMechanismBase::ParameterTexts TokUADHDeriveMechanism::GetParameterTexts() const {
    return {"Mechanism parameter NULL", STRUCTURE_EXPECTED, "kdf != CKD_GOST34311_KDF"};
}

TokUADHDeriveMechanismBase::ParameterTexts TokUADHCofactorDeriveMechanism::GetParameterTexts() const {
    return {"", STRUCTURE_EXPECTED, ""};
}

}  // namespace zrck

#include "swcrypto/ecdsa_key_pair_gen.h"

#include "ckbase/exception.h"
#include "cryptoki/names/ck_names.h"
#include "objects/mechanism_session.h"
#include "objects/object_token.h"
#include "objects/tok_key.h"
#include "support/safe_buffer.h"
#include "swcrypto/ecdsa_signing.h"
#include "swcrypto/tok_ecdsa_utl.h"

namespace mbt {

TokECDsaKeyPairGenMechanism::TokECDsaKeyPairGenMechanism()
{
    SetMechanismType(CKM_EC_KEY_PAIR_GEN);
    SetECDsaKeySizes(*this);
    SetFlags(CKF_GENERATE_KEY_PAIR | kECDsaCurveFlags);
}

zrck::ObjectToken& TokECDsaKeyPairGenMechanism::CheckRequest(zrck::MechanismSession& session,
                                                       const zrck::CurveTemplateFacts& publicFacts,
                                                       const zrck::CurveTemplateFacts& privateFacts,
                                                       bool privateTemplateGiven)
{
    if (privateTemplateGiven && !privateFacts.isPrivate) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    if (publicFacts.isPrivate) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    if ((privateFacts.token || publicFacts.token) && session.IsReadOnly()) {
        throw zrck::Exception(CKR_SESSION_READ_ONLY);
    }
    return LoggedToken(session);
}

zrck::ObjectToken& TokECDsaKeyPairGenMechanism::LoggedToken(zrck::MechanismSession& session)
{
    zrck::ObjectToken* token = session.GetOwnerToken();
    if (token == nullptr) throw zrck::Exception(CKR_DEVICE_REMOVED);
    if (!token->IsLogged()) throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    return *token;
}

zrck::TokMechanism::KeyPair TokECDsaKeyPairGenMechanism::GenerateKeyPair(zrck::MechanismSession& session,
                                                                        const zrck::MechanismParameter& parameter,
                                                                        zrck::AttributeTemplate& publicAttributes,
                                                                        zrck::AttributeTemplate& privateAttributes)
{
    if (parameter.GetType() != GetMechanismType()) throw zrck::Exception(CKR_MECHANISM_INVALID);
    EnsureParameterEmpty(parameter);
    const zrck::CurveTemplateFacts publicFacts = zrck::WalkPublicCurveTemplate(publicAttributes, CKK_EC, 0);
    const zrck::CurveTemplateFacts privateFacts = zrck::WalkPrivateCurveTemplate(privateAttributes, CKK_EC, 0);
    zrck::ObjectToken& token = CheckRequest(session, publicFacts, privateFacts, privateAttributes.GetCount() != 0);

    // The curve is copied: the template entries are replaced below.
    tru::BufferDynamic curve;
    if (publicFacts.ecParams != nullptr) {
        curve.Set(static_cast<uint32_t>(publicFacts.ecParams->GetLength()), publicFacts.ecParams->GetValue());
    }
    vdk::SafeBuffer privateValue;
    tru::BufferDynamic point;
    GetECDsaUtl().GenKeyPair(curve, privateValue, point);
    const CK_ZR_DATETIME generated = zrck::GetCurrentDateTimeAsZR();
    TokECDsaUtl::EncodeDerPublicKey(point);
    const zrck::CurvePairTemplates completed(publicAttributes, privateAttributes, CKK_EC, curve, point, &privateValue);

    // Both keys are local, set up from their templates and dated alike.
    const auto build = [&](KeyPointer key, zrck::AttributeTemplate& attributes) {
        auto& made = dynamic_cast<zrck::TokKey&>(*key);
        made.SetLocal(CK_TRUE);
        made.SetupAttributes(&token, attributes);
        made.SetGenerationDate(generated);
        made.SetKeyGenMechanism(CKM_EC_KEY_PAIR_GEN);
        return key;
    };
    const KeyPointer privateKey = build(CreatePrivateKey(), privateAttributes);
    dynamic_cast<zrck::TokPrivateKey&>(*privateKey).AddGeneratedSensitiveAttributes(session);
    const KeyPointer publicKey = build(CreatePublicKey(), publicAttributes);
    return KeyPair(publicKey, privateKey);
}

} // namespace mbt

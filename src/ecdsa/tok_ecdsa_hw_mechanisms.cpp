#include "ecdsa/tok_ecdsa_hw_mechanisms.h"

#include "ckbase/exception.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/token.h"
#include "driver/curve_key_pair.h"
#include "driver/qel_token.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "driver/token_stored_object.h"
#include "ecdsa/tok_ecdsa_stored_keys.h"

namespace qel {

namespace {

TokenStorage& StorageOfKey(const zrck::TokObject& key)
{
    if (key.GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return *StoredObjectUtl::StorageOf(key);
}

} // namespace

// ---- the device as engine ----

void DeviceECDsa::RequireToken() const
{
    if (mechanism_.GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
}

unsigned long DeviceECDsa::SignatureSize(zrck::TokCurvePrivateKey& key)
{
    RequireToken();
    if (key.GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return mbt::TokECDsaUtl::CalcSignSize(key.GetECParams());
}

void DeviceECDsa::Sign(zrck::TokCurvePrivateKey& key, const tru::Buffer& value, tru::BufferDynamic& signature)
{
    auto* stored = dynamic_cast<TokenStoredObject*>(&key);
    if (stored == nullptr) throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
    tru::BufferDynamic der;
    StorageOfKey(key).GenerateSignatureM(stored->GetObjectFile(), value, der);
    mbt::TokECDsaUtl::DecodeDerSignatureForCurve(key.GetECParams(), der, signature);
}

bool DeviceECDsa::Verify(zrck::TokCurvePublicKey& key, const tru::Buffer& value, const tru::Buffer& signature)
{
    RequireToken();
    TokenStorage& storage = StorageOfKey(key);
    // A curve the device lacks first, then a signature of another length than the curve's.
    const EParamSet paramSet = TokECDsaUtl::ParseECParams(key.GetECParams());
    mbt::TokECDsaUtl::CheckSignSize(key.GetECParams(), signature);
    tru::BufferDynamic point;
    mbt::TokECDsaUtl::DecodeDerPublicKey(key.GetECPoint(), point);
    tru::BufferDynamic der;
    mbt::TokECDsaUtl::EncodeDerSignature(signature, der);
    return storage.VerifySignatureM(point, paramSet, value, der);
}

// ---- CKM_EC_KEY_PAIR_GEN ----

TokECDsaHWKeyPairGenMechanism::TokECDsaHWKeyPairGenMechanism()
{
    SetMechanismType(CKM_EC_KEY_PAIR_GEN);
    mbt::SetECDsaKeySizes(*this);
    SetFlags(CKF_HW | CKF_GENERATE_KEY_PAIR | mbt::kECDsaCurveFlags);
}

zrck::TokMechanism::KeyPair TokECDsaHWKeyPairGenMechanism::GenerateKeyPair(zrck::MechanismSession& session,
                                                                          const zrck::MechanismParameter& parameter,
                                                                          zrck::AttributeTemplate& publicAttributes,
                                                                          zrck::AttributeTemplate& privateAttributes)
{
    if (parameter.GetType() != CKM_EC_KEY_PAIR_GEN) throw zrck::Exception(CKR_MECHANISM_INVALID);
    EnsureParameterEmpty(parameter);
    const CurveTemplateFacts publicFacts = WalkPublicCurveTemplate(publicAttributes, CKK_EC, 0);
    const CurveTemplateFacts privateFacts = WalkPrivateCurveTemplate(privateAttributes, CKK_EC, 0);
    if (!privateFacts.token || !privateFacts.isPrivate || publicFacts.isPrivate) {
        throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    if (session.IsReadOnly()) throw zrck::Exception(CKR_SESSION_READ_ONLY);
    zrck::ObjectToken* token = session.GetOwnerToken();
    if (token == nullptr) throw zrck::Exception(CKR_DEVICE_REMOVED);
    if (!token->IsLogged()) throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    if (publicFacts.ecParams == nullptr) throw zrck::Exception(CKR_TEMPLATE_INCOMPLETE);
    // The curve is copied: the template entries are replaced below.
    const tru::BufferDynamic curve(
        tru::Buffer(publicFacts.ecParams->GetValue(), static_cast<uint32_t>(publicFacts.ecParams->GetLength())));
    const EParamSet paramSet = TokECDsaUtl::ParseECParams(curve);

    TokenStorage& storage = *Token::ExtractStorage(token);
    tru::BufferDynamic point;
    GeneratedPairFiles files;
    storage.GenerateKeyPairM(paramSet, TokenObject, publicFacts.token ? TokenObject : NotKeptObject, point,
                             files.keySlot, files.publicObjectFile, files.privateAttributeFile,
                             files.publicAttributeFile);
    try {
        GetECDsaUtl();
        mbt::TokECDsaUtl::EncodeDerPublicKey(point);
    } catch (...) {
        RemoveGeneratedPair(storage, files);
        throw;
    }
    return BuildGeneratedCurvePair(session, token, storage, files, CKK_EC, CKM_EC_KEY_PAIR_GEN, curve, point,
                                   publicFacts.token, publicAttributes, privateAttributes, CreatePrivateKey(),
                                   CreatePublicKey());
}

zrck::TokMechanism* TokECDsaHWKeyPairGenMechanism::Clone() const
{
    auto* clone = new TokECDsaHWKeyPairGenMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

zrck::TokMechanism::KeyPointer TokECDsaHWKeyPairGenMechanism::CreatePublicKey()
{
    return KeyPointer(new TokECDsaHWPublicKey());
}

zrck::TokMechanism::KeyPointer TokECDsaHWKeyPairGenMechanism::CreatePrivateKey()
{
    return KeyPointer(new TokECDsaHWPrivateKey());
}

} // namespace qel

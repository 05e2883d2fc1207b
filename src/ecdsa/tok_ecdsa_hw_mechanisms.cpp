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

#include <cstring>

namespace qel {

namespace {

constexpr CK_FLAGS kEcF2m = 1UL << 21;
// Only uncompressed points are handled: CKF_EC_UNCOMPRESS, never CKF_EC_COMPRESS.
constexpr CK_FLAGS kEcCurveFlags = CKF_EC_F_P | kEcF2m | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS;
constexpr uint32_t kMaxSignedValue = 128;

template <class Key>
const tru::Buffer& CurveOf(Key& key)
{
    using Curve = std::conditional_t<std::is_base_of<zrck::TokPrivateKey, Key>::value, zrck::TokCurvePrivateKey,
                                     zrck::TokCurvePublicKey>;
    auto* curveKey = dynamic_cast<Curve*>(&key);
    if (curveKey == nullptr) throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
    return curveKey->GetECParams();
}

TokenStorage& StorageOfKey(const zrck::TokObject& key)
{
    if (key.GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return *StoredObjectUtl::StorageOf(key);
}

} // namespace

void SetECDsaKeySizes(zrck::TokMechanism& mechanism)
{
    const std::pair<unsigned, unsigned> sizes = mbt::TokECDsaUtl::GetAvailableMinMaxCurves();
    mechanism.SetMinKeySize(sizes.first);
    mechanism.SetMaxKeySize(sizes.second);
}

// ---- device operations ----

unsigned long DeviceECDsa::SignatureSize(zrck::TokPrivateKey& key)
{
    if (key.GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return mbt::TokECDsaUtl::CalcSignSize(CurveOf(key));
}

void DeviceECDsa::Sign(zrck::TokPrivateKey& key, const tru::Buffer& value, tru::BufferDynamic& signature)
{
    auto* stored = dynamic_cast<TokenStoredObject*>(&key);
    if (stored == nullptr) throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
    tru::BufferDynamic der;
    StorageOfKey(key).GenerateSignatureM(stored->GetObjectFile(), value, der);
    mbt::TokECDsaUtl::DecodeDerSignatureForCurve(CurveOf(key), der, signature);
}

bool DeviceECDsa::Place(const tru::Buffer& signature, unsigned char* out, unsigned long* outLen)
{
    const unsigned long available = *outLen;
    *outLen = signature.Size();
    if (available < signature.Size()) return false;
    std::memcpy(out, signature.Data(), signature.Size());
    return true;
}

bool DeviceECDsa::Verify(zrck::TokPublicKey& key, const tru::Buffer& value, const tru::Buffer& signature)
{
    TokenStorage& storage = StorageOfKey(key);
    auto* curveKey = dynamic_cast<zrck::TokCurvePublicKey*>(&key);
    if (curveKey == nullptr) throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
    tru::BufferDynamic point;
    mbt::TokECDsaUtl::DecodeDerPublicKey(curveKey->GetECPoint(), point);
    tru::BufferDynamic der;
    mbt::TokECDsaUtl::EncodeDerSignature(signature, der);
    const EParamSet paramSet = TokECDsaUtl::ParseECParams(curveKey->GetECParams());
    return storage.VerifySignatureM(point, paramSet, value, der);
}

TokECDsaUtl& MechanismECDsaUtl::Get(const zrck::TokMechanism& mechanism)
{
    zrck::ObjectToken* token = mechanism.GetTokenPtr();
    if (token == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    if (!utl_ || utl_->GetToken() != token) utl_.reset(new TokECDsaUtl(token));
    return *utl_;
}

// ---- CKM_ECDSA ----

TokECDsaHWSignMechanism::TokECDsaHWSignMechanism()
{
    SetMechanismType(CKM_ECDSA);
    SetECDsaKeySizes(*this);
    SetFlags(CKF_HW | CKF_SIGN | CKF_VERIFY | kEcCurveFlags);
}

void TokECDsaHWSignMechanism::SignInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                       zrck::TokPrivateKey& key)
{
    FreeResources();
    EnsureParameterEmpty(parameter);
    signKey_ = &zrck::TokECDsaUtl::VerifyKey(key);
}

bool TokECDsaHWSignMechanism::Sign(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                   unsigned long* outLen)
{
    if (signKey_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    if (signKey_->GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    if (data.Size() > kMaxSignedValue) throw zrck::Exception(CKR_DATA_LEN_RANGE);
    GetECDsaUtl();
    const unsigned long size = DeviceECDsa::SignatureSize(*signKey_);
    if (out == nullptr || *outLen < size) {
        *outLen = size;
        return out == nullptr;
    }
    tru::BufferDynamic signature;
    DeviceECDsa::Sign(*signKey_, data, signature);
    return DeviceECDsa::Place(signature, out, outLen);
}

void TokECDsaHWSignMechanism::VerifyInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                         zrck::TokPublicKey& key)
{
    FreeResources();
    EnsureParameterEmpty(parameter);
    verifyKey_ = &zrck::TokECDsaUtl::VerifyKey(key);
}

bool TokECDsaHWSignMechanism::Verify(zrck::MechanismSession&, const tru::Buffer& data, const tru::Buffer& signature)
{
    if (verifyKey_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    GetECDsaUtl();
    return DeviceECDsa::Verify(*verifyKey_, data, signature);
}

void TokECDsaHWSignMechanism::FreeResources()
{
    verifyKey_ = nullptr;
    signKey_ = nullptr;
}

zrck::TokMechanism* TokECDsaHWSignMechanism::Clone() const
{
    auto* clone = new TokECDsaHWSignMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

// ---- CKM_EC_KEY_PAIR_GEN ----

TokECDsaHWKeyPairGenMechanism::TokECDsaHWKeyPairGenMechanism()
{
    SetMechanismType(CKM_EC_KEY_PAIR_GEN);
    SetECDsaKeySizes(*this);
    SetFlags(CKF_HW | CKF_GENERATE_KEY_PAIR | kEcCurveFlags);
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
    auto* token = dynamic_cast<zrck::Token*>(session.GetOwnerToken());
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

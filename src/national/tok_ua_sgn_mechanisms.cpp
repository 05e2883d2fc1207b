#include "national/tok_ua_sgn_mechanisms.h"

#include "ckbase/exception.h"
#include "device/apdu.h"
#include "driver/token_storage.h"
#include "driver/token_stored_object.h"
#include "national/ua_gost_utl.h"
#include "national/ua_sgn_util.h"
#include "national/ua_token.h"
#include "objects/tok_ua_sgn_objects.h"
#include "tru2/exception.h"

#include <cstring>

namespace qel {

namespace {

constexpr CK_FLAGS kSignFlags =
    CKF_HW | CKF_SIGN | CKF_VERIFY | kCkfEcF2m | kCkfEcParameters | CKF_EC_NAMEDCURVE | CKF_EC_COMPRESS;
constexpr uint32_t kHashSize = 32;
// Command data before the fields: 01, the command, the 32-byte device session.
constexpr uint32_t kCommandHead = 2 + 32;
constexpr uint32_t kLongFieldLength = 2;

const tru::Buffer& ECParamsOf(const zrck::TokPrivateKey& key)
{
    const auto* dstu = dynamic_cast<const zrck::TokUASgnPrivateKey*>(&key);
    if (dstu == nullptr) throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
    return dstu->GetECParams();
}

const zrck::TokUASgnPublicKey& AsUASgn(const zrck::TokPublicKey& key)
{
    const auto* dstu = dynamic_cast<const zrck::TokUASgnPublicKey*>(&key);
    if (dstu == nullptr) throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
    return *dstu;
}

long KeySlotOf(zrck::TokPrivateKey& key)
{
    const auto* stored = dynamic_cast<const TokenStoredObject*>(&key);
    if (stored == nullptr) throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
    return stored->GetObjectFile();
}

// The point without its 04 L header, as the device takes it.
vdk::SafeBuffer BarePoint(const zrck::TokUASgnPublicKey& key)
{
    vdk::SafeBuffer point(key.GetECPoint());
    UASgnUtl::RemoveECPointAsnTag(point);
    return point;
}

vdk::SafeBuffer DeviceSignature(EParamSet paramSet, const tru::Buffer& signature)
{
    vdk::SafeBuffer copy(signature);
    UASgnUtl::PrepareSign4Verify(paramSet, copy);
    return copy;
}

void CheckSignData(const tru::Buffer& data)
{
    if (data.Size() > UASgnMaxSignData()) throw zrck::Exception(CKR_DATA_LEN_RANGE);
}

// Signs the value with the key's slot; true and the signature when it fits the caller's buffer.
// An empty answer, or one longer than the set's signature, is the token's fault, not a signature.
bool SignOnToken(TokenStorage& storage, zrck::TokPrivateKey& key, const tru::Buffer& value, uint32_t signSize,
                 unsigned char* out, unsigned long* outLen)
{
    vdk::SafeBuffer signature;
    storage.GenerateSignatureM(KeySlotOf(key), value, signature);
    if (signature.Size() == 0 || signature.Size() > signSize) throw zrck::Exception(CKR_DEVICE_ERROR);
    const unsigned long available = *outLen;
    *outLen = signature.Size();
    if (signature.Size() > available) return false;
    std::memcpy(out, signature.Data(), signature.Size());
    return true;
}

// Answers a length query or a short buffer with the set's signature size; true when the caller's
// buffer takes a signature.
bool SignatureFits(uint32_t signSize, unsigned char* out, unsigned long* outLen, bool& done)
{
    if (out == nullptr) {
        *outLen = signSize;
        done = true;
        return false;
    }
    if (*outLen < signSize) {
        *outLen = signSize;
        done = false;
        return false;
    }
    return true;
}

} // namespace

void SetUASgnKeySizes(zrck::TokMechanism& mechanism)
{
    mechanism.SetMinKeySize(kUASgnMinKeyBits);
    mechanism.SetMaxKeySize(kUASgnMaxKeyBits);
}

uint32_t UASgnMaxSignData()
{
    // session, key slot byte, data as a long field
    return static_cast<uint32_t>(kMaxCommandData) - kCommandHead - 1 - kLongFieldLength;
}

uint32_t UASgnMaxVerifyData(uint32_t pointSize, uint32_t signatureSize)
{
    // session, parameter set byte, then point, signature and data as long fields
    const uint32_t used = kCommandHead + 1 + 3 * kLongFieldLength + pointSize + signatureSize;
    return used >= kMaxCommandData ? 0 : static_cast<uint32_t>(kMaxCommandData) - used;
}

// ---- CKM_DSTU4145 ----

TokUASgnMechanism::TokUASgnMechanism()
{
    SetMechanismType(CKM_DSTU4145);
    SetFlags(kSignFlags);
    SetUASgnKeySizes(*this);
}

void TokUASgnMechanism::SignInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                 zrck::TokPrivateKey& key)
{
    FreeResources();
    EnsureParameterEmpty(parameter);
    signKey_ = &VerifyKeyIsUASgn(key);
}

bool TokUASgnMechanism::Sign(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out, unsigned long* outLen)
{
    if (signKey_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    const UAToken services = UAToken::Of(signKey_->GetTokenPtr());
    CheckSignData(data);
    const uint32_t signSize = UASgnUtl::CalcSignSize(ECParamsOf(*signKey_), services.GetDefaultUAParamset());
    bool done = false;
    if (!SignatureFits(signSize, out, outLen, done)) return done;
    return SignOnToken(services.GetUAStorage(), *signKey_, data, signSize, out, outLen);
}

void TokUASgnMechanism::VerifyInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                   zrck::TokPublicKey& key)
{
    FreeResources();
    EnsureParameterEmpty(parameter);
    verifyKey_ = &VerifyKeyIsUASgn(key);
}

bool TokUASgnMechanism::Verify(zrck::MechanismSession&, const tru::Buffer& data, const tru::Buffer& signature)
{
    if (verifyKey_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    const UAToken services = UAToken::Of(verifyKey_->GetTokenPtr());
    const zrck::TokUASgnPublicKey& key = AsUASgn(*verifyKey_);
    tru::BufferDynamic sbox;
    const EParamSet paramSet = UASgnUtl::ParseECParams(key.GetECParams(), sbox, services.GetDefaultUAParamset());
    const vdk::SafeBuffer point = BarePoint(key);
    const vdk::SafeBuffer deviceSignature = DeviceSignature(paramSet, signature);
    if (data.Size() > UASgnMaxVerifyData(point.Size(), deviceSignature.Size())) {
        throw zrck::Exception(CKR_DATA_LEN_RANGE);
    }
    return services.GetUAStorage().VerifySignatureM(point, paramSet, data, deviceSignature);
}

void TokUASgnMechanism::FreeResources()
{
    verifyKey_ = nullptr;
    signKey_ = nullptr;
}

zrck::TokMechanism* TokUASgnMechanism::Clone() const
{
    auto* clone = new TokUASgnMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

// ---- CKM_GOST34311_DSTU4145 ----

TokUASgnHashMechanism::TokUASgnHashMechanism()
{
    SetMechanismType(CKM_GOST34311_DSTU4145);
    SetFlags(kSignFlags);
    SetUASgnKeySizes(*this);
}

TokUASgnHashMechanism::~TokUASgnHashMechanism() { tru::Buffer::Wipe(sizeof hash_, &hash_); }

void TokUASgnHashMechanism::StartHash(const tru::Buffer& ecParams, zrck::ObjectToken* token)
{
    const UAToken services = UAToken::Of(token);
    vdk::SafeBuffer sbox;
    paramSet_ = UASgnUtl::ParseECParams(ecParams, sbox, services.GetDefaultUAParamset());
    if (sbox.Size() != 64) throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID, "DKE size should be 64 bytes");
    const UAGostUtl* util = UAGostUtl::GetInstance();
    util->PrepareKExt(util->GetDefaultIV(), sbox, kext_);
    static const uint32_t kZeroStartVector[8] = {};
    gr341194_md_init_ext(&hash_, kZeroStartVector, reinterpret_cast<const uint32_t*>(kext_.Data()));
}

void TokUASgnHashMechanism::SignInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                     zrck::TokPrivateKey& key)
{
    FreeResources();
    EnsureParameterEmpty(parameter);
    zrck::TokPrivateKey& checked = VerifyKeyIsUASgn(key);
    StartHash(ECParamsOf(checked), checked.GetTokenPtr());
    signKey_ = &checked;
}

bool TokUASgnHashMechanism::SignHash(const tru::Buffer* data, unsigned char* out, unsigned long* outLen)
{
    if (signKey_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    const UAToken services = UAToken::Of(signKey_->GetTokenPtr());
    const uint32_t signSize = UASgnUtl::CalcSignSize(ECParamsOf(*signKey_), services.GetDefaultUAParamset());
    bool done = false;
    if (!SignatureFits(signSize, out, outLen, done)) return done;
    // Only a call that signs touches the hash, so a length query can be repeated.
    if (data != nullptr) gr341194_md_update(&hash_, data->Data(), data->Size());
    vdk::SafeBuffer hash(kHashSize);
    gr341194_md_final(&hash_, hash.Data());
    return SignOnToken(services.GetUAStorage(), *signKey_, hash, signSize, out, outLen);
}

bool TokUASgnHashMechanism::Sign(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                 unsigned long* outLen)
{
    return SignHash(&data, out, outLen);
}

void TokUASgnHashMechanism::SignUpdate(zrck::MechanismSession&, const tru::Buffer& data)
{
    if (signKey_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    gr341194_md_update(&hash_, data.Data(), data.Size());
}

bool TokUASgnHashMechanism::SignFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen)
{
    return SignHash(nullptr, out, outLen);
}

void TokUASgnHashMechanism::VerifyInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                       zrck::TokPublicKey& key)
{
    FreeResources();
    EnsureParameterEmpty(parameter);
    zrck::TokPublicKey& checked = VerifyKeyIsUASgn(key);
    StartHash(AsUASgn(checked).GetECParams(), checked.GetTokenPtr());
    verifyKey_ = &checked;
}

bool TokUASgnHashMechanism::VerifyHash(const tru::Buffer* data, const tru::Buffer& signature)
{
    if (verifyKey_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    const vdk::SafeBuffer point = BarePoint(AsUASgn(*verifyKey_));
    if (data != nullptr) gr341194_md_update(&hash_, data->Data(), data->Size());
    vdk::SafeBuffer hash(kHashSize);
    gr341194_md_final(&hash_, hash.Data());
    const vdk::SafeBuffer deviceSignature = DeviceSignature(paramSet_, signature);
    const UAToken services = UAToken::Of(verifyKey_->GetTokenPtr());
    return services.GetUAStorage().VerifySignatureM(point, paramSet_, hash, deviceSignature);
}

bool TokUASgnHashMechanism::Verify(zrck::MechanismSession&, const tru::Buffer& data, const tru::Buffer& signature)
{
    return VerifyHash(&data, signature);
}

void TokUASgnHashMechanism::VerifyUpdate(zrck::MechanismSession&, const tru::Buffer& data)
{
    if (verifyKey_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
    gr341194_md_update(&hash_, data.Data(), data.Size());
}

bool TokUASgnHashMechanism::VerifyFinal(zrck::MechanismSession&, const tru::Buffer& signature)
{
    return VerifyHash(nullptr, signature);
}

void TokUASgnHashMechanism::FreeResources()
{
    verifyKey_ = nullptr;
    signKey_ = nullptr;
    kext_.Destroy();
    tru::Buffer::Wipe(sizeof hash_, &hash_);
}

zrck::TokMechanism* TokUASgnHashMechanism::Clone() const
{
    auto* clone = new TokUASgnHashMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

} // namespace qel

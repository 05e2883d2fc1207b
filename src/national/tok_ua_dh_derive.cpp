#include "national/tok_ua_dh_derive.h"

#include "asn1/asn1_codec.h"
#include "ckbase/exception.h"
#include "cryptoki/names/ck_names.h"
#include "driver/token_storage.h"
#include "driver/token_stored_object.h"
#include "driver/template_value_detach.h"
#include "national/tok_ua_gost_secret_key.h"
#include "national/tok_ua_sgn_mechanisms.h"
#include "national/ua_sgn_util.h"
#include "national/ua_token.h"
#include "objects/tok_ua_sgn_objects.h"
#include "tru2/exception.h"
#include "zrasn1/Dke.h"
#include "zrasn1/SharedInfo.h"

#include <cstring>

namespace qel {

namespace {

constexpr CK_FLAGS kDeriveFlags = CKF_DERIVE | kCkfEcF2m | kCkfEcParameters;
constexpr const char* kWrapAlgorithmOid = "1.2.804.2.1.1.1.1.1.1.5";
constexpr uint32_t kSharedDataSize = 64;
constexpr uint32_t kDerivedKeySize = 32;
constexpr uint32_t kSBoxSize = 64;
constexpr uint32_t kSBoxDerSize = 66;

[[noreturn]] void Fail(CK_RV code) { throw zrck::Exception(code); }

void CopyInto(vdk::SafeBuffer& target, const tru::Buffer& value)
{
    const tru::TResult rc = target.Set(value.Size(), value.Data());
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

CK_ULONG ULongOf(const zrck::Attribute& entry)
{
    if (entry.GetLength() != sizeof(CK_ULONG)) Fail(CKR_ATTRIBUTE_VALUE_INVALID);
    return entry.GetAsULong();
}

// The caller's template may name the new key's class, type and storage, never its value or S-box.
void CheckTemplate(const zrck::AttributeTemplate& attributes)
{
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const zrck::Attribute& entry = attributes[i];
        switch (entry.GetType()) {
        case CKA_CLASS:
            if (ULongOf(entry) != CKO_SECRET_KEY) Fail(CKR_TEMPLATE_INCONSISTENT);
            break;
        case CKA_KEY_TYPE:
            if (ULongOf(entry) != CKK_GOST28147_NAT) Fail(CKR_ATTRIBUTE_VALUE_INVALID);
            break;
        case CKA_TOKEN:
        case CKA_PRIVATE: (void)entry.GetAsBool(); break;
        case CKA_GOST_SBOXES:
        case CKA_VALUE: Fail(CKR_ATTRIBUTE_TYPE_INVALID);
        default: break;
        }
    }
}

void SetOctets(OCTET_STRING_t& target, const void* data, size_t size)
{
    if (OCTET_STRING_fromBuf(&target, static_cast<const char*>(data), static_cast<int>(size)) != 0) {
        Fail(CKR_FUNCTION_FAILED);
    }
}

} // namespace

std::vector<uint8_t> UADHSharedInfo(const tru::Buffer& sharedData)
{
    auto info = asn1::MakeEmpty<SharedInfo_t>(asn_DEF_SharedInfo);
    if (!info || !asn1::OidFromText(kWrapAlgorithmOid, info->keyInfo.algorithm)) Fail(CKR_FUNCTION_FAILED);
    if (!sharedData.Empty()) {
        info->entityInfo = static_cast<OCTET_STRING_t*>(calloc(1, sizeof(OCTET_STRING_t)));
        if (info->entityInfo == nullptr) Fail(CKR_FUNCTION_FAILED);
        SetOctets(*info->entityInfo, sharedData.Data(), sharedData.Size());
    }
    static const uint8_t kKeyBits[] = {0x00, 0x00, 0x01, 0x00};  // 256, big-endian
    SetOctets(info->suppPubInfo, kKeyBits, sizeof kKeyBits);
    std::vector<uint8_t> der;
    if (!asn1::EncodeDer(asn_DEF_SharedInfo, info.get(), der)) Fail(CKR_FUNCTION_FAILED);
    return der;
}

std::vector<uint8_t> UADHSBoxValue(const tru::Buffer& sbox)
{
    auto dke = asn1::MakeEmpty<Dke_t>(asn_DEF_Dke);
    if (!dke) Fail(CKR_FUNCTION_FAILED);
    dke->present = Dke_PR_dkeValue;
    SetOctets(dke->choice.dkeValue, sbox.Data(), sbox.Size());
    std::vector<uint8_t> der;
    if (!asn1::EncodeDer(asn_DEF_Dke, dke.get(), der)) Fail(CKR_FUNCTION_FAILED);
    return der;
}

// ---- the derivation ----

void UADHDerivation::SetSharedData(const tru::Buffer& data)
{
    if (data.Size() != 0 && data.Size() != kSharedDataSize) {
        throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID, "Invalid SharedData capacity");
    }
    CopyInto(sharedData_, data);
}

void UADHDerivation::SetPublicData(const tru::Buffer& data) { CopyInto(publicData_, data); }

void UADHDerivation::Clear()
{
    sharedData_.Destroy();
    publicData_.Destroy();
}

std::shared_ptr<zrck::TokObject> UADHDerivation::Derive(zrck::TokMechanism& mechanism, zrck::MechanismSession& session,
                                                        zrck::TokPrivateKey& baseKey,
                                                        zrck::AttributeTemplate& attributes, bool cofactor,
                                                        const std::function<std::shared_ptr<zrck::TokObject>()>& createKey)
{
    CheckTemplate(attributes);
    const UAToken token = UAToken::Of(baseKey.GetTokenPtr());
    const auto* dstuKey = dynamic_cast<const zrck::TokUASgnPrivateKey*>(&baseKey);
    const auto* stored = dynamic_cast<const TokenStoredObject*>(&baseKey);
    if (dstuKey == nullptr || stored == nullptr) Fail(CKR_KEY_TYPE_INCONSISTENT);

    vdk::SafeBuffer params;
    UASgnUtl::ParseECParams(dstuKey->GetECParams(), params, token.GetDefaultUAParamset());
    tru::Buffer sbox;
    if (params.Size() == kSBoxDerSize) {
        sbox = tru::Buffer(params.Data() + 2, kSBoxSize);
    } else if (params.Size() == kSBoxSize) {
        sbox = tru::Buffer(params.Data(), kSBoxSize);
    } else {
        Fail(CKR_KEY_TYPE_INCONSISTENT);
    }
    const std::vector<uint8_t> sharedInfo = UADHSharedInfo(sharedData_);
    if (sharedInfo.size() != 27 && sharedInfo.size() != 95) Fail(CKR_FUNCTION_FAILED);
    const std::vector<uint8_t> sboxValue = UADHSBoxValue(sbox);
    // The peer point must come in its OCTET STRING form; the token takes the bare point.
    vdk::SafeBuffer peer(publicData_);
    UASgnUtl::RemoveECPointAsnTag(peer);

    vdk::SafeBuffer derived;
    token.GetUAStorage().DeriveCommonKeyM(stored->GetObjectFile(), peer, sbox,
                                          tru::Buffer(sharedInfo.data(), static_cast<uint32_t>(sharedInfo.size())),
                                          cofactor, derived);
    if (derived.Size() != kDerivedKeySize) Fail(CKR_DEVICE_ERROR);

    static const CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    static const CK_KEY_TYPE gostType = CKK_GOST28147_NAT;
    // The template outlives this call; the entries that point at local values are cut loose.
    const TemplateValueDetach detachSBox(attributes, CKA_GOST_SBOXES, sboxValue.data());
    const TemplateValueDetach detachValue(attributes, CKA_VALUE, derived.Data());
    zrck::Attribute added[4];
    added[0].SetupOwn(CKA_CLASS, &secretClass, sizeof secretClass);
    added[1].SetupOwn(CKA_KEY_TYPE, &gostType, sizeof gostType);
    added[2].SetupOwn(CKA_GOST_SBOXES, sboxValue.data(), static_cast<unsigned>(sboxValue.size()));
    added[3].SetupOwn(CKA_VALUE, derived.Data(), derived.Size());
    attributes.AddAttributesIfNotExist(added, 4);
    attributes.ResetProcessed();

    std::shared_ptr<zrck::TokObject> object = createKey();
    auto* key = dynamic_cast<zrck::TokSecretKey*>(object.get());
    if (key == nullptr) Fail(CKR_FUNCTION_FAILED);
    key->SetLocal(CK_TRUE);
    key->InitializeWithAttributes(mechanism.GetTokenPtr() != nullptr ? mechanism.GetTokenPtr() : baseKey.GetTokenPtr(),
                                  attributes);
    key->SetGenerationDate(zrck::GetCurrentDateTimeAsZR());
    key->AddGeneratedSensitiveAttributes(session);
    key->SetKeyGenMechanism(mechanism.GetMechanismType());
    return object;
}

namespace {

// Forgets the parameter and the base key however the derivation ends.
template <class Mechanism>
struct FreeOnExit {
    Mechanism& mechanism;
    ~FreeOnExit() { mechanism.FreeResources(); }
};

} // namespace

// ---- CKM_DSTUDH_COFACTOR_DERIVE ----

TokUADHCofactorDeriveMechanism::TokUADHCofactorDeriveMechanism()
{
    SetMechanismType(CKM_DSTUDH_COFACTOR_DERIVE);
    SetFlags(kDeriveFlags);
    SetUASgnKeySizes(*this);
}

zrck::TokMechanism::KeyPointer TokUADHCofactorDeriveMechanism::DeriveKey(zrck::MechanismSession& session,
                                                                        zrck::MechanismParameter& parameter,
                                                                        zrck::TokPrivateKey& baseKey,
                                                                        zrck::AttributeTemplate& attributes)
{
    FreeResources();
    FreeOnExit<TokUADHCofactorDeriveMechanism> release{*this};
    SetParameter(parameter);
    baseKey_ = &VerifyKeyIsUASgn(baseKey);
    return derivation_.Derive(*this, session, *baseKey_, attributes, true,
                              [this] { return CreateSecretKey(CKK_GOST28147_NAT); });
}

zrck::TokMechanism::KeyPointer TokUADHCofactorDeriveMechanism::DeriveKey(zrck::MechanismSession&,
                                                                        zrck::MechanismParameter&,
                                                                        zrck::TokPublicKey&,
                                                                        zrck::AttributeTemplate&)
{
    throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
}

void TokUADHCofactorDeriveMechanism::FreeResources()
{
    baseKey_ = nullptr;
    derivation_.Clear();
}

zrck::TokMechanism* TokUADHCofactorDeriveMechanism::Clone() const
{
    auto* clone = new TokUADHCofactorDeriveMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

zrck::TokMechanism::KeyPointer TokUADHCofactorDeriveMechanism::CreateSecretKey(CK_KEY_TYPE keyType)
{
    if (keyType != CKK_GOST28147_NAT) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    return KeyPointer(new TokUAGostSecretKey());
}

// ---- CKM_DSTUDH_DERIVE ----

TokUADHDeriveMechanism::TokUADHDeriveMechanism()
{
    SetMechanismType(CKM_DSTUDH_DERIVE);
    SetFlags(kDeriveFlags);
    SetUASgnKeySizes(*this);
}

zrck::TokMechanism::KeyPointer TokUADHDeriveMechanism::DeriveKey(zrck::MechanismSession& session,
                                                                zrck::MechanismParameter& parameter,
                                                                zrck::TokPrivateKey& baseKey,
                                                                zrck::AttributeTemplate& attributes)
{
    FreeResources();
    FreeOnExit<TokUADHDeriveMechanism> release{*this};
    SetParameter(parameter);
    baseKey_ = &VerifyKeyIsUASgn(baseKey);
    return derivation_.Derive(*this, session, *baseKey_, attributes, false, [this] { return CreateSecretKey(); });
}

zrck::TokMechanism::KeyPointer TokUADHDeriveMechanism::DeriveKey(zrck::MechanismSession&, zrck::MechanismParameter&,
                                                                zrck::TokPublicKey&, zrck::AttributeTemplate&)
{
    throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
}

void TokUADHDeriveMechanism::FreeResources()
{
    baseKey_ = nullptr;
    derivation_.Clear();
}

zrck::TokMechanism* TokUADHDeriveMechanism::Clone() const
{
    auto* clone = new TokUADHDeriveMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

zrck::TokMechanism::KeyPointer TokUADHDeriveMechanism::CreateSecretKey()
{
    return KeyPointer(new TokUAGostSecretKey());
}

} // namespace qel

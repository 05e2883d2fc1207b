#include "national/tok_ua_sgn_key_pair_gen.h"

#include "ckbase/exception.h"
#include "cryptoki/names/ck_names.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/token.h"
#include "driver/token_storage.h"
#include "national/template_value_detach.h"
#include "national/tok_ua_sgn_domain_params.h"
#include "national/tok_ua_sgn_keys.h"
#include "national/tok_ua_sgn_mechanisms.h"
#include "national/ua_sgn_util.h"
#include "national/ua_token.h"

#include <cstring>

namespace qel {

namespace {

constexpr CK_FLAGS kKeyPairGenFlags =
    CKF_HW | CKF_GENERATE_KEY_PAIR | kCkfEcF2m | kCkfEcParameters | CKF_EC_NAMEDCURVE | CKF_EC_COMPRESS;

CK_ULONG ULongValue(const zrck::Attribute& entry)
{
    if (entry.GetLength() != sizeof(CK_ULONG)) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    return entry.GetAsULong();
}

tru::Buffer ValueOf(const zrck::Attribute& entry)
{
    return tru::Buffer(entry.GetValue(), static_cast<uint32_t>(entry.GetLength()));
}

struct TemplateFacts {
    bool token = true;
    bool isPrivate = false;
    const zrck::Attribute* ecParams = nullptr;
};

TemplateFacts WalkPublicTemplate(const zrck::AttributeTemplate& attributes)
{
    TemplateFacts facts;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const zrck::Attribute& entry = attributes[i];
        switch (entry.GetType()) {
        case CKA_TOKEN: facts.token = entry.GetAsBool(); break;
        case CKA_PRIVATE: facts.isPrivate = entry.GetAsBool(); break;
        case CKA_CLASS:
            if (ULongValue(entry) != CKO_PUBLIC_KEY) throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT);
            break;
        case CKA_KEY_TYPE:
            if (ULongValue(entry) != CKK_DSTU4145) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
            break;
        case CKA_EC_PARAMS: facts.ecParams = &entry; break;
        case CKA_EC_POINT: throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        default: break;
        }
    }
    return facts;
}

TemplateFacts WalkPrivateTemplate(const zrck::AttributeTemplate& attributes)
{
    TemplateFacts facts;
    facts.isPrivate = true;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const zrck::Attribute& entry = attributes[i];
        switch (entry.GetType()) {
        case CKA_TOKEN: facts.token = entry.GetAsBool(); break;
        case CKA_PRIVATE: facts.isPrivate = entry.GetAsBool(); break;
        case CKA_CLASS:
            if (ULongValue(entry) != CKO_PRIVATE_KEY) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
            break;
        case CKA_KEY_TYPE:
            if (ULongValue(entry) != CKK_DSTU4145) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
            break;
        case CKA_EC_PARAMS: facts.ecParams = &entry; break;
        case CKA_VALUE: throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        default: break;
        }
    }
    return facts;
}

// The curve both templates agree on; with none named, the token's default set with DKE1.
tru::Buffer ChooseCurve(const TemplateFacts& publicFacts, const TemplateFacts& privateFacts, EParamSet defaultSet)
{
    if (publicFacts.ecParams == nullptr && privateFacts.ecParams == nullptr) {
        const tru::Buffer* block = UASgnParamsetBlock(defaultSet);
        if (block == nullptr) throw zrck::Exception(CKR_TEMPLATE_INCOMPLETE);
        return *block;
    }
    if (publicFacts.ecParams == nullptr) return ValueOf(*privateFacts.ecParams);
    if (privateFacts.ecParams == nullptr) return ValueOf(*publicFacts.ecParams);
    const tru::Buffer pub = ValueOf(*publicFacts.ecParams);
    const tru::Buffer priv = ValueOf(*privateFacts.ecParams);
    if (pub.Size() != priv.Size() || (pub.Size() != 0 && std::memcmp(pub.Data(), priv.Data(), pub.Size()) != 0)) {
        throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT);
    }
    return pub;
}

} // namespace

TokUASgnKeyPairGenMechanism::TokUASgnKeyPairGenMechanism()
{
    SetMechanismType(CKM_DSTU4145_KEY_PAIR_GEN);
    SetUASgnKeySizes(*this);
    SetFlags(kKeyPairGenFlags);
}

zrck::TokMechanism::KeyPair TokUASgnKeyPairGenMechanism::GenerateKeyPair(zrck::MechanismSession& session,
                                                                         const zrck::MechanismParameter& parameter,
                                                                         zrck::AttributeTemplate& publicAttributes,
                                                                         zrck::AttributeTemplate& privateAttributes)
{
    if (GetMechanismType() != CKM_DSTU4145_KEY_PAIR_GEN) throw zrck::Exception(CKR_MECHANISM_INVALID);
    EnsureParameterEmpty(parameter);
    const TemplateFacts publicFacts = WalkPublicTemplate(publicAttributes);
    const TemplateFacts privateFacts = WalkPrivateTemplate(privateAttributes);
    if (!privateFacts.token || !privateFacts.isPrivate) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    if (publicFacts.isPrivate) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    if (session.IsReadOnly()) throw zrck::Exception(CKR_SESSION_READ_ONLY);
    auto* token = dynamic_cast<zrck::Token*>(session.GetOwnerToken());
    if (token == nullptr) throw zrck::Exception(CKR_DEVICE_REMOVED);
    if (!token->IsLogged()) throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    const UAToken services = UAToken::Of(token);
    // The curve is copied: the template entries are replaced below.
    const tru::BufferDynamic curve(ChooseCurve(publicFacts, privateFacts, services.GetDefaultUAParamset()));
    tru::BufferDynamic sbox;
    const EParamSet paramSet = UASgnUtl::ParseECParams(curve, sbox, services.GetDefaultUAParamset());

    tru::BufferDynamic point;
    long keySlot = 0, publicObjectFile = 0, privateAttributeFile = 0, publicAttributeFile = 0;
    services.GetUAStorage().GenerateKeyPairM(paramSet, TokenObject, publicFacts.token ? TokenObject : NotKeptObject,
                                             point, keySlot, publicObjectFile, privateAttributeFile,
                                             publicAttributeFile);

    const CK_ZR_DATETIME generated = zrck::GetCurrentDateTimeAsZR();
    UASgnUtl::AddECPointAsnTag(point);

    static const CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    static const CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    static const CK_KEY_TYPE keyType = CKK_DSTU4145;
    // The templates outlive this call; entries given local values are cut loose on the way out.
    const TemplateValueDetach privateCurve(privateAttributes, CKA_EC_PARAMS, curve.Data());
    const TemplateValueDetach publicCurve(publicAttributes, CKA_EC_PARAMS, curve.Data());
    const TemplateValueDetach publicPoint(publicAttributes, CKA_EC_POINT, point.Data());
    zrck::Attribute privateAdded[3];
    privateAdded[0].SetupOwn(CKA_CLASS, &privateClass, sizeof privateClass);
    privateAdded[1].SetupOwn(CKA_KEY_TYPE, &keyType, sizeof keyType);
    privateAdded[2].SetupOwn(CKA_EC_PARAMS, curve.Data(), curve.Size());
    privateAttributes.AddOrReplaceAttributes(privateAdded, 3);
    privateAttributes.ResetProcessed();
    zrck::Attribute publicAdded[4];
    publicAdded[0].SetupOwn(CKA_CLASS, &publicClass, sizeof publicClass);
    publicAdded[1].SetupOwn(CKA_KEY_TYPE, &keyType, sizeof keyType);
    publicAdded[2].SetupOwn(CKA_EC_POINT, point.Data(), point.Size());
    publicAdded[3].SetupOwn(CKA_EC_PARAMS, curve.Data(), curve.Size());
    publicAttributes.AddOrReplaceAttributes(publicAdded, 4);
    publicAttributes.ResetProcessed();

    KeyPointer privateKey = CreatePrivateKey();
    auto& priv = static_cast<TokUASgnPrivateKey&>(*privateKey);
    priv.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    priv.SetVisibility(zrck::TokObject::VISIBILITY_PRIVATE);
    priv.SetLocal(CK_TRUE);
    priv.SetupAttributes(GetTokenPtr() != nullptr ? GetTokenPtr() : token, privateAttributes);
    priv.SetGenerationDate(generated);
    priv.AddGeneratedSensitiveAttributes(session);

    KeyPointer publicKey = CreatePublicKey();
    auto& pub = static_cast<TokUASgnPublicKey&>(*publicKey);
    pub.SetLifeTime(publicFacts.token ? zrck::TokObject::LIFETIME_TOKEN : zrck::TokObject::LIFETIME_SESSION);
    pub.SetVisibility(zrck::TokObject::VISIBILITY_PUBLIC);
    pub.SetLocal(CK_TRUE);
    pub.SetupAttributes(GetTokenPtr() != nullptr ? GetTokenPtr() : token, publicAttributes);
    pub.SetGenerationDate(generated);

    priv.SetObjectFile(keySlot);
    priv.SetAttributeFile(privateAttributeFile);
    priv.SetStorageID(static_cast<uint32_t>(privateAttributeFile) << 16 | static_cast<uint32_t>(keySlot));
    pub.SetObjectFile(publicObjectFile);
    pub.SetAttributeFile(publicAttributeFile);
    pub.SetStorageID(static_cast<uint32_t>(publicAttributeFile) << 16 | static_cast<uint32_t>(publicObjectFile));

    priv.SetKeyGenMechanism(CKM_DSTU4145_KEY_PAIR_GEN);
    pub.SetKeyGenMechanism(CKM_DSTU4145_KEY_PAIR_GEN);
    return KeyPair(publicKey, privateKey);
}

zrck::TokMechanism* TokUASgnKeyPairGenMechanism::Clone() const
{
    auto* clone = new TokUASgnKeyPairGenMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

zrck::TokMechanism::KeyPointer TokUASgnKeyPairGenMechanism::CreatePublicKey()
{
    return KeyPointer(new TokUASgnPublicKey());
}

zrck::TokMechanism::KeyPointer TokUASgnKeyPairGenMechanism::CreatePrivateKey()
{
    return KeyPointer(new TokUASgnPrivateKey());
}

} // namespace qel

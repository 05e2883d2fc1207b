#include "rsa/tok_rsa_key_pair_gen.h"

#include "ckbase/exception.h"
#include "cryptoki/names/ck_names.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/token.h"
#include "driver/qel_token.h"
#include "driver/stored_object_utl.h"
#include "driver/template_value_detach.h"
#include "driver/token_storage.h"
#include "rsa/rsa_key_binding.h"
#include "rsa/tok_rsa_keys.h"
#include "support/math.h"

namespace qel {

namespace {

const uint64_t kPublicExponent = 65537;

CK_ULONG ULongValue(const zrck::Attribute& entry)
{
    if (entry.GetLength() != sizeof(CK_ULONG)) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    return entry.GetAsULong();
}

bool BoolValue(const zrck::Attribute& entry)
{
    if (entry.GetLength() != sizeof(CK_BBOOL)) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    return entry.GetAsBool();
}

struct PublicFacts {
    bool token = true;
    bool isPrivate = false;
    CK_ULONG bits = 0;
    bool bitsGiven = false;
    const zrck::Attribute* exponent = nullptr;
};

PublicFacts WalkPublicTemplate(const zrck::AttributeTemplate& attributes)
{
    PublicFacts facts;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const zrck::Attribute& entry = attributes[i];
        switch (entry.GetType()) {
        case CKA_CLASS:
            if (ULongValue(entry) != CKO_PUBLIC_KEY) throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT);
            break;
        case CKA_TOKEN: facts.token = BoolValue(entry); break;
        case CKA_PRIVATE: facts.isPrivate = BoolValue(entry); break;
        case CKA_KEY_TYPE:
            if (ULongValue(entry) != CKK_RSA) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
            break;
        case CKA_MODULUS: throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY);
        case CKA_MODULUS_BITS:
            facts.bits = ULongValue(entry);
            facts.bitsGiven = true;
            break;
        case CKA_PUBLIC_EXPONENT: facts.exponent = &entry; break;
        default: break;
        }
    }
    return facts;
}

// Token and private flags of the private template.
std::pair<bool, bool> WalkPrivateTemplate(const zrck::AttributeTemplate& attributes)
{
    bool token = true;
    bool isPrivate = true;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const zrck::Attribute& entry = attributes[i];
        switch (entry.GetType()) {
        case CKA_CLASS:
            if (ULongValue(entry) != CKO_PRIVATE_KEY) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
            break;
        case CKA_TOKEN: token = BoolValue(entry); break;
        case CKA_PRIVATE: isPrivate = BoolValue(entry); break;
        case CKA_KEY_TYPE:
            if (ULongValue(entry) != CKK_RSA) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
            break;
        case CKA_MODULUS_BITS: throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY);
        default: break;
        }
    }
    return {token, isPrivate};
}

void CheckPublicExponent(const zrck::Attribute* exponent)
{
    if (exponent == nullptr || exponent->GetLength() == 0) return;
    if (vdk::GetUnsignedLLongFromBigInt(exponent->GetValue(), static_cast<uint32_t>(exponent->GetLength())) !=
        kPublicExponent) {
        throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

// What the token made for one generation; removed again unless the generation is kept.
class GeneratedFiles {
public:
    GeneratedFiles(TokenStorage& storage) : storage_(storage) {}
    ~GeneratedFiles()
    {
        if (kept_) return;
        Remove(publicAttributeFile, publicObjectFile);
        Remove(privateAttributeFile, keySlot);
    }
    GeneratedFiles(const GeneratedFiles&) = delete;
    GeneratedFiles& operator=(const GeneratedFiles&) = delete;

    void Keep() { kept_ = true; }

    long keySlot = 0;
    long publicObjectFile = 0;
    long privateAttributeFile = 0;
    long publicAttributeFile = 0;

private:
    void Remove(long attributeFile, long objectFile)
    {
        if (objectFile == 0) return;
        try {
            storage_.DeleteStorageObject(static_cast<uint32_t>(attributeFile) << 16 | static_cast<uint32_t>(objectFile),
                                         false);
        } catch (...) {
            // The original failure is the one reported.
        }
    }

    TokenStorage& storage_;
    bool kept_ = false;
};

uint32_t StorageIdOf(long attributeFile, long objectFile)
{
    return static_cast<uint32_t>(attributeFile) << 16 | (static_cast<uint32_t>(objectFile) & 0xFFFF);
}

}  // namespace

TokRsaKeyPairGenMechanism::TokRsaKeyPairGenMechanism()
{
    SetMechanismType(CKM_RSA_PKCS_KEY_PAIR_GEN);
    SetFlags(CKF_HW | CKF_GENERATE_KEY_PAIR);
    RsaKeyBinding::SetStoredKeySizes(*this);
}

CK_ULONG TokRsaKeyPairGenMechanism::GetMinKeySize() const { return RsaKeyBinding::MinKeySize(*this); }
CK_ULONG TokRsaKeyPairGenMechanism::GetMaxKeySize() const { return RsaKeyBinding::MaxKeySize(*this); }

zrck::TokMechanism::KeyPair TokRsaKeyPairGenMechanism::GenerateKeyPair(zrck::MechanismSession& session,
                                                                       const zrck::MechanismParameter& parameter,
                                                                       zrck::AttributeTemplate& publicAttributes,
                                                                       zrck::AttributeTemplate& privateAttributes)
{
    if (parameter.GetType() != CKM_RSA_PKCS_KEY_PAIR_GEN) throw zrck::Exception(CKR_MECHANISM_INVALID);
    EnsureParameterEmpty(parameter);
    const PublicFacts publicFacts = WalkPublicTemplate(publicAttributes);
    const std::pair<bool, bool> privateFacts = WalkPrivateTemplate(privateAttributes);
    if (!privateFacts.first || !privateFacts.second) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    if (publicFacts.isPrivate) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    zrck::ObjectToken* token = session.GetOwnerToken();
    if (token == nullptr) throw zrck::Exception(CKR_DEVICE_REMOVED);
    if (session.IsReadOnly()) throw zrck::Exception(CKR_SESSION_READ_ONLY);
    if (!token->IsLogged()) throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    if (!publicFacts.bitsGiven) throw zrck::Exception(CKR_TEMPLATE_INCOMPLETE);
    if (publicFacts.bits < GetMinKeySize() || publicFacts.bits > GetMaxKeySize()) {
        throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    const EParamSet paramSet = TokRsaPublicKey::ConvertBitsToParamset(publicFacts.bits);
    CheckPublicExponent(publicFacts.exponent);

    TokenStorage& storage = *Token::ExtractStorage(token);
    tru::BufferDynamic modulus;
    GeneratedFiles generated(storage);
    storage.GenerateKeyPairM(paramSet, TokenObject, publicFacts.token ? TokenObject : NotKeptObject, modulus,
                             generated.keySlot, generated.publicObjectFile, generated.privateAttributeFile,
                             generated.publicAttributeFile);
    const CK_ZR_DATETIME generatedAt = zrck::GetCurrentDateTimeAsZR();
    TokRsaPublicKey::ExtractModulus(modulus, paramSet);

    static const CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    static const CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    static const CK_KEY_TYPE keyType = CKK_RSA;
    const tru::Buffer& exponent = TokRsaPrivateKey::PUBLIC_EXPONENT;
    // The templates outlive this call; entries given local values are cut loose on the way out.
    const TemplateValueDetach privateModulus(privateAttributes, CKA_MODULUS, modulus.Data());
    const TemplateValueDetach publicModulus(publicAttributes, CKA_MODULUS, modulus.Data());
    zrck::Attribute privateAdded[5];
    privateAdded[0].SetupOwn(CKA_CLASS, &privateClass, sizeof privateClass);
    privateAdded[1].SetupOwn(CKA_KEY_TYPE, &keyType, sizeof keyType);
    privateAdded[2].SetupOwn(CKA_MODULUS, modulus.Data(), modulus.Size());
    privateAdded[3].SetupOwn(CKA_PUBLIC_EXPONENT, exponent.Data(), exponent.Size());
    privateAdded[4].SetupOwn(CKA_PRIVATE_EXPONENT, nullptr, 0);
    privateAttributes.AddOrReplaceAttributes(privateAdded, 5);
    privateAttributes.ResetProcessed();
    zrck::Attribute publicAdded[4];
    publicAdded[0].SetupOwn(CKA_CLASS, &publicClass, sizeof publicClass);
    publicAdded[1].SetupOwn(CKA_KEY_TYPE, &keyType, sizeof keyType);
    publicAdded[2].SetupOwn(CKA_MODULUS, modulus.Data(), modulus.Size());
    publicAdded[3].SetupOwn(CKA_PUBLIC_EXPONENT, exponent.Data(), exponent.Size());
    publicAttributes.AddOrReplaceAttributes(publicAdded, 4);
    publicAttributes.ResetProcessed();

    zrck::ObjectToken* keyToken = GetTokenPtr() != nullptr ? GetTokenPtr() : token;
    KeyPointer privateKey = CreatePrivateKey();
    auto& priv = static_cast<TokRsaPrivateKey&>(*privateKey);
    priv.SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    priv.SetVisibility(zrck::TokObject::VISIBILITY_PRIVATE);
    priv.SetLocal(CK_TRUE);
    priv.SetupAttributes(keyToken, privateAttributes);
    priv.SetGenerationDate(generatedAt);
    priv.AddGeneratedSensitiveAttributes(session);

    KeyPointer publicKey = CreatePublicKey();
    auto& pub = static_cast<TokRsaPublicKey&>(*publicKey);
    pub.SetLifeTime(publicFacts.token ? zrck::TokObject::LIFETIME_TOKEN : zrck::TokObject::LIFETIME_SESSION);
    pub.SetVisibility(zrck::TokObject::VISIBILITY_PUBLIC);
    pub.SetLocal(CK_TRUE);
    pub.SetupAttributes(keyToken, publicAttributes);
    pub.SetGenerationDate(generatedAt);

    priv.SetObjectFile(generated.keySlot);
    priv.SetAttributeFile(generated.privateAttributeFile);
    priv.SetStorageID(StorageIdOf(generated.privateAttributeFile, generated.keySlot));
    pub.SetObjectFile(generated.publicObjectFile);
    pub.SetAttributeFile(generated.publicAttributeFile);
    pub.SetStorageID(StorageIdOf(generated.publicAttributeFile, generated.publicObjectFile));

    priv.SetKeyGenMechanism(CKM_RSA_PKCS_KEY_PAIR_GEN);
    pub.SetKeyGenMechanism(CKM_RSA_PKCS_KEY_PAIR_GEN);
    generated.Keep();
    return KeyPair(publicKey, privateKey);
}

zrck::TokMechanism* TokRsaKeyPairGenMechanism::Clone() const
{
    auto* clone = new TokRsaKeyPairGenMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

zrck::TokMechanism::KeyPointer TokRsaKeyPairGenMechanism::CreatePublicKey()
{
    return KeyPointer(new TokRsaPublicKey());
}

zrck::TokMechanism::KeyPointer TokRsaKeyPairGenMechanism::CreatePrivateKey()
{
    return KeyPointer(new TokRsaPrivateKey());
}

}  // namespace qel

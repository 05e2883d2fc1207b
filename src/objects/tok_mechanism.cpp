#include "objects/tok_mechanism.h"

#include "cryptoki/exception.h"
#include "objects/attribute_value.h"

namespace zrck {

MechanismParameter::MechanismParameter(const CK_MECHANISM& mechanism)
    : mType(mechanism.mechanism), mParameter(MakeView(mechanism.pParameter, mechanism.ulParameterLen)) {
    if (mechanism.pParameter == nullptr && mechanism.ulParameterLen != 0) throw Exception(CKR_MECHANISM_PARAM_INVALID);
}

namespace {
[[noreturn]] void Unsupported() { throw Exception(CKR_MECHANISM_INVALID); }
}  // namespace

bool TokMechanism::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_MECHANISM_TYPE || type == CKA_CLASS;
}

bool TokMechanism::IsObjectMeetConditions(const AttributeTemplate& search) const {
    const Attribute* objectClass = search.GetAttributeIfExists(CKA_CLASS);
    if (objectClass == nullptr || objectClass->GetAsULong() != CKO_MECHANISM) return false;
    const Attribute* type = search.GetAttributeIfExists(CKA_MECHANISM_TYPE);
    return type == nullptr || type->GetAsULong() == mType;
}

CK_RV TokMechanism::FillAttribute(Attribute& attribute) {
    if (attribute.GetType() == CKA_MECHANISM_TYPE) return PlaceULong(attribute, mType);
    return TokObject::FillAttribute(attribute);
}

CK_RV TokMechanism::GetAttributes(AttributeTemplate& attributes) {
    CK_RV first = CKR_OK;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const CK_RV rv = FillAttribute(attributes[i]);
        if (first == CKR_OK) first = rv;
    }
    return first;
}

CK_RV TokMechanism::UpdateAttributes(AttributeTemplate& attributes) {
    CK_RV result = CKR_OK;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        if (attributes[i].mProcessed > 0) continue;
        attributes[i].mProcessed = 1;
        result = CKR_ATTRIBUTE_READ_ONLY;
    }
    return result;
}

void TokMechanism::InitializeWithAttributes(Token*, AttributeTemplate&) { throw Exception(CKR_GENERAL_ERROR); }
void TokMechanism::SetupAttributes(Token*, AttributeTemplate&) { throw Exception(CKR_GENERAL_ERROR); }
void TokMechanism::SetupAttribute(const Attribute&) { throw Exception(CKR_GENERAL_ERROR); }
TokObject* TokMechanism::GenerateCopy() { throw Exception(CKR_OBJECT_HANDLE_INVALID); }

void TokMechanism::FillMechanismInfo(CK_MECHANISM_INFO* info) const {
    info->ulMinKeySize = GetMinKeySize();
    info->ulMaxKeySize = GetMaxKeySize();
    info->flags = mFlags;
}

void TokMechanism::GetMechanismSessionState(tru::BufferDynamic&) { throw Exception(CKR_STATE_UNSAVEABLE); }
void TokMechanism::SetMechanismSessionState(SessionFrame&, CryptoStateEnum, const tru::Buffer&, TokKey*) {
    throw Exception(CKR_STATE_UNSAVEABLE);
}

TokMechanism::KeyPointer TokMechanism::GenerateKey(SessionFrame&, const MechanismParameter&, AttributeTemplate&) {
    Unsupported();
}
TokMechanism::KeyPair TokMechanism::GenerateKeyPair(SessionFrame&, const MechanismParameter&, AttributeTemplate&,
                                                     AttributeTemplate&) {
    Unsupported();
}
TokMechanism::KeyPointer TokMechanism::DeriveKey(SessionFrame&, MechanismParameter&, TokPrivateKey&, AttributeTemplate&) {
    Unsupported();
}
TokMechanism::KeyPointer TokMechanism::DeriveKey(SessionFrame&, MechanismParameter&, TokPublicKey&, AttributeTemplate&) {
    Unsupported();
}
TokMechanism::KeyPointer TokMechanism::DeriveKey(SessionFrame&, MechanismParameter&, TokGenericSecretKey&,
                                                 AttributeTemplate&) {
    Unsupported();
}
void TokMechanism::EncryptInit(SessionFrame&, const MechanismParameter&, TokPublicKey&) { Unsupported(); }
void TokMechanism::EncryptInit(SessionFrame&, const MechanismParameter&, TokSecretKey&) { Unsupported(); }
bool TokMechanism::Encrypt(SessionFrame&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
bool TokMechanism::EncryptUpdate(SessionFrame&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
bool TokMechanism::EncryptFinal(SessionFrame&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::DecryptInit(SessionFrame&, const MechanismParameter&, TokPrivateKey&) { Unsupported(); }
void TokMechanism::DecryptInit(SessionFrame&, const MechanismParameter&, TokSecretKey&) { Unsupported(); }
bool TokMechanism::Decrypt(SessionFrame&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
bool TokMechanism::DecryptUpdate(SessionFrame&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
bool TokMechanism::DecryptFinal(SessionFrame&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::SignInit(SessionFrame&, const MechanismParameter&, TokPrivateKey&) { Unsupported(); }
void TokMechanism::SignInit(SessionFrame&, const MechanismParameter&, TokSecretKey&) { Unsupported(); }
bool TokMechanism::Sign(SessionFrame&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::SignUpdate(SessionFrame&, const tru::Buffer&) { Unsupported(); }
bool TokMechanism::SignFinal(SessionFrame&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::VerifyInit(SessionFrame&, const MechanismParameter&, TokPublicKey&) { Unsupported(); }
void TokMechanism::VerifyInit(SessionFrame&, const MechanismParameter&, TokSecretKey&) { Unsupported(); }
bool TokMechanism::Verify(SessionFrame&, const tru::Buffer&, const tru::Buffer&) { Unsupported(); }
void TokMechanism::VerifyUpdate(SessionFrame&, const tru::Buffer&) { Unsupported(); }
bool TokMechanism::VerifyFinal(SessionFrame&, const tru::Buffer&) { Unsupported(); }
void TokMechanism::SignRecoverInit(SessionFrame&, const MechanismParameter&, TokPrivateKey&) { Unsupported(); }
bool TokMechanism::SignRecover(SessionFrame&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::VerifyRecoverInit(SessionFrame&, const MechanismParameter&, TokPublicKey&) { Unsupported(); }
bool TokMechanism::VerifyRecover(SessionFrame&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::DigestInit(SessionFrame&, const MechanismParameter&) { Unsupported(); }
bool TokMechanism::Digest(SessionFrame&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::DigestUpdate(SessionFrame&, const tru::Buffer&) { Unsupported(); }
bool TokMechanism::DigestFinal(SessionFrame&, unsigned char*, unsigned long*) { Unsupported(); }
bool TokMechanism::DigestEncryptUpdate(SessionFrame&, TokMechanism&, const tru::Buffer&, unsigned char*,
                                       unsigned long*) {
    Unsupported();
}
bool TokMechanism::DecryptDigestUpdate(SessionFrame&, TokMechanism&, const tru::Buffer&, unsigned char*,
                                       unsigned long*) {
    Unsupported();
}
bool TokMechanism::SignEncryptUpdate(SessionFrame&, TokMechanism&, const tru::Buffer&, unsigned char*,
                                     unsigned long*) {
    Unsupported();
}
bool TokMechanism::DecryptVerifyUpdate(SessionFrame&, TokMechanism&, const tru::Buffer&, unsigned char*,
                                       unsigned long*) {
    Unsupported();
}
bool TokMechanism::WrapKey(SessionFrame&, const MechanismParameter&, TokKey*, TokKey&, unsigned char*, unsigned long*) {
    Unsupported();
}
TokMechanism::KeyPointer TokMechanism::UnwrapKey(SessionFrame&, const MechanismParameter&, TokKey*, const tru::Buffer&,
                                                 AttributeTemplate&) {
    Unsupported();
}

void TokMechanism::AssignAttributes(const TokMechanism& source) {
    SetMinKeySize(source.GetMinKeySize());
    SetMaxKeySize(source.GetMaxKeySize());
    mFlags = source.mFlags;
    mType = source.mType;
    SetTokenPtr(source.GetTokenPtr());
}

void TokMechanism::EnsureParameterEmpty(const MechanismParameter& parameter) {
    if (BufferSize(parameter.GetParameter()) != 0 || BufferBytes(parameter.GetParameter()) != nullptr) {
        throw Exception(CKR_MECHANISM_PARAM_INVALID);
    }
    SetDefaultParameter();
}

void TokMechanism::FillDerivedSensitivities(TokPrivateKey& baseKey, TokSecretKey& derivedKey) {
    derivedKey.SetIsAlwaysSensitive(baseKey.GetIsAlwaysSensitive() && derivedKey.GetIsSensitive() ? CK_TRUE : CK_FALSE);
    derivedKey.SetIsNeverExtractable(baseKey.GetIsNeverExtractable() && !derivedKey.GetIsExtractable() ? CK_TRUE
                                                                                                       : CK_FALSE);
}

}  // namespace zrck

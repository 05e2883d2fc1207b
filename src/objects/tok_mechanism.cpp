#include "objects/tok_mechanism.h"

#include "ckbase/exception.h"
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

void TokMechanism::InitializeWithAttributes(ObjectToken*, AttributeTemplate&) { throw Exception(CKR_GENERAL_ERROR); }
void TokMechanism::SetupAttributes(ObjectToken*, AttributeTemplate&) { throw Exception(CKR_GENERAL_ERROR); }
void TokMechanism::SetupAttribute(const Attribute&) { throw Exception(CKR_GENERAL_ERROR); }
TokObject* TokMechanism::GenerateCopy() { throw Exception(CKR_OBJECT_HANDLE_INVALID); }

void TokMechanism::FillMechanismInfo(CK_MECHANISM_INFO* info) const {
    info->ulMinKeySize = GetMinKeySize();
    info->ulMaxKeySize = GetMaxKeySize();
    info->flags = mFlags;
}

void TokMechanism::GetMechanismSessionState(tru::BufferDynamic&) { throw Exception(CKR_STATE_UNSAVEABLE); }
void TokMechanism::SetMechanismSessionState(MechanismSession&, CryptoStateEnum, const tru::Buffer&, TokKey*) {
    throw Exception(CKR_STATE_UNSAVEABLE);
}

TokMechanism::KeyPointer TokMechanism::GenerateKey(MechanismSession&, const MechanismParameter&, AttributeTemplate&) {
    Unsupported();
}
TokMechanism::KeyPair TokMechanism::GenerateKeyPair(MechanismSession&, const MechanismParameter&, AttributeTemplate&,
                                                     AttributeTemplate&) {
    Unsupported();
}
TokMechanism::KeyPointer TokMechanism::DeriveKey(MechanismSession&, MechanismParameter&, TokPrivateKey&, AttributeTemplate&) {
    Unsupported();
}
TokMechanism::KeyPointer TokMechanism::DeriveKey(MechanismSession&, MechanismParameter&, TokPublicKey&, AttributeTemplate&) {
    Unsupported();
}
TokMechanism::KeyPointer TokMechanism::DeriveKey(MechanismSession&, MechanismParameter&, TokGenericSecretKey&,
                                                 AttributeTemplate&) {
    Unsupported();
}
void TokMechanism::EncryptInit(MechanismSession&, const MechanismParameter&, TokPublicKey&) { Unsupported(); }
void TokMechanism::EncryptInit(MechanismSession&, const MechanismParameter&, TokSecretKey&) { Unsupported(); }
bool TokMechanism::Encrypt(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
bool TokMechanism::EncryptUpdate(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
bool TokMechanism::EncryptFinal(MechanismSession&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::DecryptInit(MechanismSession&, const MechanismParameter&, TokPrivateKey&) { Unsupported(); }
void TokMechanism::DecryptInit(MechanismSession&, const MechanismParameter&, TokSecretKey&) { Unsupported(); }
bool TokMechanism::Decrypt(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
bool TokMechanism::DecryptUpdate(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
bool TokMechanism::DecryptFinal(MechanismSession&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::SignInit(MechanismSession&, const MechanismParameter&, TokPrivateKey&) { Unsupported(); }
void TokMechanism::SignInit(MechanismSession&, const MechanismParameter&, TokSecretKey&) { Unsupported(); }
bool TokMechanism::Sign(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::SignUpdate(MechanismSession&, const tru::Buffer&) { Unsupported(); }
bool TokMechanism::SignFinal(MechanismSession&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::VerifyInit(MechanismSession&, const MechanismParameter&, TokPublicKey&) { Unsupported(); }
void TokMechanism::VerifyInit(MechanismSession&, const MechanismParameter&, TokSecretKey&) { Unsupported(); }
bool TokMechanism::Verify(MechanismSession&, const tru::Buffer&, const tru::Buffer&) { Unsupported(); }
void TokMechanism::VerifyUpdate(MechanismSession&, const tru::Buffer&) { Unsupported(); }
bool TokMechanism::VerifyFinal(MechanismSession&, const tru::Buffer&) { Unsupported(); }
void TokMechanism::SignRecoverInit(MechanismSession&, const MechanismParameter&, TokPrivateKey&) { Unsupported(); }
bool TokMechanism::SignRecover(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::VerifyRecoverInit(MechanismSession&, const MechanismParameter&, TokPublicKey&) { Unsupported(); }
bool TokMechanism::VerifyRecover(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::DigestInit(MechanismSession&, const MechanismParameter&) { Unsupported(); }
bool TokMechanism::Digest(MechanismSession&, const tru::Buffer&, unsigned char*, unsigned long*) { Unsupported(); }
void TokMechanism::DigestUpdate(MechanismSession&, const tru::Buffer&) { Unsupported(); }
bool TokMechanism::DigestFinal(MechanismSession&, unsigned char*, unsigned long*) { Unsupported(); }
bool TokMechanism::DigestEncryptUpdate(MechanismSession&, TokMechanism&, const tru::Buffer&, unsigned char*,
                                       unsigned long*) {
    Unsupported();
}
bool TokMechanism::DecryptDigestUpdate(MechanismSession&, TokMechanism&, const tru::Buffer&, unsigned char*,
                                       unsigned long*) {
    Unsupported();
}
bool TokMechanism::SignEncryptUpdate(MechanismSession&, TokMechanism&, const tru::Buffer&, unsigned char*,
                                     unsigned long*) {
    Unsupported();
}
bool TokMechanism::DecryptVerifyUpdate(MechanismSession&, TokMechanism&, const tru::Buffer&, unsigned char*,
                                       unsigned long*) {
    Unsupported();
}
bool TokMechanism::WrapKey(MechanismSession&, const MechanismParameter&, TokKey*, TokKey&, unsigned char*, unsigned long*) {
    Unsupported();
}
TokMechanism::KeyPointer TokMechanism::UnwrapKey(MechanismSession&, const MechanismParameter&, TokKey*, const tru::Buffer&,
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

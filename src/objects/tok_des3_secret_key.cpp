#include "objects/tok_des3_secret_key.h"

#include "ckbase/exception.h"
#include "objects/object_rules.h"

namespace zrck {

bool TokDES3SecretKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_SECRET_KEY, CKA_KEY_TYPE, CKK_DES3);
}

const CK_ZR_DATETIME* TokDES3SecretKey::GetGenerationDate() const {
    throw Exception(CKR_ATTRIBUTE_TYPE_INVALID, "No GetGenerationDate");
}

void TokDES3SecretKey::SetGenerationDate(const CK_ZR_DATETIME&) {
    throw Exception(CKR_ATTRIBUTE_TYPE_INVALID, "No SetGenerationDate");
}

bool TokDES3SecretKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_VALUE || TokSecretKey::IsMyAttributeType(type);
}

bool TokDES3SecretKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokSecretKey::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return TokSecretKey::IsMyAttributeType(type); },
        [](const Attribute&) { return false; });
}

CK_RV TokDES3SecretKey::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        if (entry.GetType() == CKA_VALUE)
            return PlaceGuardedBytes(entry, IsValueRevealable(*this),
                                     [this]() -> const tru::Buffer& { return GetValue(); });
        return TokSecretKey::FillAttribute(entry);
    });
}

CK_RV TokDES3SecretKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckKeyUpdate(*this, attributes, [this](const Attribute& entry) {
        if (entry.GetType() == CKA_VALUE) return CKR_ATTRIBUTE_READ_ONLY;
        // Once sensitive, the flag is read-only here (other key classes: CKR_ATTRIBUTE_VALUE_INVALID).
        if (entry.GetType() == CKA_SENSITIVE && GetIsSensitive() && !entry.GetAsBool()) return CKR_ATTRIBUTE_READ_ONLY;
        return NOT_OWN_TYPE;
    });
    if (refused != CKR_OK) return refused;
    return TokSecretKey::UpdateAttributes(attributes);
}

void TokDES3SecretKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    SetupEntries(attributes, [this](const Attribute& entry) {
        if (entry.GetType() != CKA_VALUE) return TokSecretKey::SetupAttribute(entry);
        const tru::Buffer value = ReadBytes(entry);
        // A size whose bit count would not fit in 32 bits is refused before it can wrap.
        if (value.Size() > 0xFFFFFFFFu / 8 || !IsKeySizeAcceptable(value.Size() * 8))
            throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        SetValue(value);
    });
}

void TokDES3SecretKey::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    InitializeKeyWithAttributes(*this, token, attributes);
}

}  // namespace zrck

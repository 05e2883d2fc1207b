#include "objects/tok_ecdsa_keys.h"

#include "ckbase/exception.h"
#include "objects/object_rules.h"

namespace zrck {

namespace {
// CKA_TRUSTED is compared by the public-key level although it does not list it as its own.
bool PublicLevelCompares(const TokPublicKey& key, CK_ATTRIBUTE_TYPE type) {
    return type == CKA_TRUSTED || key.TokPublicKey::IsMyAttributeType(type);
}
}  // namespace

// ---- TokECDsaPrivateKey ----

bool TokECDsaPrivateKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_PRIVATE_KEY, CKA_KEY_TYPE, CKK_EC);
}

bool TokECDsaPrivateKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_EC_PARAMS || type == CKA_VALUE || TokPrivateKey::IsMyAttributeType(type);
}

bool TokECDsaPrivateKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokPrivateKey::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return TokPrivateKey::IsMyAttributeType(type); },
        [this](const Attribute& entry) {
            return entry.GetType() == CKA_EC_PARAMS && MatchBytes(entry, GetECParams());
        });
}

CK_RV TokECDsaPrivateKey::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_EC_PARAMS: return PlaceBytes(entry, GetECParams());
            case CKA_VALUE:
                return PlaceGuardedBytes(entry, IsValueRevealable(*this),
                                         [this]() -> const tru::Buffer& { return GetValue(); });
            default: return TokPrivateKey::FillAttribute(entry);
        }
    });
}

CK_RV TokECDsaPrivateKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckKeyUpdate(*this, attributes, [](const Attribute& entry) {
        const CK_ATTRIBUTE_TYPE type = entry.GetType();
        return type == CKA_EC_PARAMS || type == CKA_VALUE ? CKR_ATTRIBUTE_READ_ONLY : NOT_OWN_TYPE;
    });
    if (refused != CKR_OK) return refused;
    return TokPrivateKey::UpdateAttributes(attributes);
}

void TokECDsaPrivateKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    SetupEntries(attributes, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_EC_PARAMS: SetECParams(ReadBytes(entry)); break;
            case CKA_VALUE: SetValue(ReadBytes(entry)); break;
            default: TokPrivateKey::SetupAttribute(entry);
        }
    });
}

void TokECDsaPrivateKey::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    InitializeKeyWithAttributes(*this, token, attributes);
}

// ---- TokECDsaPublicKey ----

bool TokECDsaPublicKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_PUBLIC_KEY, CKA_KEY_TYPE, CKK_EC);
}

bool TokECDsaPublicKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_EC_PARAMS || type == CKA_EC_POINT || TokPublicKey::IsMyAttributeType(type);
}

bool TokECDsaPublicKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokPublicKey::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return PublicLevelCompares(*this, type); },
        [this](const Attribute& entry) {
            switch (entry.GetType()) {
                case CKA_EC_PARAMS: return MatchBytes(entry, GetECParams());
                case CKA_EC_POINT: return MatchBytes(entry, GetECPoint());
                default: return false;
            }
        });
}

CK_RV TokECDsaPublicKey::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_EC_PARAMS: return PlaceBytes(entry, GetECParams());
            case CKA_EC_POINT: return PlaceBytes(entry, GetECPoint());
            default: return TokPublicKey::FillAttribute(entry);
        }
    });
}

CK_RV TokECDsaPublicKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckKeyUpdate(*this, attributes, [](const Attribute& entry) {
        const CK_ATTRIBUTE_TYPE type = entry.GetType();
        return type == CKA_EC_PARAMS || type == CKA_EC_POINT ? CKR_ATTRIBUTE_READ_ONLY : NOT_OWN_TYPE;
    });
    if (refused != CKR_OK) return refused;
    return TokPublicKey::UpdateAttributes(attributes);
}

void TokECDsaPublicKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    SetupEntries(attributes, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_EC_PARAMS: SetECParams(ReadBytes(entry)); break;
            case CKA_EC_POINT: SetECPoint(ReadBytes(entry)); break;
            default: TokPublicKey::SetupAttribute(entry);
        }
    });
}

void TokECDsaPublicKey::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetupAttributes(token, attributes);
    if (!attributes.HasUsageAttributes()) AddDefaultUsageAttributes();
    if (GetECPoint().Empty()) throw Exception(CKR_TEMPLATE_INCOMPLETE);
}

}  // namespace zrck

#include "objects/tok_ua_sgn_objects.h"

#include "ckbase/exception.h"
#include "objects/object_rules.h"

namespace zrck {

// ---- TokUASgnDomainParams ----

bool TokUASgnDomainParams::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_EC_PARAMS || TokDomainParams::IsMyAttributeType(type);
}

bool TokUASgnDomainParams::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokDomainParams::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return TokDomainParams::IsMyAttributeType(type); },
        [this](const Attribute& entry) {
            return entry.GetType() == CKA_EC_PARAMS && MatchBytes(entry, GetECParams());
        });
}

CK_RV TokUASgnDomainParams::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        if (entry.GetType() == CKA_EC_PARAMS) return PlaceBytes(entry, GetECParams());
        return TokDomainParams::FillAttribute(entry);
    });
}

CK_RV TokUASgnDomainParams::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckStorageUpdate(*this, attributes, [](const Attribute& entry) {
        return entry.GetType() == CKA_EC_PARAMS ? CKR_ATTRIBUTE_READ_ONLY : NOT_OWN_TYPE;
    });
    if (refused != CKR_OK) return refused;
    return TokStorageObject::UpdateAttributes(attributes);
}

void TokUASgnDomainParams::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    SetupEntries(attributes, [this](const Attribute& entry) {
        if (entry.GetType() == CKA_EC_PARAMS) return SetECParams(ReadBytes(entry));
        TokDomainParams::SetupAttribute(entry);
    });
}

void TokUASgnDomainParams::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetupAttributes(token, attributes);
}

// ---- TokUASgnPrivateKey ----

bool TokUASgnPrivateKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_PRIVATE_KEY, CKA_KEY_TYPE, CKK_DSTU4145);
}

bool TokUASgnPrivateKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_VALUE || type == CKA_EC_PARAMS || TokPrivateKey::IsMyAttributeType(type);
}

bool TokUASgnPrivateKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokPrivateKey::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return TokPrivateKey::IsMyAttributeType(type); },
        [this](const Attribute& entry) {
            return entry.GetType() == CKA_EC_PARAMS && MatchBytes(entry, GetECParams());
        });
}

CK_RV TokUASgnPrivateKey::GetAttributes(AttributeTemplate& attributes) {
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

CK_RV TokUASgnPrivateKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckKeyUpdate(*this, attributes, [](const Attribute& entry) {
        const CK_ATTRIBUTE_TYPE type = entry.GetType();
        return type == CKA_VALUE || type == CKA_EC_PARAMS ? CKR_ATTRIBUTE_READ_ONLY : NOT_OWN_TYPE;
    });
    if (refused != CKR_OK) return refused;
    return TokPrivateKey::UpdateAttributes(attributes);
}

void TokUASgnPrivateKey::AddDefaultAttributes(AttributeTemplate& attributes) {
    AddTrueFlagsIfMissing(attributes, {CKA_SIGN});
}

void TokUASgnPrivateKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    AddDefaultAttributes(attributes);
    SetupEntries(attributes, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_VALUE: SetValue(ReadBytes(entry)); break;
            case CKA_EC_PARAMS: SetECParams(ReadBytes(entry)); break;
            default: TokPrivateKey::SetupAttribute(entry);
        }
    });
    if (attributes.GetAttributeIfExists(CKA_EC_PARAMS) == nullptr) throw Exception(CKR_TEMPLATE_INCOMPLETE);
}

void TokUASgnPrivateKey::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    InitializeKeyWithAttributes(*this, token, attributes);
}

// ---- TokUASgnPublicKey ----

bool TokUASgnPublicKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_PUBLIC_KEY, CKA_KEY_TYPE, CKK_DSTU4145);
}

bool TokUASgnPublicKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_EC_PARAMS || type == CKA_EC_POINT || TokPublicKey::IsMyAttributeType(type);
}

bool TokUASgnPublicKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokPublicKey::IsObjectMeetConditions(search)) return false;
    // CKA_TRUSTED is compared by the public-key level although it does not list it as its own.
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return type == CKA_TRUSTED || TokPublicKey::IsMyAttributeType(type); },
        [this](const Attribute& entry) {
            switch (entry.GetType()) {
                case CKA_EC_PARAMS: return MatchBytes(entry, GetECParams());
                case CKA_EC_POINT: return MatchBytes(entry, GetECPoint());
                default: return false;
            }
        });
}

CK_RV TokUASgnPublicKey::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_EC_PARAMS: return PlaceBytes(entry, GetECParams());
            case CKA_EC_POINT: return PlaceBytes(entry, GetECPoint());
            default: return TokPublicKey::FillAttribute(entry);
        }
    });
}

CK_RV TokUASgnPublicKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckKeyUpdate(*this, attributes, [](const Attribute& entry) {
        const CK_ATTRIBUTE_TYPE type = entry.GetType();
        return type == CKA_EC_PARAMS || type == CKA_EC_POINT ? CKR_ATTRIBUTE_READ_ONLY : NOT_OWN_TYPE;
    });
    if (refused != CKR_OK) return refused;
    return TokPublicKey::UpdateAttributes(attributes);
}

void TokUASgnPublicKey::AddDefaultAttributes(AttributeTemplate& attributes) {
    AddTrueFlagsIfMissing(attributes, {CKA_VERIFY});
}

void TokUASgnPublicKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    AddDefaultAttributes(attributes);
    SetupEntries(attributes, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_EC_PARAMS: SetECParams(ReadBytes(entry)); break;
            case CKA_EC_POINT: SetECPoint(ReadBytes(entry)); break;
            default: TokPublicKey::SetupAttribute(entry);
        }
    });
}

void TokUASgnPublicKey::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetupAttributes(token, attributes);
    if (attributes.GetAttributeIfExists(CKA_EC_PARAMS) == nullptr) {
        throw Exception(CKR_TEMPLATE_INCOMPLETE, "TokUASgnPublicKey: CKA_EC_PARAMS not set");
    }
    if (attributes.GetAttributeIfExists(CKA_EC_POINT) == nullptr) {
        throw Exception(CKR_TEMPLATE_INCOMPLETE, "TokUASgnPublicKey: CKA_EC_POINT not set");
    }
    if (!attributes.HasUsageAttributes()) AddDefaultUsageAttributes();
}

}  // namespace zrck

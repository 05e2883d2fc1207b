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

void TokUASgnPrivateKey::AddDefaultAttributes(AttributeTemplate& attributes) {
    AddTrueFlagsIfMissing(attributes, {CKA_SIGN});
}

void TokUASgnPrivateKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    AddDefaultAttributes(attributes);
    TokCurvePrivateKey::SetupAttributes(token, attributes);
    if (attributes.GetAttributeIfExists(CKA_EC_PARAMS) == nullptr) throw Exception(CKR_TEMPLATE_INCOMPLETE);
}

// ---- TokUASgnPublicKey ----

bool TokUASgnPublicKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_PUBLIC_KEY, CKA_KEY_TYPE, CKK_DSTU4145);
}

void TokUASgnPublicKey::AddDefaultAttributes(AttributeTemplate& attributes) {
    AddTrueFlagsIfMissing(attributes, {CKA_VERIFY});
}

void TokUASgnPublicKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    AddDefaultAttributes(attributes);
    TokCurvePublicKey::SetupAttributes(token, attributes);
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

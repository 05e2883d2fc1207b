#include "objects/tok_domain_params.h"

#include "ckbase/exception.h"
#include "objects/object_rules.h"

namespace zrck {

bool TokDomainParams::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_KEY_TYPE || type == CKA_LOCAL || TokStorageObject::IsMyAttributeType(type);
}

bool TokDomainParams::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokStorageObject::IsObjectMeetConditions(search)) return false;
    for (CK_ULONG i = 0; i < search.GetCount(); ++i) {
        const Attribute& entry = search[i];
        if (entry.GetType() == CKA_KEY_TYPE && !MatchULong(entry, GetKeyType())) return false;
        if (entry.GetType() == CKA_LOCAL && !MatchBool(entry, GetLocal() != CK_FALSE)) return false;
    }
    return true;
}

CK_RV TokDomainParams::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckStorageUpdate(*this, attributes, [](const Attribute&) { return NOT_OWN_TYPE; });
    if (refused != CKR_OK) return refused;
    return TokStorageObject::UpdateAttributes(attributes);
}

CK_RV TokDomainParams::FillAttribute(Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_KEY_TYPE: return PlaceULong(attribute, GetKeyType());
        case CKA_LOCAL: return PlaceBool(attribute, GetLocal() != CK_FALSE);
        default: return TokStorageObject::FillAttribute(attribute);
    }
}

void TokDomainParams::SetupAttribute(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_KEY_TYPE: break;
        case CKA_LOCAL: throw Exception(CKR_ATTRIBUTE_READ_ONLY);
        default: TokStorageObject::SetupAttribute(attribute);
    }
}

}  // namespace zrck

#include "objects/tok_hw_feature.h"

#include "ckbase/exception.h"
#include "objects/attribute_value.h"

namespace zrck {

bool TokHWFeature::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokObject::IsObjectMeetConditions(search)) return false;
    for (CK_ULONG i = 0; i < search.GetCount(); ++i) {
        const Attribute& entry = search[i];
        if (entry.GetType() == CKA_HW_FEATURE_TYPE && !MatchULong(entry, GetFeatureType())) return false;
    }
    return true;
}

bool TokHWFeature::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_HW_FEATURE_TYPE || TokObject::IsMyAttributeType(type);
}

void TokHWFeature::InitializeWithAttributes(ObjectToken*, AttributeTemplate&) { throw Exception(CKR_GENERAL_ERROR); }

TokObject* TokHWFeature::GenerateCopy() { throw Exception(CKR_OBJECT_HANDLE_INVALID); }

void TokHWFeature::SetupAttribute(const Attribute& attribute) {
    if (attribute.GetType() != CKA_HW_FEATURE_TYPE) throw Exception(CKR_ATTRIBUTE_TYPE_INVALID);
}

}  // namespace zrck

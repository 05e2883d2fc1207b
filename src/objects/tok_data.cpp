#include "objects/tok_data.h"

#include "objects/object_rules.h"

namespace zrck {

namespace {
bool IsDataType(CK_ATTRIBUTE_TYPE type) {
    return type == CKA_APPLICATION || type == CKA_VALUE || type == CKA_OBJECT_ID;
}
}  // namespace

bool TokData::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_DATA);
}

bool TokData::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return IsDataType(type) || TokStorageObject::IsMyAttributeType(type);
}

bool TokData::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokStorageObject::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return TokStorageObject::IsMyAttributeType(type); },
        [this](const Attribute& entry) {
            switch (entry.GetType()) {
                case CKA_APPLICATION: return MatchBytes(entry, GetApplication());
                case CKA_VALUE: return MatchBytes(entry, GetValue());
                case CKA_OBJECT_ID: return MatchBytes(entry, GetObjectID());
                default: return false;
            }
        });
}

CK_RV TokData::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_APPLICATION: return PlaceBytes(entry, GetApplication());
            case CKA_VALUE: return PlaceBytes(entry, GetValue());
            case CKA_OBJECT_ID: return PlaceBytes(entry, GetObjectID());
            default: return TokStorageObject::FillAttribute(entry);
        }
    });
}

bool TokData::ApplyOwn(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_APPLICATION: SetApplication(ReadBytes(attribute)); return true;
        case CKA_VALUE: SetValue(ReadBytes(attribute)); return true;
        case CKA_OBJECT_ID: SetObjectID(ReadBytes(attribute)); return true;
        default: return false;
    }
}

CK_RV TokData::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckStorageUpdate(*this, attributes, [](const Attribute& entry) {
        if (!IsDataType(entry.GetType())) return NOT_OWN_TYPE;
        ReadBytes(entry);
        return CKR_OK;
    });
    if (refused != CKR_OK) return refused;
    UpdateOwnEntries(attributes, [this](const Attribute& entry) {
        return ApplyOwn(entry) ? OwnChange::Applied : OwnChange::NotMine;
    });
    return TokStorageObject::UpdateAttributes(attributes);
}

void TokData::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    SetupEntries(attributes, [this](const Attribute& entry) {
        if (!ApplyOwn(entry)) TokStorageObject::SetupAttribute(entry);
    });
}

void TokData::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetupAttributes(token, attributes);
}

}  // namespace zrck

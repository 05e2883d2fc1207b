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

namespace {

const BytesAttribute<TokData> kDataAttributes[] = {
    {CKA_APPLICATION, &TokData::GetApplication, &TokData::SetApplication},
    {CKA_VALUE, &TokData::GetValue, &TokData::SetValue},
    {CKA_OBJECT_ID, &TokData::GetObjectID, &TokData::SetObjectID},
};

}  // namespace

bool TokData::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokStorageObject::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return TokStorageObject::IsMyAttributeType(type); },
        [this](const Attribute& entry) { return MatchBytesAttribute(*this, kDataAttributes, entry); });
}

CK_RV TokData::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        return FillBytesAttribute(*this, kDataAttributes, entry,
                                  [this](Attribute& other) { return TokStorageObject::FillAttribute(other); });
    });
}

bool TokData::ApplyOwn(const Attribute& attribute) { return ApplyBytesAttribute(*this, kDataAttributes, attribute); }

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

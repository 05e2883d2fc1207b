#include "objects/tok_ua_gost_objects.h"

#include "ckbase/exception.h"
#include "objects/object_rules.h"

namespace zrck {

// ---- TokUAGostSecretKey ----

bool TokUAGostSecretKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_SECRET_KEY, CKA_KEY_TYPE, CKK_GOST28147_NAT);
}

bool TokUAGostSecretKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_VALUE || type == CKA_VALUE_LEN || type == CKA_GOST_SBOXES ||
           TokSecretKey::IsMyAttributeType(type);
}

bool TokUAGostSecretKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokSecretKey::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return TokSecretKey::IsMyAttributeType(type); },
        [this](const Attribute& entry) {
            switch (entry.GetType()) {
                case CKA_VALUE_LEN: return MatchULong(entry, VALUE_LENGTH);
                case CKA_GOST_SBOXES: return MatchBytes(entry, GetSBox());
                default: return false;
            }
        });
}

CK_RV TokUAGostSecretKey::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_VALUE_LEN: return PlaceULong(entry, VALUE_LENGTH);
            case CKA_GOST_SBOXES: return PlaceBytes(entry, GetSBox());
            case CKA_VALUE:
                return PlaceGuardedBytes(entry, IsValueRevealable(*this),
                                         [this]() -> const tru::Buffer& { return GetValue(); });
            default: return TokSecretKey::FillAttribute(entry);
        }
    });
}

CK_RV TokUAGostSecretKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckKeyUpdate(*this, attributes, [](const Attribute& entry) {
        const CK_ATTRIBUTE_TYPE type = entry.GetType();
        return type == CKA_VALUE || type == CKA_VALUE_LEN || type == CKA_GOST_SBOXES ? CKR_ATTRIBUTE_READ_ONLY
                                                                                     : NOT_OWN_TYPE;
    });
    if (refused != CKR_OK) return refused;
    return TokSecretKey::UpdateAttributes(attributes);
}

void TokUAGostSecretKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    SetupEntries(attributes, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_VALUE_LEN: throw Exception(CKR_ATTRIBUTE_READ_ONLY);
            case CKA_GOST_SBOXES: SetSBox(ReadBytes(entry)); break;
            case CKA_VALUE: {
                // The cipher routines read exactly 32 key bytes.
                const tru::Buffer value = ReadBytes(entry);
                if (value.Size() != VALUE_LENGTH) throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
                SetValue(value);
                break;
            }
            default: TokSecretKey::SetupAttribute(entry);
        }
    });
}

void TokUAGostSecretKey::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetupAttributes(token, attributes);
    if (!attributes.HasUsageAttributes()) AddDefaultUsageAttributes();
}

// ---- TokUAGostDomainParams ----

bool TokUAGostDomainParams::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_DOMAIN_PARAMETERS, CKA_KEY_TYPE, CKK_GOST28147_NAT);
}

bool TokUAGostDomainParams::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_ID || type == CKA_GOST_SBOXES || TokDomainParams::IsMyAttributeType(type);
}

namespace {

const BytesAttribute<TokUAGostDomainParams> kSBoxParamsAttributes[] = {
    {CKA_ID, &TokUAGostDomainParams::GetID, &TokUAGostDomainParams::SetID},
    {CKA_GOST_SBOXES, &TokUAGostDomainParams::GetSBox, &TokUAGostDomainParams::SetSBox},
};

}  // namespace

bool TokUAGostDomainParams::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokDomainParams::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return TokDomainParams::IsMyAttributeType(type); },
        [this](const Attribute& entry) { return MatchBytesAttribute(*this, kSBoxParamsAttributes, entry); });
}

CK_RV TokUAGostDomainParams::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        return FillBytesAttribute(*this, kSBoxParamsAttributes, entry,
                                  [this](Attribute& other) { return TokDomainParams::FillAttribute(other); });
    });
}

bool TokUAGostDomainParams::ApplyOwn(const Attribute& attribute) {
    return ApplyBytesAttribute(*this, kSBoxParamsAttributes, attribute);
}

CK_RV TokUAGostDomainParams::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckStorageUpdate(*this, attributes, [](const Attribute& entry) {
        if (entry.GetType() != CKA_ID && entry.GetType() != CKA_GOST_SBOXES) return NOT_OWN_TYPE;
        ReadBytes(entry);
        return CKR_OK;
    });
    if (refused != CKR_OK) return refused;
    UpdateOwnEntries(attributes, [this](const Attribute& entry) {
        return ApplyOwn(entry) ? OwnChange::Applied : OwnChange::NotMine;
    });
    return TokStorageObject::UpdateAttributes(attributes);
}

void TokUAGostDomainParams::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    SetupEntries(attributes, [this](const Attribute& entry) {
        if (!ApplyOwn(entry)) TokDomainParams::SetupAttribute(entry);
    });
}

void TokUAGostDomainParams::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetupAttributes(token, attributes);
}

}  // namespace zrck

#include "objects/tok_key.h"

#include "ckbase/exception.h"
#include "objects/attribute_value.h"

namespace zrck {

namespace {

enum class Change { Apply, ReadOnly, ValueInvalid, TypeInvalidUnmarked, ReadOnlyUnmarked, NotMine };

// One level of the update walk: decide() applies an entry it owns and tells the outcome.
template <class Decide>
CK_RV UpdateLevel(AttributeTemplate& attributes, Decide decide) {
    CK_RV first = CKR_OK;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        Attribute& entry = attributes[i];
        if (entry.mProcessed > 0) continue;
        CK_RV rv = CKR_OK;
        switch (decide(entry)) {
            case Change::NotMine: continue;
            case Change::Apply: entry.mProcessed = 1; break;
            case Change::ReadOnly: entry.mProcessed = 1; rv = CKR_ATTRIBUTE_READ_ONLY; break;
            case Change::ValueInvalid: entry.mProcessed = 1; rv = CKR_ATTRIBUTE_VALUE_INVALID; break;
            case Change::TypeInvalidUnmarked: rv = CKR_ATTRIBUTE_TYPE_INVALID; break;
            case Change::ReadOnlyUnmarked: rv = CKR_ATTRIBUTE_READ_ONLY; break;
        }
        if (first == CKR_OK) first = rv;
    }
    return first;
}

CK_RV Combine(CK_RV own, CK_RV base) { return own != CKR_OK ? own : base; }

CK_BBOOL AsBBool(const Attribute& attribute) { return attribute.GetAsBool() ? CK_TRUE : CK_FALSE; }

// Walks a search template over the types one level owns; other types are left to others.
template <class Compare>
bool MatchLevel(const AttributeTemplate& search, Compare compare) {
    for (CK_ULONG i = 0; i < search.GetCount(); ++i) {
        if (!compare(search[i])) return false;
    }
    return true;
}

}  // namespace

// ---- TokKey ----

bool TokKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    switch (type) {
        case CKA_KEY_TYPE: case CKA_ID: case CKA_DERIVE: case CKA_START_DATE: case CKA_END_DATE:
        case CKA_LOCAL: case CKA_KEY_GEN_MECHANISM: case CKA_ALLOWED_MECHANISMS:
            return true;
        default:
            return TokStorageObject::IsMyAttributeType(type);
    }
}

bool TokKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokStorageObject::IsObjectMeetConditions(search)) return false;
    return MatchLevel(search, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_KEY_TYPE: return MatchULong(entry, GetKeyType());
            case CKA_ID: return MatchBytes(entry, GetKeyID());
            case CKA_START_DATE: return MatchDate(entry, GetStartDate());
            case CKA_END_DATE: return MatchDate(entry, GetEndDate());
            case CKA_DERIVE: return MatchBool(entry, GetCouldDerive() != CK_FALSE);
            case CKA_LOCAL: return MatchBool(entry, GetLocal() != CK_FALSE);
            case CKA_KEY_GEN_MECHANISM: return GetLocal() != CK_FALSE && MatchULong(entry, GetKeyGenMechanism());
            default: return true;
        }
    });
}

CK_RV TokKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV own = UpdateLevel(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_ID: SetKeyID(ReadBytes(entry)); return Change::Apply;
            case CKA_START_DATE: SetStartDate(ReadDate(entry)); return Change::Apply;
            case CKA_END_DATE: SetEndDate(ReadDate(entry)); return Change::Apply;
            case CKA_KEY_TYPE: case CKA_DERIVE: case CKA_LOCAL: case CKA_KEY_GEN_MECHANISM:
            case CKA_ALLOWED_MECHANISMS:
                return Change::ReadOnly;
            default: return Change::NotMine;
        }
    });
    return Combine(own, TokStorageObject::UpdateAttributes(attributes));
}

CK_RV TokKey::FillAttribute(Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_KEY_TYPE: return PlaceULong(attribute, GetKeyType());
        case CKA_ID: return PlaceBytes(attribute, GetKeyID());
        case CKA_START_DATE: return PlaceDate(attribute, GetStartDate());
        case CKA_END_DATE: return PlaceDate(attribute, GetEndDate());
        case CKA_DERIVE: return PlaceBool(attribute, GetCouldDerive() != CK_FALSE);
        case CKA_LOCAL: return PlaceBool(attribute, GetLocal() != CK_FALSE);
        case CKA_KEY_GEN_MECHANISM:
            return PlaceULong(attribute, GetLocal() != CK_FALSE ? GetKeyGenMechanism() : CK_UNAVAILABLE_INFORMATION);
        case CKA_ALLOWED_MECHANISMS: return PlaceBytes(attribute, GetAllowedMechanisms());
        case CKA_ZR_KEY_GENERATION_DATE: {
            const CK_ZR_DATETIME* date = GetGenerationDate();
            if (date == nullptr && attribute.GetRecord()->pValue != nullptr &&
                attribute.GetLength() >= sizeof(CK_ZR_DATETIME)) {
                return CKR_ATTRIBUTE_VALUE_INVALID;
            }
            return PlaceValue(attribute, date, sizeof(CK_ZR_DATETIME));
        }
        default: return TokStorageObject::FillAttribute(attribute);
    }
}

void TokKey::SetupAttribute(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_KEY_TYPE: break;
        case CKA_ID: SetKeyID(ReadBytes(attribute)); break;
        case CKA_START_DATE: SetStartDate(ReadDate(attribute)); break;
        case CKA_END_DATE: SetEndDate(ReadDate(attribute)); break;
        case CKA_DERIVE: SetCouldDerive(AsBBool(attribute)); break;
        case CKA_LOCAL:
            if (attribute.mProcessed <= 0) throw Exception(CKR_ATTRIBUTE_READ_ONLY);
            break;
        case CKA_KEY_GEN_MECHANISM:
        case CKA_ALLOWED_MECHANISMS:
            throw Exception(CKR_ATTRIBUTE_READ_ONLY);
        default: TokStorageObject::SetupAttribute(attribute);
    }
}

void TokKey::GetKeyMark(tru::BufferDynamic&) { throw Exception(CKR_KEY_FUNCTION_NOT_PERMITTED); }

// ---- TokPrivateKey ----

bool TokPrivateKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    switch (type) {
        case CKA_SUBJECT: case CKA_SENSITIVE: case CKA_DECRYPT: case CKA_UNWRAP: case CKA_SIGN:
        case CKA_SIGN_RECOVER: case CKA_EXTRACTABLE: case CKA_NEVER_EXTRACTABLE: case CKA_ALWAYS_SENSITIVE:
        case CKA_ALWAYS_AUTHENTICATE: case CKA_WRAP_WITH_TRUSTED: case CKA_UNWRAP_TEMPLATE:
            return true;
        default:
            return TokKey::IsMyAttributeType(type);
    }
}

bool TokPrivateKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokKey::IsObjectMeetConditions(search)) return false;
    return MatchLevel(search, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_SUBJECT: return MatchBytes(entry, GetSubject());
            case CKA_DECRYPT: return MatchBool(entry, GetCouldDecrypt() != CK_FALSE);
            case CKA_SIGN: return MatchBool(entry, GetCouldSign() != CK_FALSE);
            case CKA_SIGN_RECOVER: return MatchBool(entry, GetCouldSignRecover() != CK_FALSE);
            case CKA_UNWRAP: return MatchBool(entry, GetCouldUnwrap() != CK_FALSE);
            case CKA_SENSITIVE: return MatchBool(entry, GetIsSensitive() != CK_FALSE);
            case CKA_EXTRACTABLE: return MatchBool(entry, GetIsExtractable() != CK_FALSE);
            case CKA_WRAP_WITH_TRUSTED: return MatchBool(entry, GetCouldUnwrapOnlyWithTrusted() != CK_FALSE);
            case CKA_ALWAYS_SENSITIVE: return MatchBool(entry, GetIsAlwaysSensitive() != CK_FALSE);
            case CKA_NEVER_EXTRACTABLE: return MatchBool(entry, GetIsNeverExtractable() != CK_FALSE);
            default: return true;
        }
    });
}

CK_RV TokPrivateKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV own = UpdateLevel(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_SUBJECT: SetSubject(ReadBytes(entry)); return Change::Apply;
            case CKA_DECRYPT: SetCouldDecrypt(AsBBool(entry)); return Change::Apply;
            case CKA_SIGN: SetCouldSign(AsBBool(entry)); return Change::Apply;
            case CKA_SIGN_RECOVER: SetCouldSignRecover(AsBBool(entry)); return Change::Apply;
            case CKA_UNWRAP: SetCouldUnwrap(AsBBool(entry)); return Change::Apply;
            case CKA_SENSITIVE:
                if (!entry.GetAsBool()) return Change::ValueInvalid;
                SetIsSensitive(CK_TRUE);
                return Change::Apply;
            case CKA_EXTRACTABLE:
                if (entry.GetAsBool()) return Change::ValueInvalid;
                SetIsExtractable(CK_FALSE);
                return Change::Apply;
            case CKA_WRAP_WITH_TRUSTED:
                if (!entry.GetAsBool()) return Change::ValueInvalid;
                SetCouldUnwrapOnlyWithTrusted(CK_TRUE);
                return Change::Apply;
            case CKA_ALWAYS_SENSITIVE: case CKA_NEVER_EXTRACTABLE: case CKA_ALWAYS_AUTHENTICATE:
            case CKA_UNWRAP_TEMPLATE:
                return Change::ReadOnly;
            default: return Change::NotMine;
        }
    });
    return Combine(own, TokKey::UpdateAttributes(attributes));
}

CK_RV TokPrivateKey::FillAttribute(Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_SUBJECT: return PlaceBytes(attribute, GetSubject());
        case CKA_DECRYPT: return PlaceBool(attribute, GetCouldDecrypt() != CK_FALSE);
        case CKA_SIGN: return PlaceBool(attribute, GetCouldSign() != CK_FALSE);
        case CKA_SIGN_RECOVER: return PlaceBool(attribute, GetCouldSignRecover() != CK_FALSE);
        case CKA_UNWRAP: return PlaceBool(attribute, GetCouldUnwrap() != CK_FALSE);
        case CKA_SENSITIVE: return PlaceBool(attribute, GetIsSensitive() != CK_FALSE);
        case CKA_EXTRACTABLE: return PlaceBool(attribute, GetIsExtractable() != CK_FALSE);
        case CKA_WRAP_WITH_TRUSTED: return PlaceBool(attribute, GetCouldUnwrapOnlyWithTrusted() != CK_FALSE);
        case CKA_ALWAYS_SENSITIVE: return PlaceBool(attribute, GetIsAlwaysSensitive() != CK_FALSE);
        case CKA_NEVER_EXTRACTABLE: return PlaceBool(attribute, GetIsNeverExtractable() != CK_FALSE);
        case CKA_ALWAYS_AUTHENTICATE:
            return PlaceBool(attribute, IsPrivateObject() && GetNeedAlwaysAuthenticate() != CK_FALSE);
        case CKA_UNWRAP_TEMPLATE: return CKR_ATTRIBUTE_TYPE_INVALID;
        default: return TokKey::FillAttribute(attribute);
    }
}

void TokPrivateKey::SetupAttribute(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_SUBJECT: SetSubject(ReadBytes(attribute)); break;
        case CKA_DECRYPT: SetCouldDecrypt(AsBBool(attribute)); break;
        case CKA_SIGN: SetCouldSign(AsBBool(attribute)); break;
        case CKA_SIGN_RECOVER: SetCouldSignRecover(AsBBool(attribute)); break;
        case CKA_UNWRAP: SetCouldUnwrap(AsBBool(attribute)); break;
        case CKA_SENSITIVE: SetIsSensitive(AsBBool(attribute)); break;
        case CKA_EXTRACTABLE: SetIsExtractable(AsBBool(attribute)); break;
        case CKA_WRAP_WITH_TRUSTED: SetCouldUnwrapOnlyWithTrusted(AsBBool(attribute)); break;
        case CKA_ALWAYS_SENSITIVE: SetIsAlwaysSensitive(AsBBool(attribute)); break;
        case CKA_NEVER_EXTRACTABLE: SetIsNeverExtractable(AsBBool(attribute)); break;
        case CKA_ALWAYS_AUTHENTICATE: SetNeedAlwaysAuthenticate(AsBBool(attribute)); break;
        case CKA_UNWRAP_TEMPLATE: throw Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        default: TokKey::SetupAttribute(attribute);
    }
}

// ---- TokPublicKey ----

bool TokPublicKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    switch (type) {
        case CKA_SUBJECT: case CKA_ENCRYPT: case CKA_WRAP: case CKA_VERIFY: case CKA_VERIFY_RECOVER:
        case CKA_WRAP_TEMPLATE:
            return true;
        default:
            return TokKey::IsMyAttributeType(type);
    }
}

bool TokPublicKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokKey::IsObjectMeetConditions(search)) return false;
    return MatchLevel(search, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_SUBJECT: return MatchBytes(entry, GetSubject());
            case CKA_ENCRYPT: return MatchBool(entry, GetCouldEncrypt() != CK_FALSE);
            case CKA_VERIFY: return MatchBool(entry, GetCouldVerify() != CK_FALSE);
            case CKA_VERIFY_RECOVER: return MatchBool(entry, GetCouldVerifyRecover() != CK_FALSE);
            case CKA_WRAP: return MatchBool(entry, GetCouldWrap() != CK_FALSE);
            case CKA_TRUSTED: return MatchBool(entry, GetIsTrusted() != CK_FALSE);
            default: return true;
        }
    });
}

CK_RV TokPublicKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV own = UpdateLevel(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_SUBJECT: SetSubject(ReadBytes(entry)); return Change::Apply;
            case CKA_ENCRYPT: SetCouldEncrypt(AsBBool(entry)); return Change::Apply;
            case CKA_VERIFY: SetCouldVerify(AsBBool(entry)); return Change::Apply;
            case CKA_VERIFY_RECOVER: SetCouldVerifyRecover(AsBBool(entry)); return Change::Apply;
            case CKA_WRAP: SetCouldWrap(AsBBool(entry)); return Change::Apply;
            case CKA_TRUSTED: return Change::ReadOnly;
            case CKA_WRAP_TEMPLATE: return Change::TypeInvalidUnmarked;
            default: return Change::NotMine;
        }
    });
    return Combine(own, TokKey::UpdateAttributes(attributes));
}

CK_RV TokPublicKey::FillAttribute(Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_SUBJECT: return PlaceBytes(attribute, GetSubject());
        case CKA_ENCRYPT: return PlaceBool(attribute, GetCouldEncrypt() != CK_FALSE);
        case CKA_VERIFY: return PlaceBool(attribute, GetCouldVerify() != CK_FALSE);
        case CKA_VERIFY_RECOVER: return PlaceBool(attribute, GetCouldVerifyRecover() != CK_FALSE);
        case CKA_WRAP: return PlaceBool(attribute, GetCouldWrap() != CK_FALSE);
        case CKA_TRUSTED: return PlaceBool(attribute, GetIsTrusted() != CK_FALSE);
        case CKA_WRAP_TEMPLATE: return CKR_ATTRIBUTE_TYPE_INVALID;
        default: return TokKey::FillAttribute(attribute);
    }
}

void TokPublicKey::SetupAttribute(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_SUBJECT: SetSubject(ReadBytes(attribute)); break;
        case CKA_ENCRYPT: SetCouldEncrypt(AsBBool(attribute)); break;
        case CKA_VERIFY: SetCouldVerify(AsBBool(attribute)); break;
        case CKA_VERIFY_RECOVER: SetCouldVerifyRecover(AsBBool(attribute)); break;
        case CKA_WRAP: SetCouldWrap(AsBBool(attribute)); break;
        case CKA_TRUSTED: SetIsTrusted(AsBBool(attribute)); break;
        case CKA_WRAP_TEMPLATE: throw Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        default: TokKey::SetupAttribute(attribute);
    }
}

// ---- TokSecretKey ----

bool TokSecretKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    switch (type) {
        case CKA_SENSITIVE: case CKA_ENCRYPT: case CKA_DECRYPT: case CKA_WRAP: case CKA_UNWRAP: case CKA_SIGN:
        case CKA_VERIFY: case CKA_EXTRACTABLE: case CKA_NEVER_EXTRACTABLE: case CKA_ALWAYS_SENSITIVE:
        case CKA_WRAP_WITH_TRUSTED: case CKA_CHECK_VALUE: case CKA_TRUSTED: case CKA_WRAP_TEMPLATE:
        case CKA_UNWRAP_TEMPLATE:
            return true;
        default:
            return TokKey::IsMyAttributeType(type);
    }
}

bool TokSecretKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokKey::IsObjectMeetConditions(search)) return false;
    return MatchLevel(search, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_ENCRYPT: return MatchBool(entry, GetCouldEncrypt() != CK_FALSE);
            case CKA_DECRYPT: return MatchBool(entry, GetCouldDecrypt() != CK_FALSE);
            case CKA_SIGN: return MatchBool(entry, GetCouldSign() != CK_FALSE);
            case CKA_VERIFY: return MatchBool(entry, GetCouldVerify() != CK_FALSE);
            case CKA_WRAP: return MatchBool(entry, GetCouldWrap() != CK_FALSE);
            case CKA_UNWRAP: return MatchBool(entry, GetCouldUnwrap() != CK_FALSE);
            case CKA_SENSITIVE: return MatchBool(entry, GetIsSensitive() != CK_FALSE);
            case CKA_EXTRACTABLE: return MatchBool(entry, GetIsExtractable() != CK_FALSE);
            case CKA_WRAP_WITH_TRUSTED: return MatchBool(entry, GetCouldWrapOnlyWithTrusted() != CK_FALSE);
            case CKA_ALWAYS_SENSITIVE: return MatchBool(entry, GetIsAlwaysSensitive() != CK_FALSE);
            case CKA_NEVER_EXTRACTABLE: return MatchBool(entry, GetIsNeverExtractable() != CK_FALSE);
            case CKA_TRUSTED: return MatchBool(entry, GetIsTrusted() != CK_FALSE);
            case CKA_CHECK_VALUE: return MatchBytes(entry, GetCheckValue());
            case CKA_WRAP_TEMPLATE: case CKA_UNWRAP_TEMPLATE: return false;
            default: return true;
        }
    });
}

CK_RV TokSecretKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV own = UpdateLevel(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_ENCRYPT: SetCouldEncrypt(AsBBool(entry)); return Change::Apply;
            case CKA_DECRYPT: SetCouldDecrypt(AsBBool(entry)); return Change::Apply;
            case CKA_SIGN: SetCouldSign(AsBBool(entry)); return Change::Apply;
            case CKA_VERIFY: SetCouldVerify(AsBBool(entry)); return Change::Apply;
            case CKA_WRAP: SetCouldWrap(AsBBool(entry)); return Change::Apply;
            case CKA_UNWRAP: SetCouldUnwrap(AsBBool(entry)); return Change::Apply;
            case CKA_CHECK_VALUE: SetCheckValue(ReadBytes(entry)); return Change::Apply;
            case CKA_SENSITIVE:
                if (!entry.GetAsBool()) return Change::ValueInvalid;
                SetIsSensitive(CK_TRUE);
                return Change::Apply;
            case CKA_EXTRACTABLE:
                if (entry.GetAsBool()) return Change::ValueInvalid;
                SetIsExtractable(CK_FALSE);
                return Change::Apply;
            case CKA_WRAP_WITH_TRUSTED:
                if (!entry.GetAsBool()) return Change::ValueInvalid;
                SetCouldWrapOnlyWithTrusted(CK_TRUE);
                return Change::Apply;
            case CKA_ALWAYS_SENSITIVE: case CKA_NEVER_EXTRACTABLE: case CKA_TRUSTED: case CKA_UNWRAP_TEMPLATE:
                return Change::ReadOnly;
            default: return Change::NotMine;
        }
    });
    return Combine(own, TokKey::UpdateAttributes(attributes));
}

CK_RV TokSecretKey::FillAttribute(Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_ENCRYPT: return PlaceBool(attribute, GetCouldEncrypt() != CK_FALSE);
        case CKA_DECRYPT: return PlaceBool(attribute, GetCouldDecrypt() != CK_FALSE);
        case CKA_SIGN: return PlaceBool(attribute, GetCouldSign() != CK_FALSE);
        case CKA_VERIFY: return PlaceBool(attribute, GetCouldVerify() != CK_FALSE);
        case CKA_WRAP: return PlaceBool(attribute, GetCouldWrap() != CK_FALSE);
        case CKA_UNWRAP: return PlaceBool(attribute, GetCouldUnwrap() != CK_FALSE);
        case CKA_SENSITIVE: return PlaceBool(attribute, GetIsSensitive() != CK_FALSE);
        case CKA_EXTRACTABLE: return PlaceBool(attribute, GetIsExtractable() != CK_FALSE);
        case CKA_WRAP_WITH_TRUSTED: return PlaceBool(attribute, GetCouldWrapOnlyWithTrusted() != CK_FALSE);
        case CKA_ALWAYS_SENSITIVE: return PlaceBool(attribute, GetIsAlwaysSensitive() != CK_FALSE);
        case CKA_NEVER_EXTRACTABLE: return PlaceBool(attribute, GetIsNeverExtractable() != CK_FALSE);
        case CKA_TRUSTED: return PlaceBool(attribute, GetIsTrusted() != CK_FALSE);
        case CKA_CHECK_VALUE: return PlaceBytes(attribute, GetCheckValue());
        case CKA_WRAP_TEMPLATE: case CKA_UNWRAP_TEMPLATE: return CKR_ATTRIBUTE_TYPE_INVALID;
        default: return TokKey::FillAttribute(attribute);
    }
}

void TokSecretKey::SetupAttribute(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_ENCRYPT: SetCouldEncrypt(AsBBool(attribute)); break;
        case CKA_DECRYPT: SetCouldDecrypt(AsBBool(attribute)); break;
        case CKA_SIGN: SetCouldSign(AsBBool(attribute)); break;
        case CKA_VERIFY: SetCouldVerify(AsBBool(attribute)); break;
        case CKA_WRAP: SetCouldWrap(AsBBool(attribute)); break;
        case CKA_UNWRAP: SetCouldUnwrap(AsBBool(attribute)); break;
        case CKA_SENSITIVE: SetIsSensitive(AsBBool(attribute)); break;
        case CKA_EXTRACTABLE: SetIsExtractable(AsBBool(attribute)); break;
        case CKA_WRAP_WITH_TRUSTED: SetCouldWrapOnlyWithTrusted(AsBBool(attribute)); break;
        case CKA_ALWAYS_SENSITIVE: SetIsAlwaysSensitive(AsBBool(attribute)); break;
        case CKA_NEVER_EXTRACTABLE: SetIsNeverExtractable(AsBBool(attribute)); break;
        case CKA_TRUSTED: SetIsTrusted(AsBBool(attribute)); break;
        case CKA_CHECK_VALUE: SetCheckValue(ReadBytes(attribute)); break;
        case CKA_WRAP_TEMPLATE: case CKA_UNWRAP_TEMPLATE: throw Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        default: TokKey::SetupAttribute(attribute);
    }
}

// ---- TokGenericSecretKey ----

bool TokGenericSecretKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return attributes.IsClassAttributeSet(CKO_SECRET_KEY, CKK_GENERIC_SECRET);
}

tru::Buffer TokGenericSecretKey::GetValueToWrap() {
    const tru::Buffer& value = GetValue();
    return MakeView(BufferBytes(value), BufferSize(value));
}

bool TokGenericSecretKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_VALUE || type == CKA_VALUE_LEN || TokSecretKey::IsMyAttributeType(type);
}

bool TokGenericSecretKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokSecretKey::IsObjectMeetConditions(search)) return false;
    return MatchLevel(search, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_VALUE: return false;
            case CKA_VALUE_LEN: return MatchULong(entry, GetValueLen());
            default: return true;
        }
    });
}

CK_RV TokGenericSecretKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV own = UpdateLevel(attributes, [](Attribute& entry) {
        if (entry.GetType() == CKA_VALUE || entry.GetType() == CKA_VALUE_LEN) return Change::ReadOnlyUnmarked;
        return Change::NotMine;
    });
    return Combine(own, TokSecretKey::UpdateAttributes(attributes));
}

CK_RV TokGenericSecretKey::FillAttribute(Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_VALUE:
            if (GetIsSensitive() || GetIsAlwaysSensitive() || !GetIsExtractable() || GetIsNeverExtractable()) {
                return PlaceUnavailable(attribute, CKR_ATTRIBUTE_SENSITIVE);
            }
            return PlaceBytes(attribute, GetValue());
        case CKA_VALUE_LEN: return PlaceULong(attribute, GetValueLen());
        default: return TokSecretKey::FillAttribute(attribute);
    }
}

void TokGenericSecretKey::SetupAttribute(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_VALUE: SetValue(ReadBytes(attribute)); break;
        case CKA_VALUE_LEN: SetValueLen(attribute.GetAsULong()); break;
        default: TokSecretKey::SetupAttribute(attribute);
    }
}

void TokGenericSecretKey::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    InitializeKeyWithAttributes(*this, token, attributes);
}

}  // namespace zrck

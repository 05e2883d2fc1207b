#include "objects/tok_key.h"

#include "ckbase/exception.h"
#include "objects/attribute_value.h"

#include <initializer_list>
#include <vector>

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

// How an update treats a flag: any value, only true (a one-way flag), only false, or not at all.
enum class OnUpdate { Any, OnlyTrue, OnlyFalse, ReadOnly };

// A CK_BBOOL attribute of one key level and its accessors.
template <class Key>
struct KeyFlag {
    CK_ATTRIBUTE_TYPE type;
    CK_BBOOL (Key::*get)() const;
    void (Key::*set)(CK_BBOOL);
    OnUpdate update;
};

template <class Key>
using KeyFlags = std::vector<KeyFlag<Key>>;

// The level's own flags, then the flags every key that may be sensitive has (private and secret).
template <class Key>
KeyFlags<Key> WithSensitivityFlags(std::initializer_list<KeyFlag<Key>> own) {
    KeyFlags<Key> flags(own);
    flags.insert(flags.end(), {
        {CKA_DECRYPT, &Key::GetCouldDecrypt, &Key::SetCouldDecrypt, OnUpdate::Any},
        {CKA_SIGN, &Key::GetCouldSign, &Key::SetCouldSign, OnUpdate::Any},
        {CKA_UNWRAP, &Key::GetCouldUnwrap, &Key::SetCouldUnwrap, OnUpdate::Any},
        {CKA_SENSITIVE, &Key::GetIsSensitive, &Key::SetIsSensitive, OnUpdate::OnlyTrue},
        {CKA_EXTRACTABLE, &Key::GetIsExtractable, &Key::SetIsExtractable, OnUpdate::OnlyFalse},
        {CKA_ALWAYS_SENSITIVE, &Key::GetIsAlwaysSensitive, &Key::SetIsAlwaysSensitive, OnUpdate::ReadOnly},
        {CKA_NEVER_EXTRACTABLE, &Key::GetIsNeverExtractable, &Key::SetIsNeverExtractable, OnUpdate::ReadOnly},
    });
    return flags;
}

template <class Key>
const KeyFlag<Key>* FindFlag(const KeyFlags<Key>& flags, CK_ATTRIBUTE_TYPE type) {
    for (const KeyFlag<Key>& flag : flags) {
        if (flag.type == type) return &flag;
    }
    return nullptr;
}

// A search entry for a type that is no flag of the level matches.
template <class Key>
bool MatchFlag(const Key& key, const KeyFlags<Key>& flags, const Attribute& entry) {
    const KeyFlag<Key>* flag = FindFlag(flags, entry.GetType());
    return flag == nullptr || MatchBool(entry, (key.*flag->get)() != CK_FALSE);
}

template <class Key>
Change UpdateFlag(Key& key, const KeyFlags<Key>& flags, const Attribute& entry) {
    const KeyFlag<Key>* flag = FindFlag(flags, entry.GetType());
    if (flag == nullptr) return Change::NotMine;
    switch (flag->update) {
        case OnUpdate::Any: (key.*flag->set)(AsBBool(entry)); return Change::Apply;
        case OnUpdate::OnlyTrue:
            if (!entry.GetAsBool()) return Change::ValueInvalid;
            (key.*flag->set)(CK_TRUE);
            return Change::Apply;
        case OnUpdate::OnlyFalse:
            if (entry.GetAsBool()) return Change::ValueInvalid;
            (key.*flag->set)(CK_FALSE);
            return Change::Apply;
        case OnUpdate::ReadOnly: break;
    }
    return Change::ReadOnly;
}

// Answers a flag of the level; other types go to the level below.
template <class Key, class Below>
CK_RV FillFlag(const Key& key, const KeyFlags<Key>& flags, Attribute& attribute, Below below) {
    const KeyFlag<Key>* flag = FindFlag(flags, attribute.GetType());
    return flag != nullptr ? PlaceBool(attribute, (key.*flag->get)() != CK_FALSE) : below(attribute);
}

template <class Key, class Below>
void SetupFlag(Key& key, const KeyFlags<Key>& flags, const Attribute& attribute, Below below) {
    const KeyFlag<Key>* flag = FindFlag(flags, attribute.GetType());
    if (flag != nullptr) {
        (key.*flag->set)(AsBBool(attribute));
    } else {
        below(attribute);
    }
}

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

namespace {

const KeyFlags<TokPrivateKey>& PrivateFlags() {
    static const KeyFlags<TokPrivateKey> flags = WithSensitivityFlags<TokPrivateKey>({
        {CKA_SIGN_RECOVER, &TokPrivateKey::GetCouldSignRecover, &TokPrivateKey::SetCouldSignRecover, OnUpdate::Any},
        {CKA_WRAP_WITH_TRUSTED, &TokPrivateKey::GetCouldUnwrapOnlyWithTrusted,
         &TokPrivateKey::SetCouldUnwrapOnlyWithTrusted, OnUpdate::OnlyTrue},
        {CKA_ALWAYS_AUTHENTICATE, &TokPrivateKey::GetNeedAlwaysAuthenticate,
         &TokPrivateKey::SetNeedAlwaysAuthenticate, OnUpdate::ReadOnly},
    });
    return flags;
}

}  // namespace

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
            case CKA_ALWAYS_AUTHENTICATE: return true;  // not a search criterion
            default: return MatchFlag(*this, PrivateFlags(), entry);
        }
    });
}

CK_RV TokPrivateKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV own = UpdateLevel(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_SUBJECT: SetSubject(ReadBytes(entry)); return Change::Apply;
            case CKA_UNWRAP_TEMPLATE: return Change::ReadOnly;
            default: return UpdateFlag(*this, PrivateFlags(), entry);
        }
    });
    return Combine(own, TokKey::UpdateAttributes(attributes));
}

CK_RV TokPrivateKey::FillAttribute(Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_SUBJECT: return PlaceBytes(attribute, GetSubject());
        case CKA_ALWAYS_AUTHENTICATE:
            return PlaceBool(attribute, IsPrivateObject() && GetNeedAlwaysAuthenticate() != CK_FALSE);
        case CKA_UNWRAP_TEMPLATE: return CKR_ATTRIBUTE_TYPE_INVALID;
        default:
            return FillFlag(*this, PrivateFlags(), attribute, [this](Attribute& a) { return TokKey::FillAttribute(a); });
    }
}

void TokPrivateKey::SetupAttribute(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_SUBJECT: SetSubject(ReadBytes(attribute)); break;
        case CKA_UNWRAP_TEMPLATE: throw Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        default: SetupFlag(*this, PrivateFlags(), attribute, [this](const Attribute& a) { TokKey::SetupAttribute(a); });
    }
}

// ---- TokPublicKey ----

namespace {

const KeyFlags<TokPublicKey>& PublicFlags() {
    static const KeyFlags<TokPublicKey> flags = {
        {CKA_ENCRYPT, &TokPublicKey::GetCouldEncrypt, &TokPublicKey::SetCouldEncrypt, OnUpdate::Any},
        {CKA_VERIFY, &TokPublicKey::GetCouldVerify, &TokPublicKey::SetCouldVerify, OnUpdate::Any},
        {CKA_VERIFY_RECOVER, &TokPublicKey::GetCouldVerifyRecover, &TokPublicKey::SetCouldVerifyRecover,
         OnUpdate::Any},
        {CKA_WRAP, &TokPublicKey::GetCouldWrap, &TokPublicKey::SetCouldWrap, OnUpdate::Any},
        {CKA_TRUSTED, &TokPublicKey::GetIsTrusted, &TokPublicKey::SetIsTrusted, OnUpdate::ReadOnly},
    };
    return flags;
}

}  // namespace

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
        if (entry.GetType() == CKA_SUBJECT) return MatchBytes(entry, GetSubject());
        return MatchFlag(*this, PublicFlags(), entry);
    });
}

CK_RV TokPublicKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV own = UpdateLevel(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_SUBJECT: SetSubject(ReadBytes(entry)); return Change::Apply;
            case CKA_WRAP_TEMPLATE: return Change::TypeInvalidUnmarked;
            default: return UpdateFlag(*this, PublicFlags(), entry);
        }
    });
    return Combine(own, TokKey::UpdateAttributes(attributes));
}

CK_RV TokPublicKey::FillAttribute(Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_SUBJECT: return PlaceBytes(attribute, GetSubject());
        case CKA_WRAP_TEMPLATE: return CKR_ATTRIBUTE_TYPE_INVALID;
        default:
            return FillFlag(*this, PublicFlags(), attribute, [this](Attribute& a) { return TokKey::FillAttribute(a); });
    }
}

void TokPublicKey::SetupAttribute(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_SUBJECT: SetSubject(ReadBytes(attribute)); break;
        case CKA_WRAP_TEMPLATE: throw Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        default: SetupFlag(*this, PublicFlags(), attribute, [this](const Attribute& a) { TokKey::SetupAttribute(a); });
    }
}

// ---- TokSecretKey ----

namespace {

const KeyFlags<TokSecretKey>& SecretFlags() {
    static const KeyFlags<TokSecretKey> flags = WithSensitivityFlags<TokSecretKey>({
        {CKA_ENCRYPT, &TokSecretKey::GetCouldEncrypt, &TokSecretKey::SetCouldEncrypt, OnUpdate::Any},
        {CKA_VERIFY, &TokSecretKey::GetCouldVerify, &TokSecretKey::SetCouldVerify, OnUpdate::Any},
        {CKA_WRAP, &TokSecretKey::GetCouldWrap, &TokSecretKey::SetCouldWrap, OnUpdate::Any},
        {CKA_WRAP_WITH_TRUSTED, &TokSecretKey::GetCouldWrapOnlyWithTrusted,
         &TokSecretKey::SetCouldWrapOnlyWithTrusted, OnUpdate::OnlyTrue},
        {CKA_TRUSTED, &TokSecretKey::GetIsTrusted, &TokSecretKey::SetIsTrusted, OnUpdate::ReadOnly},
    });
    return flags;
}

}  // namespace

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
            case CKA_CHECK_VALUE: return MatchBytes(entry, GetCheckValue());
            case CKA_WRAP_TEMPLATE: case CKA_UNWRAP_TEMPLATE: return false;
            default: return MatchFlag(*this, SecretFlags(), entry);
        }
    });
}

CK_RV TokSecretKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV own = UpdateLevel(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_CHECK_VALUE: SetCheckValue(ReadBytes(entry)); return Change::Apply;
            case CKA_UNWRAP_TEMPLATE: return Change::ReadOnly;
            default: return UpdateFlag(*this, SecretFlags(), entry);
        }
    });
    return Combine(own, TokKey::UpdateAttributes(attributes));
}

CK_RV TokSecretKey::FillAttribute(Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_CHECK_VALUE: return PlaceBytes(attribute, GetCheckValue());
        case CKA_WRAP_TEMPLATE: case CKA_UNWRAP_TEMPLATE: return CKR_ATTRIBUTE_TYPE_INVALID;
        default:
            return FillFlag(*this, SecretFlags(), attribute, [this](Attribute& a) { return TokKey::FillAttribute(a); });
    }
}

void TokSecretKey::SetupAttribute(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_CHECK_VALUE: SetCheckValue(ReadBytes(attribute)); break;
        case CKA_WRAP_TEMPLATE: case CKA_UNWRAP_TEMPLATE: throw Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        default: SetupFlag(*this, SecretFlags(), attribute, [this](const Attribute& a) { TokKey::SetupAttribute(a); });
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

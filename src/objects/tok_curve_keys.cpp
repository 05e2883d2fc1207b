#include "objects/tok_curve_keys.h"

#include "objects/object_rules.h"

namespace zrck {

namespace {
// CKA_TRUSTED is compared by the public-key level although it does not list it as its own.
bool PublicLevelCompares(const TokPublicKey& key, CK_ATTRIBUTE_TYPE type) {
    return type == CKA_TRUSTED || key.TokPublicKey::IsMyAttributeType(type);
}

CK_RV ReadOnlyAfterCreation(const Attribute& entry, CK_ATTRIBUTE_TYPE first, CK_ATTRIBUTE_TYPE second) {
    const CK_ATTRIBUTE_TYPE type = entry.GetType();
    return type == first || type == second ? CKR_ATTRIBUTE_READ_ONLY : NOT_OWN_TYPE;
}
}  // namespace

// ---- TokCurvePrivateKey ----

bool TokCurvePrivateKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_EC_PARAMS || type == CKA_VALUE || TokPrivateKey::IsMyAttributeType(type);
}

bool TokCurvePrivateKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokPrivateKey::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return TokPrivateKey::IsMyAttributeType(type); },
        [this](const Attribute& entry) {
            return entry.GetType() == CKA_EC_PARAMS && MatchBytes(entry, GetECParams());
        });
}

CK_RV TokCurvePrivateKey::GetAttributes(AttributeTemplate& attributes) {
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

CK_RV TokCurvePrivateKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckKeyUpdate(*this, attributes, [](const Attribute& entry) {
        return ReadOnlyAfterCreation(entry, CKA_EC_PARAMS, CKA_VALUE);
    });
    if (refused != CKR_OK) return refused;
    return TokPrivateKey::UpdateAttributes(attributes);
}

void TokCurvePrivateKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    SetupEntries(attributes, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_EC_PARAMS: SetECParams(ReadBytes(entry)); break;
            case CKA_VALUE: SetValue(ReadBytes(entry)); break;
            default: TokPrivateKey::SetupAttribute(entry);
        }
    });
}

void TokCurvePrivateKey::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    InitializeKeyWithAttributes(*this, token, attributes);
}

// ---- TokCurvePublicKey ----

bool TokCurvePublicKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_EC_PARAMS || type == CKA_EC_POINT || TokPublicKey::IsMyAttributeType(type);
}

bool TokCurvePublicKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
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

CK_RV TokCurvePublicKey::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_EC_PARAMS: return PlaceBytes(entry, GetECParams());
            case CKA_EC_POINT: return PlaceBytes(entry, GetECPoint());
            default: return TokPublicKey::FillAttribute(entry);
        }
    });
}

CK_RV TokCurvePublicKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckKeyUpdate(*this, attributes, [](const Attribute& entry) {
        return ReadOnlyAfterCreation(entry, CKA_EC_PARAMS, CKA_EC_POINT);
    });
    if (refused != CKR_OK) return refused;
    return TokPublicKey::UpdateAttributes(attributes);
}

void TokCurvePublicKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    SetupEntries(attributes, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_EC_PARAMS: SetECParams(ReadBytes(entry)); break;
            case CKA_EC_POINT: SetECPoint(ReadBytes(entry)); break;
            default: TokPublicKey::SetupAttribute(entry);
        }
    });
}

}  // namespace zrck

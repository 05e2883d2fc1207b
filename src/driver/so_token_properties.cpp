#include "driver/so_token_properties.h"

#include <limits>

#include "ckbase/exception.h"
#include "driver/qel_token.h"
#include "objects/attribute_value.h"

namespace qel {

bool SOTokenProperties::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return type == CKA_USER_AUTH_MAX_TRY || zrck::TokHWFeature::IsMyAttributeType(type);
}

bool SOTokenProperties::IsObjectMeetConditions(const zrck::AttributeTemplate& search) const {
    const zrck::Attribute* objectClass = search.GetAttributeIfExists(CKA_CLASS);
    if (objectClass == nullptr) return false;
    if (objectClass->GetAsULong() != GetClass() || !zrck::TokHWFeature::IsObjectMeetConditions(search)) return false;
    // The device value is never compared: a template naming it matches nothing.
    for (CK_ULONG i = 0; i < search.GetCount(); ++i) {
        if (!zrck::TokHWFeature::IsMyAttributeType(search[i].GetType())) return false;
    }
    return true;
}

CK_ULONG SOTokenProperties::GetUserAuthMaxCount() const {
    return Token::ExtractStorage(GetTokenPtr())->GetUserAuthMaxCountM();
}

void SOTokenProperties::SetUserAuthMaxCount(CK_ULONG count) {
    auto* token = dynamic_cast<zrck::Token*>(GetTokenPtr());
    TokenStorage* storage = Token::ExtractStorage(token);
    if (!token->IsSOLogged()) throw zrck::Exception(CKR_USER_TYPE_INVALID);
    if (count > std::numeric_limits<uint32_t>::max()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    storage->SetUserAuthMaxCountM(static_cast<uint32_t>(count));
}

CK_RV SOTokenProperties::GetAttributes(zrck::AttributeTemplate& attributes) {
    CK_RV first = CKR_OK;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        zrck::Attribute& entry = attributes[i];
        CK_RV rv;
        switch (entry.GetType()) {
            case CKA_HW_FEATURE_TYPE: rv = zrck::PlaceULong(entry, GetFeatureType()); break;
            case CKA_USER_AUTH_MAX_TRY: rv = zrck::PlaceULong(entry, GetUserAuthMaxCount()); break;
            default: rv = FillAttribute(entry); break;
        }
        if (first == CKR_OK) first = rv;
    }
    return first;
}

CK_RV SOTokenProperties::UpdateAttributes(zrck::AttributeTemplate& attributes) {
    auto* token = dynamic_cast<zrck::Token*>(GetTokenPtr());
    if (token == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    if (!token->IsSOLogged()) throw zrck::Exception(CKR_USER_TYPE_INVALID);
    // All or nothing: a template the object refuses in part changes nothing on the device.
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        const zrck::Attribute& entry = attributes[i];
        if (entry.mProcessed > 0) continue;
        if (entry.GetType() != CKA_USER_AUTH_MAX_TRY) return CKR_ATTRIBUTE_TYPE_INVALID;
        if (entry.GetLength() != sizeof(CK_ULONG)) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        zrck::Attribute& entry = attributes[i];
        if (entry.mProcessed > 0) continue;
        entry.mProcessed = 1;
        SetUserAuthMaxCount(entry.GetAsULong());
    }
    return CKR_OK;
}

void SOTokenProperties::SetupAttributes(zrck::ObjectToken*, zrck::AttributeTemplate&) {
    throw zrck::Exception(CKR_GENERAL_ERROR, "SOTokenProperties - SetupAttributes not available");
}

void SOTokenProperties::SetupAttribute(const zrck::Attribute&) {
    throw zrck::Exception(CKR_GENERAL_ERROR, "SOTokenProperties - SetupAttributes not available");
}

}  // namespace qel

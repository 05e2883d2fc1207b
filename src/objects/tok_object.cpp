#include "objects/tok_object.h"

#include "ckbase/exception.h"
#include "objects/object_token.h"
#include "objects/attribute_value.h"

namespace zrck {

void TokObject::SetTokenPtr(ObjectToken* token) {
    if (token != nullptr) mpToken.store(token);
}

void TokObject::SetOwnerSession(CK_SESSION_HANDLE session) {
    if (GetLifeTime() == LIFETIME_SESSION) mOwnerSession = session;
}

void TokObject::Unlock() {
    unsigned int count = mLockCount.load();
    while (count != 0 && !mLockCount.compare_exchange_weak(count, count - 1)) {
    }
}

bool TokObject::IsObjectMeetConditions(const AttributeTemplate& search) const {
    const Attribute* objectClass = search.GetAttributeIfExists(CKA_CLASS);
    return objectClass == nullptr || objectClass->GetAsULong() == GetClass();
}

CK_RV TokObject::FillAttribute(Attribute& attribute) {
    if (attribute.GetType() == CKA_CLASS) return PlaceULong(attribute, GetClass());
    return PlaceUnavailable(attribute, CKR_ATTRIBUTE_TYPE_INVALID);
}

bool TokStorageObject::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    switch (type) {
        case CKA_TOKEN:
        case CKA_PRIVATE:
        case CKA_LABEL:
        case CKA_MODIFIABLE:
        case CKA_COPYABLE:
            return true;
        default:
            return TokObject::IsMyAttributeType(type);
    }
}

bool TokStorageObject::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokObject::IsObjectMeetConditions(search)) return false;
    for (CK_ULONG i = 0; i < search.GetCount(); ++i) {
        const Attribute& entry = search[i];
        bool match = true;
        switch (entry.GetType()) {
            case CKA_TOKEN: match = MatchBool(entry, IsTokenObject()); break;
            case CKA_PRIVATE: match = MatchBool(entry, IsPrivateObject()); break;
            case CKA_MODIFIABLE: match = MatchBool(entry, IsModifiable() != CK_FALSE); break;
            case CKA_COPYABLE: match = MatchBool(entry, IsCopyable() != CK_FALSE); break;
            case CKA_LABEL: match = MatchBytes(entry, GetLabel()); break;
            default: break;
        }
        if (!match) return false;
    }
    return true;
}

CK_RV TokStorageObject::UpdateAttributes(AttributeTemplate& attributes) {
    CK_RV first = CKR_OK;
    const bool copying = mCopyMode == COPY_MODE;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        Attribute& entry = attributes[i];
        if (entry.mProcessed > 0) continue;
        entry.mProcessed = 1;
        bool readOnly = false;
        switch (entry.GetType()) {
            case CKA_LABEL:
                SetLabel(ReadBytes(entry));
                break;
            case CKA_TOKEN:
                if (copying) SetLifeTime(entry.GetAsBool() ? LIFETIME_TOKEN : LIFETIME_SESSION);
                readOnly = !copying;
                break;
            case CKA_PRIVATE:
                if (copying) SetVisibility(entry.GetAsBool() ? VISIBILITY_PRIVATE : VISIBILITY_PUBLIC);
                readOnly = !copying;
                break;
            case CKA_MODIFIABLE:
                if (copying) SetModifiable(entry.GetAsBool());
                readOnly = !copying;
                break;
            case CKA_COPYABLE:
                if (copying || !entry.GetAsBool()) {
                    SetCopyable(entry.GetAsBool());
                } else {
                    readOnly = true;
                }
                break;
            default:
                readOnly = true;
                break;
        }
        if (readOnly && first == CKR_OK) first = CKR_ATTRIBUTE_READ_ONLY;
    }
    return first;
}

CK_RV TokStorageObject::FillAttribute(Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_LABEL: return PlaceBytes(attribute, GetLabel());
        case CKA_MODIFIABLE: return PlaceBool(attribute, IsModifiable() != CK_FALSE);
        case CKA_COPYABLE: return PlaceBool(attribute, IsCopyable() != CK_FALSE);
        case CKA_TOKEN: return PlaceBool(attribute, IsTokenObject());
        case CKA_PRIVATE: return PlaceBool(attribute, IsPrivateObject());
        default: return TokObject::FillAttribute(attribute);
    }
}

void TokStorageObject::SetupAttribute(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_CLASS: break;
        case CKA_TOKEN: SetLifeTime(attribute.GetAsBool() ? LIFETIME_TOKEN : LIFETIME_SESSION); break;
        case CKA_PRIVATE: SetVisibility(attribute.GetAsBool() ? VISIBILITY_PRIVATE : VISIBILITY_PUBLIC); break;
        case CKA_MODIFIABLE: SetModifiable(attribute.GetAsBool()); break;
        case CKA_COPYABLE: SetCopyable(attribute.GetAsBool()); break;
        case CKA_LABEL: SetLabel(ReadBytes(attribute)); break;
        default: throw Exception(CKR_ATTRIBUTE_TYPE_INVALID);
    }
}

CK_RV TokStorageObject::FillAll(AttributeTemplate& attributes) {
    CK_RV first = CKR_OK;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        CK_RV rv;
        try {
            rv = FillAttribute(attributes[i]);
        } catch (const Exception& e) {
            if (e.GetCode() != CKR_ATTRIBUTE_SENSITIVE && e.GetCode() != CKR_ATTRIBUTE_TYPE_INVALID &&
                e.GetCode() != CKR_ATTRIBUTE_VALUE_INVALID) {
                throw;
            }
            rv = PlaceUnavailable(attributes[i], e.GetCode());
        }
        if (first == CKR_OK) first = rv;
    }
    return first;
}

void TokStorageObject::SetupAll(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) {
        if (attributes[i].mProcessed <= 0) SetupAttribute(attributes[i]);
    }
}

bool TokStorageObject::IsTokStorageObject(const TokObject* object) {
    if (object == nullptr) return false;
    const CK_OBJECT_CLASS objectClass = object->GetClass();
    return objectClass <= CKO_SECRET_KEY || objectClass == CKO_DOMAIN_PARAMETERS || objectClass == CKO_ZR_CRL;
}

TokStorageObject* TokStorageObject::AsTokStorageObject(TokObject* object) {
    if (!IsTokStorageObject(object)) throw Exception(CKR_OK);
    auto* storage = dynamic_cast<TokStorageObject*>(object);
    if (storage == nullptr) throw Exception(CKR_OK);
    return storage;
}

int TokRandomGenerator::GetNext(tru::Buffer& output) {
    if (mpToken == nullptr) throw Exception(CKR_GENERAL_ERROR);
    mpToken->GenerateUserRandom(output);
    return 0;
}

}  // namespace zrck

#include "objects/tok_certificate.h"

#include "ckbase/exception.h"
#include "objects/object_token.h"
#include "objects/object_rules.h"

namespace zrck {

namespace {

// Types an X.509 certificate keeps beyond the storage ones.
bool IsX509Type(CK_ATTRIBUTE_TYPE type) {
    switch (type) {
        case CKA_CERTIFICATE_TYPE:
        case CKA_ISSUER:
        case CKA_SERIAL_NUMBER:
        case CKA_ID:
        case CKA_SUBJECT:
        case CKA_VALUE:
        case CKA_TRUSTED:
        case CKA_CERTIFICATE_CATEGORY:
        case CKA_JAVA_MIDP_SECURITY_DOMAIN:
        case CKA_URL:
        case CKA_HASH_OF_SUBJECT_PUBLIC_KEY:
        case CKA_HASH_OF_ISSUER_PUBLIC_KEY:
        case CKA_CHECK_VALUE:
        case CKA_START_DATE:
        case CKA_END_DATE: return true;
        default: return false;
    }
}

// The only X.509 attributes that may change after creation.
bool IsX509Changeable(CK_ATTRIBUTE_TYPE type) {
    return type == CKA_ISSUER || type == CKA_SERIAL_NUMBER || type == CKA_ID;
}

}  // namespace

bool TokX509Certificate::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_CERTIFICATE, CKA_CERTIFICATE_TYPE, CKC_X_509);
}

bool TokWTLSCertificate::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_CERTIFICATE, CKA_CERTIFICATE_TYPE, CKC_WTLS);
}

bool TokX509AttrCertificate::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_CERTIFICATE, CKA_CERTIFICATE_TYPE, CKC_X_509_ATTR_CERT);
}

bool TokX509Certificate::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return IsX509Type(type) || TokStorageObject::IsMyAttributeType(type);
}

bool TokX509Certificate::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokStorageObject::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return TokStorageObject::IsMyAttributeType(type); },
        [this](const Attribute& entry) {
            switch (entry.GetType()) {
                case CKA_CERTIFICATE_TYPE: return MatchULong(entry, GetCertificateType());
                case CKA_ISSUER: return MatchBytes(entry, GetIssuer());
                case CKA_SERIAL_NUMBER: return MatchBytes(entry, GetSerialNumber());
                case CKA_ID: return MatchBytes(entry, GetKeyID());
                case CKA_SUBJECT: return MatchBytes(entry, GetSubject());
                case CKA_VALUE: return MatchBytes(entry, GetValue());
                case CKA_TRUSTED: return MatchBool(entry, IsTrusted() != CK_FALSE);
                case CKA_CERTIFICATE_CATEGORY: return MatchULong(entry, GetCertificateCategory());
                case CKA_JAVA_MIDP_SECURITY_DOMAIN: return MatchULong(entry, GetJavaMidpSecurityDomain());
                case CKA_URL: return MatchBytes(entry, GetUrl());
                case CKA_HASH_OF_SUBJECT_PUBLIC_KEY: return MatchBytes(entry, GetSubjectPublicKeyHash());
                case CKA_HASH_OF_ISSUER_PUBLIC_KEY: return MatchBytes(entry, GetIssuerPublicKeyHash());
                case CKA_CHECK_VALUE: return MatchBytes(entry, GetCheckValue());
                case CKA_START_DATE: return MatchDate(entry, GetStartDate());
                case CKA_END_DATE: return MatchDate(entry, GetEndDate());
                default: return false;
            }
        });
}

CK_RV TokX509Certificate::FillOwn(Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_CERTIFICATE_TYPE: return PlaceULong(attribute, GetCertificateType());
        case CKA_ISSUER: return PlaceBytes(attribute, GetIssuer());
        case CKA_SERIAL_NUMBER: return PlaceBytes(attribute, GetSerialNumber());
        case CKA_ID: return PlaceBytes(attribute, GetKeyID());
        case CKA_SUBJECT: return PlaceBytes(attribute, GetSubject());
        case CKA_VALUE: return PlaceBytes(attribute, GetValue());
        case CKA_TRUSTED: return PlaceBool(attribute, IsTrusted() != CK_FALSE);
        case CKA_CERTIFICATE_CATEGORY: return PlaceULong(attribute, GetCertificateCategory());
        case CKA_JAVA_MIDP_SECURITY_DOMAIN: return PlaceULong(attribute, GetJavaMidpSecurityDomain());
        case CKA_URL: return PlaceBytes(attribute, GetUrl());
        case CKA_HASH_OF_SUBJECT_PUBLIC_KEY: return PlaceBytes(attribute, GetSubjectPublicKeyHash());
        case CKA_HASH_OF_ISSUER_PUBLIC_KEY: return PlaceBytes(attribute, GetIssuerPublicKeyHash());
        case CKA_CHECK_VALUE: return PlaceBytes(attribute, GetCheckValue());
        case CKA_START_DATE: return PlaceDate(attribute, GetStartDate());
        case CKA_END_DATE: return PlaceDate(attribute, GetEndDate());
        default: return PlaceUnavailable(attribute, CKR_ATTRIBUTE_TYPE_INVALID);
    }
}

CK_RV TokX509Certificate::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        if (TokStorageObject::IsMyAttributeType(entry.GetType())) return FillAttribute(entry);
        return FillOwn(entry);
    });
}

CK_RV TokX509Certificate::UpdateAttributes(AttributeTemplate& attributes) {
    if (IsTrusted()) return CKR_ATTRIBUTE_READ_ONLY;
    const CK_RV refused = CheckStorageUpdate(*this, attributes, [](const Attribute& entry) {
        if (!IsX509Type(entry.GetType())) return NOT_OWN_TYPE;
        if (!IsX509Changeable(entry.GetType())) return CKR_ATTRIBUTE_READ_ONLY;
        ReadBytes(entry);
        return CKR_OK;
    });
    if (refused != CKR_OK) return refused;
    UpdateOwnEntries(attributes, [this](const Attribute& entry) {
        switch (entry.GetType()) {
            case CKA_ISSUER: SetIssuer(ReadBytes(entry)); return OwnChange::Applied;
            case CKA_SERIAL_NUMBER: SetSerialNumber(ReadBytes(entry)); return OwnChange::Applied;
            case CKA_ID: SetKeyID(ReadBytes(entry)); return OwnChange::Applied;
            default: return OwnChange::NotMine;
        }
    });
    return TokStorageObject::UpdateAttributes(attributes);
}

void TokX509Certificate::SetupOwn(const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_CERTIFICATE_TYPE: break;
        case CKA_ISSUER: SetIssuer(ReadBytes(attribute)); break;
        case CKA_SERIAL_NUMBER: SetSerialNumber(ReadBytes(attribute)); break;
        case CKA_ID: SetKeyID(ReadBytes(attribute)); break;
        case CKA_SUBJECT: SetSubject(ReadBytes(attribute)); break;
        case CKA_VALUE: SetValue(ReadBytes(attribute)); break;
        case CKA_TRUSTED:
            if (attribute.GetAsBool()) {
                // Only the security officer may mark a certificate trusted.
                const ObjectToken* token = GetTokenPtr();
                if (token == nullptr || !token->IsSOLogged()) throw Exception(CKR_ATTRIBUTE_VALUE_INVALID);
                SetIsTrusted(CK_TRUE);
            } else {
                SetIsTrusted(CK_FALSE);
            }
            break;
        case CKA_CERTIFICATE_CATEGORY: SetCertificateCategory(attribute.GetAsULong()); break;
        case CKA_JAVA_MIDP_SECURITY_DOMAIN: SetJavaMidpSecurityDomain(attribute.GetAsULong()); break;
        case CKA_URL: SetUrl(ReadBytes(attribute)); break;
        case CKA_HASH_OF_SUBJECT_PUBLIC_KEY: SetSubjectPublicKeyHash(ReadBytes(attribute)); break;
        case CKA_HASH_OF_ISSUER_PUBLIC_KEY: SetIssuerPublicKeyHash(ReadBytes(attribute)); break;
        case CKA_CHECK_VALUE: SetCheckValue(ReadBytes(attribute)); break;
        case CKA_START_DATE: SetStartDate(ReadDate(attribute)); break;
        case CKA_END_DATE: SetEndDate(ReadDate(attribute)); break;
        default: TokStorageObject::SetupAttribute(attribute);
    }
}

void TokX509Certificate::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    SetupEntries(attributes, [this](const Attribute& entry) { SetupOwn(entry); });
    if (GetValue().Empty()) throw Exception(CKR_TEMPLATE_INCOMPLETE);
}

void TokX509Certificate::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetupAttributes(token, attributes);
    if (GetSubject().Empty() || GetValue().Empty()) throw Exception(CKR_TEMPLATE_INCOMPLETE);
}

}  // namespace zrck

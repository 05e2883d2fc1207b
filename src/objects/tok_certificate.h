// Attribute classes of CKO_CERTIFICATE objects: the certificate base, X.509 public-key
// certificates, and the WTLS and attribute-certificate types (type and creation test only).
#ifndef ZR_OBJECTS_TOK_CERTIFICATE_H
#define ZR_OBJECTS_TOK_CERTIFICATE_H

#include "objects/tok_object.h"

namespace zrck {

class TokCertificate : public TokStorageObject {
public:
    CK_OBJECT_CLASS GetClass() const override { return CKO_CERTIFICATE; }

    virtual CK_CERTIFICATE_TYPE GetCertificateType() const = 0;
    virtual CK_BBOOL IsTrusted() const = 0;
    virtual CK_ULONG GetCertificateCategory() const = 0;
    virtual const tru::Buffer& GetCheckValue() const = 0;
    virtual CK_DATE GetStartDate() const = 0;
    virtual void SetStartDate(const CK_DATE& date) = 0;
    virtual CK_DATE GetEndDate() const = 0;
    virtual void SetEndDate(const CK_DATE& date) = 0;
    virtual void SetIsTrusted(CK_BBOOL trusted) = 0;
    virtual void SetCertificateCategory(CK_ULONG category) = 0;
    virtual void SetCheckValue(const tru::Buffer& value) = 0;
};

class TokX509Certificate : public TokCertificate {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    // Storage types and every X.509 type, CKA_TRUSTED included.
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    // A trusted certificate refuses every change.
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    // CKA_SUBJECT and CKA_VALUE, both non-empty, are required.
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void RegisterObject() override {}
    const char* GetObjectClassName() const override { return "TokX509Certificate"; }
    CK_CERTIFICATE_TYPE GetCertificateType() const override { return CKC_X_509; }

    virtual const tru::Buffer& GetSubject() const = 0;
    virtual void SetSubject(const tru::Buffer& subject) = 0;
    virtual const tru::Buffer& GetKeyID() const = 0;
    virtual void SetKeyID(const tru::Buffer& id) = 0;
    virtual const tru::Buffer& GetIssuer() const = 0;
    virtual void SetIssuer(const tru::Buffer& issuer) = 0;
    virtual const tru::Buffer& GetSerialNumber() const = 0;
    virtual void SetSerialNumber(const tru::Buffer& serial) = 0;
    virtual const tru::Buffer& GetValue() const = 0;
    virtual void SetValue(const tru::Buffer& value) = 0;
    virtual const tru::Buffer& GetSubjectPublicKeyHash() const = 0;
    virtual void SetSubjectPublicKeyHash(const tru::Buffer& hash) = 0;
    virtual const tru::Buffer& GetIssuerPublicKeyHash() const = 0;
    virtual void SetIssuerPublicKeyHash(const tru::Buffer& hash) = 0;
    virtual const tru::Buffer& GetUrl() const = 0;
    virtual void SetUrl(const tru::Buffer& url) = 0;
    virtual CK_ULONG GetJavaMidpSecurityDomain() const = 0;
    virtual void SetJavaMidpSecurityDomain(CK_ULONG domain) = 0;

private:
    CK_RV FillOwn(Attribute& attribute);
    void SetupOwn(const Attribute& attribute);
};

// Neither type has a concrete class or a class-factory registration.
class TokWTLSCertificate : public TokCertificate {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);
    void RegisterObject() override {}
    CK_CERTIFICATE_TYPE GetCertificateType() const override { return CKC_WTLS; }
};

class TokX509AttrCertificate : public TokCertificate {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);
    void RegisterObject() override {}
    CK_CERTIFICATE_TYPE GetCertificateType() const override { return CKC_X_509_ATTR_CERT; }
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_CERTIFICATE_H

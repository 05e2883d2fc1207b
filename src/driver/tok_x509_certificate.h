#pragma once

#include "driver/lazy_data.h"
#include "driver/storage_types.h"
#include "driver/stored_object.h"
#include "objects/tok_certificate.h"
#include "support/noncopyable.h"

namespace qel {

// CKO_CERTIFICATE object of type CKC_X_509: the DER certificate in a token data file read on
// first use, every other value in the attribute file; item type 4.
class TokX509Certificate : public StoredObject<zrck::TokX509Certificate>, private vdk::Noncopyable {
public:
    static bool ClassCouldBeCreated(const zrck::AttributeTemplate& attributes) {
        return zrck::TokX509Certificate::ClassCouldBeCreated(attributes);
    }
    static zrck::TokObject* GenerateTokObject() { return new TokX509Certificate(); }
    static TokenStoredObject* GenerateObject() { return new TokX509Certificate(); }

    TokX509Certificate();

    std::string ToString() const override;
    zrck::TokObject* GenerateCopy() override;
    CK_ULONG GetObjectSize() override;

    CK_BBOOL IsTrusted() const override { return trusted_; }
    CK_ULONG GetCertificateCategory() const override { return category_; }
    const tru::Buffer& GetCheckValue() const override { return checkValue_; }
    CK_DATE GetStartDate() const override { return startDate_; }
    void SetStartDate(const CK_DATE& date) override { startDate_ = date; }
    CK_DATE GetEndDate() const override { return endDate_; }
    void SetEndDate(const CK_DATE& date) override { endDate_ = date; }
    void SetIsTrusted(CK_BBOOL trusted) override { trusted_ = trusted != CK_FALSE ? CK_TRUE : CK_FALSE; }
    void SetCertificateCategory(CK_ULONG category) override { category_ = category; }
    void SetCheckValue(const tru::Buffer& value) override;
    const tru::Buffer& GetSubject() const override { return subject_; }
    void SetSubject(const tru::Buffer& subject) override;
    const tru::Buffer& GetKeyID() const override { return keyId_; }
    void SetKeyID(const tru::Buffer& id) override;
    const tru::Buffer& GetIssuer() const override { return issuer_; }
    void SetIssuer(const tru::Buffer& issuer) override;
    const tru::Buffer& GetSerialNumber() const override { return serialNumber_; }
    void SetSerialNumber(const tru::Buffer& serial) override;
    const tru::Buffer& GetValue() const override;
    void SetValue(const tru::Buffer& value) override { value_.SetData(value); }
    const tru::Buffer& GetSubjectPublicKeyHash() const override { return subjectKeyHash_; }
    void SetSubjectPublicKeyHash(const tru::Buffer& hash) override;
    const tru::Buffer& GetIssuerPublicKeyHash() const override { return issuerKeyHash_; }
    void SetIssuerPublicKeyHash(const tru::Buffer& hash) override;
    const tru::Buffer& GetUrl() const override { return url_; }
    void SetUrl(const tru::Buffer& url) override;
    CK_ULONG GetJavaMidpSecurityDomain() const override { return midpDomain_; }
    void SetJavaMidpSecurityDomain(CK_ULONG domain) override { midpDomain_ = domain; }

    uint16_t GetTokenIndexType() const override { return CERTIFICATE; }
    void StoreAttributes() override;
    void ReadAttributes() override;
    // Takes over every stored value of a twin.
    bool RefreshFrom(TokenStoredObject& other) override;

    const LazyData& GetLazyValue() const { return value_; }

private:
    // Applies one attribute read back from the token; types a certificate does not keep are
    // passed over.
    void ApplyStored(const zrck::Attribute& entry);

    CK_BBOOL trusted_ = CK_FALSE;
    CK_ULONG category_ = 0;
    tru::BufferDynamic checkValue_;
    CK_DATE startDate_;
    CK_DATE endDate_;
    tru::BufferDynamic subject_;
    tru::BufferDynamic keyId_;
    tru::BufferDynamic issuer_;
    tru::BufferDynamic serialNumber_;
    tru::BufferDynamic subjectKeyHash_;
    tru::BufferDynamic issuerKeyHash_;
    tru::BufferDynamic url_;
    CK_ULONG midpDomain_ = 0;
    mutable LazyData value_;
};

}  // namespace qel

#include "driver/tok_x509_certificate.h"

#include <memory>

#include "ckbase/exception.h"
#include "driver/stored_key.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "objects/attribute_value.h"
#include "support/math.h"

namespace qel {

namespace {

// Category, security domain: 4 bytes on the token, little-endian.
CK_ULONG ReadWord(const zrck::Attribute& entry) {
    if (entry.GetLength() == sizeof(CK_ULONG)) return entry.GetAsULong();
    if (entry.GetLength() != 4) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    return vdk::Math::GetUInt(vdk::Math::LITTLE_ENDIAN_ORDER, entry.GetValue());
}

}  // namespace

TokX509Certificate::TokX509Certificate() : startDate_(zrck::BlankDate()), endDate_(zrck::BlankDate()) {}

void TokX509Certificate::SetCheckValue(const tru::Buffer& value) { StoredObjectUtl::CopyBuffer(checkValue_, value); }
void TokX509Certificate::SetSubject(const tru::Buffer& subject) { StoredObjectUtl::CopyBuffer(subject_, subject); }
void TokX509Certificate::SetKeyID(const tru::Buffer& id) { StoredObjectUtl::CopyBuffer(keyId_, id); }
void TokX509Certificate::SetIssuer(const tru::Buffer& issuer) { StoredObjectUtl::CopyBuffer(issuer_, issuer); }
void TokX509Certificate::SetSerialNumber(const tru::Buffer& serial) { StoredObjectUtl::CopyBuffer(serialNumber_, serial); }
void TokX509Certificate::SetSubjectPublicKeyHash(const tru::Buffer& hash) { StoredObjectUtl::CopyBuffer(subjectKeyHash_, hash); }
void TokX509Certificate::SetIssuerPublicKeyHash(const tru::Buffer& hash) { StoredObjectUtl::CopyBuffer(issuerKeyHash_, hash); }
void TokX509Certificate::SetUrl(const tru::Buffer& url) { StoredObjectUtl::CopyBuffer(url_, url); }

const tru::Buffer& TokX509Certificate::GetValue() const { return StoredObjectUtl::ValueOf(value_, *this); }

CK_ULONG TokX509Certificate::GetObjectSize() { return GetStorageSize(StoredObjectUtl::StorageOf(*this)); }

void TokX509Certificate::StoreAttributes() {
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    StoredObjectUtl::ReserveFilesIfNone(*this, *this, CERTIFICATE);
    SetObjectFile(value_.StoreReplacing(*storage, GetObjectFile(), GetAttributeFile()));
    StoredRecords records;
    records.AddU32(tokattr::kFlags, StoredObjectUtl::StorageFlags(*this) |
                                        StoredObjectUtl::FlagWord({{trusted_ != CK_FALSE, 2}}));
    if (category_ != 0) records.AddU32(CKA_CERTIFICATE_CATEGORY, static_cast<uint32_t>(category_));
    if (midpDomain_ != 0) records.AddU32(CKA_JAVA_MIDP_SECURITY_DOMAIN, static_cast<uint32_t>(midpDomain_));
    records.AddIfAny(CKA_LABEL, GetLabelStored());
    records.AddIfAny(CKA_CHECK_VALUE, checkValue_);
    records.AddDateIfSet(CKA_START_DATE, startDate_);
    records.AddDateIfSet(CKA_END_DATE, endDate_);
    const std::pair<uint16_t, const tru::Buffer*> buffers[] = {
        {CKA_SUBJECT, &subject_},
        {CKA_ID, &keyId_},
        {CKA_ISSUER, &issuer_},
        {CKA_SERIAL_NUMBER, &serialNumber_},
        {CKA_URL, &url_},
        {CKA_HASH_OF_SUBJECT_PUBLIC_KEY, &subjectKeyHash_},
        {CKA_HASH_OF_ISSUER_PUBLIC_KEY, &issuerKeyHash_},
    };
    for (const auto& item : buffers) records.AddIfAny(item.first, *item.second);
    records.WriteTo(*storage, GetAttributeFile());
}

void TokX509Certificate::ApplyStored(const zrck::Attribute& entry) {
    if (StoredObjectUtl::ApplyStorageRecord(*this, entry)) return;
    switch (entry.GetType()) {
        case CKA_TRUSTED: SetIsTrusted(entry.GetAsBool() ? CK_TRUE : CK_FALSE); break;
        case CKA_CERTIFICATE_CATEGORY: category_ = ReadWord(entry); break;
        case CKA_JAVA_MIDP_SECURITY_DOMAIN: midpDomain_ = ReadWord(entry); break;
        case CKA_CHECK_VALUE: SetCheckValue(zrck::ReadBytes(entry)); break;
        case CKA_START_DATE: startDate_ = zrck::ReadDate(entry); break;
        case CKA_END_DATE: endDate_ = zrck::ReadDate(entry); break;
        case CKA_SUBJECT: SetSubject(zrck::ReadBytes(entry)); break;
        case CKA_ID: SetKeyID(zrck::ReadBytes(entry)); break;
        case CKA_ISSUER: SetIssuer(zrck::ReadBytes(entry)); break;
        case CKA_SERIAL_NUMBER: SetSerialNumber(zrck::ReadBytes(entry)); break;
        case CKA_URL: SetUrl(zrck::ReadBytes(entry)); break;
        case CKA_HASH_OF_SUBJECT_PUBLIC_KEY: SetSubjectPublicKeyHash(zrck::ReadBytes(entry)); break;
        case CKA_HASH_OF_ISSUER_PUBLIC_KEY: SetIssuerPublicKeyHash(zrck::ReadBytes(entry)); break;
        default: break;
    }
}

void TokX509Certificate::ReadAttributes() {
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    value_.AssignStorageParams(GetObjectFile(), GetAttributeFile());
    std::vector<storage::AttributeBuff> records;
    zrck::AttributeTemplate attributes;
    StoredObjectUtl::ReadTemplate(*this, *this, CKO_CERTIFICATE, records, attributes);
    // Read directly, not through the creation rules: those would read the lazy value and
    // refuse a trusted certificate to anyone but the security officer.
    trusted_ = CK_FALSE;
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) ApplyStored(attributes[i]);
}

bool TokX509Certificate::RefreshFrom(TokenStoredObject& other) {
    if (IsRefreshLocked()) return false;
    auto* twin = dynamic_cast<TokX509Certificate*>(&other);
    if (twin == nullptr) return false;
    bool changed = false;
    changed = StoredObjectUtl::CopyIfDifferent(subject_, twin->subject_) || changed;
    changed = StoredObjectUtl::CopyIfDifferent(keyId_, twin->keyId_) || changed;
    changed = StoredObjectUtl::CopyIfDifferent(issuer_, twin->issuer_) || changed;
    changed = StoredObjectUtl::CopyIfDifferent(serialNumber_, twin->serialNumber_) || changed;
    value_.RefreshData(twin->value_);
    changed = StoredObjectUtl::CopyIfDifferent(subjectKeyHash_, twin->subjectKeyHash_) || changed;
    changed = StoredObjectUtl::CopyIfDifferent(url_, twin->url_) || changed;
    RefreshStoredValues(*this, *twin);
    startDate_ = twin->startDate_;
    endDate_ = twin->endDate_;
    midpDomain_ = twin->midpDomain_;
    // Every stored field is taken over, so copies and refreshed certificates lose nothing.
    trusted_ = twin->trusted_;
    category_ = twin->category_;
    StoredObjectUtl::CopyIfDifferent(checkValue_, twin->checkValue_);
    StoredObjectUtl::CopyIfDifferent(issuerKeyHash_, twin->issuerKeyHash_);
    return changed;
}

zrck::TokObject* TokX509Certificate::GenerateCopy() {
    std::unique_ptr<TokX509Certificate> copy(new TokX509Certificate());
    // The copy takes every value now and gets files of its own when it is stored.
    StartStoredCopy(*copy, *copy, *this, *this, CopyFiles::OwnLater);
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    copy->SetRefreshLock(true);
    CarryValueToCopy(copy->value_, value_, *this);
    return copy.release();
}

std::string TokX509Certificate::ToString() const {
    return StoredObjectUtl::ObjectText(*this, *this, "KeyID", keyId_);
}

}  // namespace qel

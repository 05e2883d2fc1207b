#include "driver/tok_x509_certificate.h"

#include <cstdio>
#include <memory>
#include <sstream>

#include "ckbase/exception.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "objects/attribute_value.h"
#include "support/math.h"

namespace qel {

namespace {

const uint32_t kFlagModifiable = 1u << 0;
const uint32_t kFlagCopyable = 1u << 1;
const uint32_t kFlagTrusted = 1u << 2;

// Category, security domain: 4 bytes on the token, little-endian.
struct StoredWord {
    explicit StoredWord(CK_ULONG value) { vdk::Math::PutUInt(vdk::Math::LITTLE_ENDIAN_ORDER, static_cast<uint32_t>(value), bytes); }
    uint8_t bytes[4];
};

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

const tru::Buffer& TokX509Certificate::GetValue() const {
    if (value_.IsLoaded() || value_.IsSet() || value_.GetFileId() == 0) return value_.GetBuffer();
    return value_.GetData(StoredObjectUtl::StorageOf(*this));
}

CK_ULONG TokX509Certificate::GetObjectSize() { return GetStorageSize(StoredObjectUtl::StorageOf(*this)); }

void TokX509Certificate::StoreAttributes() {
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    StoredObjectUtl::ReserveFilesIfNone(*this, *this, CERTIFICATE);
    if (value_.IsLoaded() || value_.IsSet()) {
        value_.AssignStorageParams(GetObjectFile());
        storage->WriteDataFileM(GetObjectFile(), value_.GetBuffer());
    }
    uint8_t flags[4];
    vdk::Math::PutUInt(vdk::Math::LITTLE_ENDIAN_ORDER,
                       (IsModifiableStored() ? kFlagModifiable : 0) | (IsCopyableStored() ? kFlagCopyable : 0) |
                           (trusted_ != CK_FALSE ? kFlagTrusted : 0),
                       flags);
    const StoredWord category(category_);
    const StoredWord domain(midpDomain_);
    std::vector<storage::Attribute> records{StoredObjectUtl::Record(tokattr::kFlags, flags, sizeof flags)};
    if (category_ != 0) records.push_back(StoredObjectUtl::Record(CKA_CERTIFICATE_CATEGORY, category.bytes, 4));
    if (midpDomain_ != 0) records.push_back(StoredObjectUtl::Record(CKA_JAVA_MIDP_SECURITY_DOMAIN, domain.bytes, 4));
    const std::pair<uint16_t, const tru::Buffer*> buffers[] = {
        {CKA_LABEL, &GetLabelStored()}, {CKA_CHECK_VALUE, &checkValue_}};
    for (const auto& item : buffers) {
        if (!item.second->Empty()) records.push_back(StoredObjectUtl::Record(item.first, *item.second));
    }
    if (!zrck::IsBlankDate(startDate_)) records.push_back(StoredObjectUtl::Record(CKA_START_DATE, &startDate_, sizeof startDate_));
    if (!zrck::IsBlankDate(endDate_)) records.push_back(StoredObjectUtl::Record(CKA_END_DATE, &endDate_, sizeof endDate_));
    const std::pair<uint16_t, const tru::Buffer*> more[] = {
        {CKA_SUBJECT, &subject_},
        {CKA_ID, &keyId_},
        {CKA_ISSUER, &issuer_},
        {CKA_SERIAL_NUMBER, &serialNumber_},
        {CKA_URL, &url_},
        {CKA_HASH_OF_SUBJECT_PUBLIC_KEY, &subjectKeyHash_},
        {CKA_HASH_OF_ISSUER_PUBLIC_KEY, &issuerKeyHash_},
    };
    for (const auto& item : more) {
        if (!item.second->Empty()) records.push_back(StoredObjectUtl::Record(item.first, *item.second));
    }
    storage->WriteAttributeFile(GetAttributeFile(), records.data(), static_cast<unsigned>(records.size()));
}

void TokX509Certificate::ApplyStored(const zrck::Attribute& entry) {
    switch (entry.GetType()) {
        case CKA_LABEL: SetLabel(zrck::ReadBytes(entry)); break;
        case CKA_MODIFIABLE: SetModifiable(entry.GetAsBool()); break;
        case CKA_COPYABLE: SetCopyable(entry.GetAsBool()); break;
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
    value_.AssignStorageParams(GetObjectFile());
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
    if (GetLabelStored() != twin->GetLabelStored()) SetLabel(twin->GetLabelStored());
    if (IsModifiableStored() && !twin->IsModifiableStored()) SetModifiableStored(false);
    if (IsCopyableStored() && !twin->IsCopyableStored()) SetCopyableStored(false);
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
    copy->SetCopyMode(COPY_MODE);
    copy->SetTokenPtr(GetTokenPtr());
    copy->SetOwnerSession(GetOwnerSession());
    copy->SetVisibility(GetVisibility());
    const ObjectLifeTimeEnum lifeTime = GetLifeTime();
    copy->SetLifeTime(lifeTime == LIFETIME_FIXED || lifeTime == LIFETIME_MECHANISM ? LIFETIME_TOKEN : lifeTime);
    copy->SetModifiableStored(IsModifiableStored());
    copy->SetCopyableStored(IsCopyableStored());
    copy->SetLabel(GetLabelStored());
    // The copy takes every value now and gets files of its own when it is stored.
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    copy->SetRefreshLock(true);
    if (value_.GetFileId() != 0 && !value_.IsLoaded() && !value_.IsSet()) {
        copy->value_.CopyData(value_, StoredObjectUtl::StorageOf(*this));
    }
    return copy.release();
}

std::string TokX509Certificate::ToString() const {
    std::ostringstream text;
    char handle[24];
    std::snprintf(handle, sizeof handle, "%lX", static_cast<unsigned long>(GetHandle()));
    text << GetObjectClassName() << "[This: " << static_cast<const void*>(this) << ", Handle: " << handle
         << ", Label=\"" << GetLabelStored().ToString() << "\", KeyID: " << StoredObjectUtl::HexId(keyId_)
         << StoredObjectUtl::StorageIdText(*this) << "]";
    return text.str();
}

}  // namespace qel

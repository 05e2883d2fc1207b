#include "national/tok_ua_gost_secret_key.h"

#include <cstring>
#include <memory>

#include "ckbase/exception.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "national/gost_errors.h"
#include "national/gost_token_access.h"
#include "national/ua_gost_utl.h"
#include "support/math.h"

namespace qel {

namespace {

const CK_MECHANISM_TYPE kAllowedMechanisms[] = {CKM_GOST28147_ECB_NAT, CKM_GOST28147_CNT, CKM_GOST28147_CFB,
                                                CKM_GOST28147_MAC_NAT, CKM_GOST28147_WRAP};

// Bits of the stored flags word.
enum StoredFlag : uint32_t {
    kStoredModifiable = 0x1,
    kStoredCopyable = 0x2,
    kStoredTrusted = 0x4,
    kStoredDerive = 0x8,
    kStoredEncrypt = 0x10,
    kStoredVerify = 0x20,
    kStoredWrap = 0x80,
    kStoredSensitive = 0x100,
    kStoredDecrypt = 0x200,
    kStoredSign = 0x400,
    kStoredUnwrap = 0x1000,
    kStoredExtractable = 0x2000,
    kStoredAlwaysSensitive = 0x4000,
    kStoredNeverExtractable = 0x8000,
    kStoredLocal = 0x40000,
};

CK_DATE BlankDate()
{
    CK_DATE date;
    std::memset(&date, ' ', sizeof date);
    return date;
}

bool IsBlank(const CK_DATE& date)
{
    const CK_DATE blank = BlankDate();
    return std::memcmp(&date, &blank, sizeof date) == 0;
}

// Both forms of an absent generation date: all spaces or all zero bytes.
bool IsAbsent(const CK_ZR_DATETIME& date)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&date);
    bool spaces = true;
    bool zeros = true;
    for (size_t i = 0; i < sizeof date; ++i) {
        spaces = spaces && bytes[i] == ' ';
        zeros = zeros && bytes[i] == 0;
    }
    return spaces || zeros;
}

// A CK_ULONG-valued template entry as the token converter may give it: 4 bytes little-endian
// or a platform CK_ULONG.
CK_ULONG ReadStoredULong(const zrck::Attribute& entry)
{
    if (entry.GetLength() == 4) {
        return vdk::Math::GetUInt(vdk::Math::LITTLE_ENDIAN_ORDER, static_cast<const uint8_t*>(entry.GetValue()));
    }
    return entry.GetAsULong();
}

}  // namespace

TokUAGostSecretKey::TokUAGostSecretKey()
    : startDate_(BlankDate()), endDate_(BlankDate())
{
    std::memset(&generationDate_, ' ', sizeof generationDate_);
    InitDefaults();
}

void TokUAGostSecretKey::InitDefaults()
{
    const tru::Buffer& dke1 = UAGostUtl::GetInstance()->GetDKE(1);
    sBoxAttribute_ = dke1;
    const tru::TResult rc = sBoxInUse_.Set(dke1.Size() - 2, dke1.Data() + 2);
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

void TokUAGostSecretKey::InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes)
{
    zrck::TokUAGostSecretKey::InitializeWithAttributes(token, attributes);
    if (!GostTokenAccess(GetTokenPtr()).IsNationalSupported()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
}

CK_ULONG TokUAGostSecretKey::GetObjectSize()
{
    return GetStorageSize(StoredObjectUtl::StorageOf(*this)) + kKeyObjectSize;
}

void TokUAGostSecretKey::SetKeyID(const tru::Buffer& id) { StoredObjectUtl::CopyBuffer(keyId_, id); }

void TokUAGostSecretKey::SetSubject(const tru::Buffer& subject) { StoredObjectUtl::CopyBuffer(subject_, subject); }

tru::Buffer TokUAGostSecretKey::GetAllowedMechanisms() const
{
    return tru::Buffer(kAllowedMechanisms, sizeof kAllowedMechanisms);
}

bool TokUAGostSecretKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const
{
    for (CK_MECHANISM_TYPE allowed : kAllowedMechanisms) {
        if (allowed == type) return true;
    }
    return false;
}

void TokUAGostSecretKey::AddDefaultUsageAttributes()
{
    for (Flag usage : {kEncrypt, kDecrypt, kWrap, kUnwrap, kSign, kVerify}) setFlag(usage, CK_TRUE);
}

void TokUAGostSecretKey::SetIsSensitive(CK_BBOOL value)
{
    if (flag(kSensitive) && !value) throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY);
    setFlag(kSensitive, value);
}

void TokUAGostSecretKey::SetIsAlwaysSensitive(CK_BBOOL value)
{
    setFlag(kAlwaysSensitive, value);
    if (value) setFlag(kSensitive, CK_TRUE);
}

const tru::Buffer& TokUAGostSecretKey::GetCheckValue() const { throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID); }

void TokUAGostSecretKey::SetCheckValue(const tru::Buffer&) { throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID); }

void TokUAGostSecretKey::SetSBox(const tru::Buffer& sBox)
{
    vdk::SafeBuffer dke;
    const bool known = WithFrameworkErrors(
        [&] { return UAGostUtl::GetInstance()->ExtractSBox(sBox, dke, CKR_ATTRIBUTE_VALUE_INVALID); });
    if (!known) {
        vdk::SafeBuffer registered;
        if (!GostTokenAccess(GetTokenPtr()).FindParam(sBox, CKK_GOST28147_NAT, registered)) {
            throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        // A registered S-box is normally the DER OCTET STRING 04 40 DKE.
        const uint8_t* bytes = registered.Data();
        if (registered.Size() == 66 && bytes[0] == 0x04 && bytes[1] == 0x40) {
            StoredObjectUtl::CopyBuffer(dke, tru::Buffer(bytes + 2, 64));
        } else {
            StoredObjectUtl::CopyBuffer(dke, registered);
        }
    }
    sBoxInUse_ = std::move(dke);
    sBoxAttribute_ = sBox;
    sBoxPending_ = false;
}

const tru::Buffer& TokUAGostSecretKey::GetValue() const
{
    if (value_.IsLoaded() || value_.IsSet() || value_.GetFileId() == 0) return value_.GetBuffer();
    return value_.GetData(StoredObjectUtl::StorageOf(*this));
}

void TokUAGostSecretKey::SetValue(const tru::Buffer& value)
{
    if (value.Size() != VALUE_LENGTH) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    value_.SetData(value);
}

zrck::TokObject* TokUAGostSecretKey::GenerateCopy()
{
    std::unique_ptr<TokUAGostSecretKey> copy(new TokUAGostSecretKey());
    copy->SetCopyMode(COPY_MODE);
    copy->SetTokenPtr(GetTokenPtr());
    copy->SetOwnerSession(GetOwnerSession());
    copy->SetVisibility(GetVisibility());
    const ObjectLifeTimeEnum lifeTime = GetLifeTime();
    copy->SetLifeTime(lifeTime == LIFETIME_FIXED || lifeTime == LIFETIME_MECHANISM ? LIFETIME_TOKEN : lifeTime);
    copy->SetModifiableStored(IsModifiableStored());
    copy->SetCopyableStored(IsCopyableStored());
    copy->SetLabelStored(GetLabelStored());
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    copy->SetRefreshLock(true);
    // The copy is a new object: it gets files of its own when stored, and carries the value
    // itself, read from the source's data file first when the source never read it.
    if (value_.GetFileId() != 0 && !value_.IsLoaded() && !value_.IsSet()) {
        copy->value_.CopyData(value_, StoredObjectUtl::StorageOf(*this));
    } else {
        copy->value_.RefreshData(value_);
    }
    copy->generationDate_ = generationDate_;
    return copy.release();
}

bool TokUAGostSecretKey::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* twin = dynamic_cast<TokUAGostSecretKey*>(&other);
    if (twin == nullptr || twin == this) return false;
    startDate_ = twin->startDate_;
    endDate_ = twin->endDate_;
    derive_ = twin->derive_;
    local_ = twin->local_;
    keyGenMechanism_ = twin->keyGenMechanism_;
    std::memcpy(flags_, twin->flags_, sizeof flags_);
    bool changed = false;
    if (sBoxAttribute_ != twin->sBoxAttribute_ || sBoxInUse_ != twin->sBoxInUse_) {
        sBoxAttribute_ = twin->sBoxAttribute_;
        sBoxInUse_ = twin->sBoxInUse_;
        sBoxPending_ = twin->sBoxPending_;
        changed = true;
    }
    value_.RefreshData(twin->value_);
    changed = StoredObjectUtl::CopyIfDifferent(keyId_, twin->keyId_) || changed;
    changed = StoredObjectUtl::CopyIfDifferent(subject_, twin->subject_) || changed;
    if (GetLabelStored() != twin->GetLabelStored()) SetLabelStored(twin->GetLabelStored());
    if (!twin->IsModifiableStored()) SetModifiableStored(false);
    if (!twin->IsCopyableStored()) SetCopyableStored(false);
    return changed;
}

uint32_t TokUAGostSecretKey::StoredFlags() const
{
    struct Bit {
        bool on;
        uint32_t bit;
    };
    const Bit bits[] = {
        {IsModifiableStored(), kStoredModifiable}, {IsCopyableStored(), kStoredCopyable},
        {flag(kTrusted) != 0, kStoredTrusted},     {derive_ != 0, kStoredDerive},
        {flag(kEncrypt) != 0, kStoredEncrypt},     {flag(kVerify) != 0, kStoredVerify},
        {flag(kWrap) != 0, kStoredWrap},           {flag(kSensitive) != 0, kStoredSensitive},
        {flag(kDecrypt) != 0, kStoredDecrypt},     {flag(kSign) != 0, kStoredSign},
        {flag(kUnwrap) != 0, kStoredUnwrap},       {flag(kExtractable) != 0, kStoredExtractable},
        {flag(kAlwaysSensitive) != 0, kStoredAlwaysSensitive},
        {flag(kNeverExtractable) != 0, kStoredNeverExtractable},
        {local_ != 0, kStoredLocal},
    };
    uint32_t word = 0;
    for (const Bit& bit : bits) {
        if (bit.on) word |= bit.bit;
    }
    return word;
}

void TokUAGostSecretKey::StoreAttributes()
{
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    StoredObjectUtl::ReserveFilesIfNone(*this, *this, UA_GOST_SECRET_KEY);
    if (value_.IsLoaded() || value_.IsSet()) {
        storage->WriteDataFileM(GetObjectFile(), value_.GetBuffer());
        if (value_.GetFileId() != GetObjectFile()) value_.AssignStorageParams(GetObjectFile());
    }

    uint8_t flags[4];
    vdk::Math::PutUInt(vdk::Math::LITTLE_ENDIAN_ORDER, StoredFlags(), flags);
    uint8_t mechanism[4];
    vdk::Math::PutUInt(vdk::Math::LITTLE_ENDIAN_ORDER, static_cast<uint32_t>(keyGenMechanism_), mechanism);
    std::vector<storage::Attribute> records;
    records.push_back(StoredObjectUtl::Record(tokattr::kFlags, flags, sizeof flags));
    records.push_back(StoredObjectUtl::Record(CKA_KEY_GEN_MECHANISM, mechanism, sizeof mechanism));
    records.push_back(StoredObjectUtl::Record(tokattr::kGostSboxes, sBoxAttribute_));
    if (!GetLabelStored().Empty()) records.push_back(StoredObjectUtl::Record(CKA_LABEL, GetLabelStored()));
    if (!keyId_.Empty()) records.push_back(StoredObjectUtl::Record(CKA_ID, keyId_));
    if (!IsBlank(startDate_)) records.push_back(StoredObjectUtl::Record(CKA_START_DATE, &startDate_, sizeof startDate_));
    if (!IsBlank(endDate_)) records.push_back(StoredObjectUtl::Record(CKA_END_DATE, &endDate_, sizeof endDate_));
    if (!IsAbsent(generationDate_)) {
        records.push_back(StoredObjectUtl::Record(tokattr::kKeyGenerationDate, &generationDate_, sizeof generationDate_));
    }
    if (!subject_.Empty()) records.push_back(StoredObjectUtl::Record(CKA_SUBJECT, subject_));
    storage->WriteAttributeFile(GetAttributeFile(), records.data(), static_cast<unsigned>(records.size()));
}

void TokUAGostSecretKey::ApplyStoredExtras(zrck::AttributeTemplate& attributes)
{
    if (zrck::Attribute* local = attributes.GetAttributeIfExists(CKA_LOCAL)) {
        SetLocal(local->GetAsBool() ? CK_TRUE : CK_FALSE);
        local->mProcessed = 1;
    }
    if (zrck::Attribute* mechanism = attributes.GetAttributeIfExists(CKA_KEY_GEN_MECHANISM)) {
        if (mechanism->GetLength() != 4 && mechanism->GetLength() != sizeof(CK_ULONG)) {
            throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        SetKeyGenMechanism(ReadStoredULong(*mechanism));
        mechanism->mProcessed = 1;
    }
    if (zrck::Attribute* date = attributes.GetAttributeIfExists(CKA_ZR_KEY_GENERATION_DATE)) date->mProcessed = 1;
    const CK_ATTRIBUTE_TYPE defaultsFalse[] = {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY,
                                               CKA_TRUSTED, CKA_DERIVE,  CKA_WRAP};
    zrck::Attribute added[sizeof defaultsFalse / sizeof defaultsFalse[0]];
    CK_ULONG count = 0;
    for (CK_ATTRIBUTE_TYPE type : defaultsFalse) {
        if (attributes.GetAttributeIfExists(type) == nullptr) added[count++].SetupOwnBool(type, false);
    }
    attributes.AddAttributesIfNotExist(added, count);
}

void TokUAGostSecretKey::ApplyStoredSBox(zrck::AttributeTemplate& attributes)
{
    zrck::Attribute* entry = attributes.GetAttributeIfExists(CKA_GOST_SBOXES);
    if (entry == nullptr) return;
    entry->mProcessed = 1;
    const tru::Buffer stored(entry->GetValue(), static_cast<uint32_t>(entry->GetLength()));
    try {
        SetSBox(stored);
        sBoxPending_ = false;
    } catch (const zrck::Exception&) {
        // Named by domain parameters not read yet: kept as stored and resolved at first use,
        // never replaced by the default S-box.
        sBoxAttribute_ = stored;
        sBoxInUse_.Clear();
        sBoxPending_ = true;
    }
}

void TokUAGostSecretKey::ResolveSBoxIfPending()
{
    if (!sBoxPending_) return;
    const vdk::SafeBuffer stored(sBoxAttribute_);
    try {
        SetSBox(stored);
        sBoxPending_ = false;
    } catch (const zrck::Exception&) {
        // Still unknown: the ciphers refuse the empty S-box.
    }
}

void TokUAGostSecretKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    value_.AssignStorageParams(GetObjectFile());
    std::vector<storage::AttributeBuff> records;
    zrck::AttributeTemplate attributes;
    StoredObjectUtl::ReadTemplate(*this, *this, CKO_SECRET_KEY, records, attributes);
    ApplyStoredExtras(attributes);
    ApplyStoredSBox(attributes);
    SetupAttributes(nullptr, attributes);
    if (const zrck::Attribute* date = attributes.GetAttributeIfExists(CKA_ZR_KEY_GENERATION_DATE)) {
        if (date->GetLength() == sizeof(CK_ZR_DATETIME)) {
            std::memcpy(&generationDate_, date->GetValue(), sizeof generationDate_);
        }
    }
}

}  // namespace qel

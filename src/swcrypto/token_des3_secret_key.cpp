#include "swcrypto/token_des3_secret_key.h"

#include <memory>

#include "ckbase/exception.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "support/math.h"
#include "support/safe_buffer.h"
#include "swcrypto/des3_engine.h"

namespace qel {

namespace {

const CK_MECHANISM_TYPE kAllowedMechanisms[] = {CKM_DES3_CBC, CKM_DES3_CBC_PAD};

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
    kStoredWrapWithTrusted = 0x10000,
    kStoredLocal = 0x40000,
};

const long kFirstPrivateFile = 128;

bool IsBlank(const CK_DATE& date)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&date);
    for (size_t i = 0; i < sizeof date; ++i) {
        if (bytes[i] != ' ') return false;
    }
    return true;
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

}  // namespace

TokDES3SecretKey::TokDES3SecretKey() = default;

void TokDES3SecretKey::InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes)
{
    mbt::TokDES3SecretKey::InitializeWithAttributes(token, attributes);
    if (GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    // The value of a sensitive key never goes to a public file.
    if (GetIsSensitive() && IsTokenObject()) SetVisibility(VISIBILITY_PRIVATE);
}

void TokDES3SecretKey::SetIsSensitive(CK_BBOOL value)
{
    if (value && !GetIsSensitive() && GetObjectFile() != 0 && GetObjectFile() < kFirstPrivateFile) {
        throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY, "SENSITIVE");
    }
    mbt::TokDES3SecretKey::SetIsSensitive(value);
}

CK_ULONG TokDES3SecretKey::GetObjectSize()
{
    return GetStorageSize(StoredObjectUtl::StorageOf(*this)) + kKeyObjectSize;
}

tru::Buffer TokDES3SecretKey::GetAllowedMechanisms() const
{
    return tru::Buffer(kAllowedMechanisms, sizeof kAllowedMechanisms);
}

bool TokDES3SecretKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const
{
    for (CK_MECHANISM_TYPE allowed : kAllowedMechanisms) {
        if (allowed == type) return true;
    }
    return false;
}

const tru::Buffer& TokDES3SecretKey::GetValue() const
{
    if (value_.IsLoaded() || value_.IsSet()) return value_.GetBuffer();
    return value_.GetData(StoredObjectUtl::StorageOf(*this));
}

void TokDES3SecretKey::SetValue(const tru::Buffer& value)
{
    vdk::SafeBuffer corrected(value);
    mbt::TokDES3Utl::CorrectKeyValue(corrected);
    value_.SetData(corrected);
}

zrck::TokObject* TokDES3SecretKey::GenerateCopy()
{
    std::unique_ptr<TokDES3SecretKey> copy(new TokDES3SecretKey());
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
    // The copy gets files of its own when stored and carries the value itself, read from the
    // source's data file first when the source never read it.
    if (value_.GetFileId() != 0 && !value_.IsLoaded() && !value_.IsSet()) {
        copy->value_.CopyData(value_, StoredObjectUtl::StorageOf(*this));
    } else {
        copy->value_.RefreshData(value_);
    }
    copy->SetGenerationDate(*GetGenerationDate());
    return copy.release();
}

bool TokDES3SecretKey::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* twin = dynamic_cast<TokDES3SecretKey*>(&other);
    if (twin == nullptr || twin == this) return false;
    CopyAttributesFrom(*twin);
    value_.RefreshData(twin->value_);
    const bool changed = CopyIdentityFrom(*twin);
    SetModifiableStored(twin->IsModifiableStored());
    if (GetLabelStored() != twin->GetLabelStored()) SetLabelStored(twin->GetLabelStored());
    if (!twin->IsCopyableStored()) SetCopyableStored(false);
    return changed;
}

uint32_t TokDES3SecretKey::StoredFlags() const
{
    struct Bit {
        bool on;
        uint32_t bit;
    };
    const Bit bits[] = {
        {IsModifiableStored(), kStoredModifiable},
        {IsCopyableStored(), kStoredCopyable},
        {GetIsTrusted() != 0, kStoredTrusted},
        {GetCouldDerive() != 0, kStoredDerive},
        {GetCouldEncrypt() != 0, kStoredEncrypt},
        {GetCouldVerify() != 0, kStoredVerify},
        {GetCouldWrap() != 0, kStoredWrap},
        {GetIsSensitive() != 0, kStoredSensitive},
        {GetCouldDecrypt() != 0, kStoredDecrypt},
        {GetCouldSign() != 0, kStoredSign},
        {GetCouldUnwrap() != 0, kStoredUnwrap},
        {GetIsExtractable() != 0, kStoredExtractable},
        {GetIsAlwaysSensitive() != 0, kStoredAlwaysSensitive},
        {GetIsNeverExtractable() != 0, kStoredNeverExtractable},
        {GetCouldWrapOnlyWithTrusted() != 0, kStoredWrapWithTrusted},
        {GetLocal() != 0, kStoredLocal},
    };
    uint32_t word = 0;
    for (const Bit& bit : bits) {
        if (bit.on) word |= bit.bit;
    }
    return word;
}

void TokDES3SecretKey::StoreAttributes()
{
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    StoredObjectUtl::ReserveFilesIfNone(*this, *this, DES3_SECRET_KEY);
    if (value_.IsLoaded() || value_.IsSet()) {
        storage->WriteDataFileM(GetObjectFile(), value_.GetBuffer());
        if (value_.GetFileId() != GetObjectFile()) value_.AssignStorageParams(GetObjectFile());
    }
    uint8_t flags[4];
    vdk::Math::PutUInt(vdk::Math::LITTLE_ENDIAN_ORDER, StoredFlags(), flags);
    uint8_t mechanism[4];
    vdk::Math::PutUInt(vdk::Math::LITTLE_ENDIAN_ORDER, static_cast<uint32_t>(GetKeyGenMechanism()), mechanism);
    const CK_DATE start = GetStartDate();
    const CK_DATE end = GetEndDate();
    std::vector<storage::Attribute> records;
    records.push_back(StoredObjectUtl::Record(tokattr::kFlags, flags, sizeof flags));
    records.push_back(StoredObjectUtl::Record(CKA_KEY_GEN_MECHANISM, mechanism, sizeof mechanism));
    if (!GetLabelStored().Empty()) records.push_back(StoredObjectUtl::Record(CKA_LABEL, GetLabelStored()));
    if (!GetKeyID().Empty()) records.push_back(StoredObjectUtl::Record(CKA_ID, GetKeyID()));
    if (!IsBlank(start)) records.push_back(StoredObjectUtl::Record(CKA_START_DATE, &start, sizeof start));
    if (!IsBlank(end)) records.push_back(StoredObjectUtl::Record(CKA_END_DATE, &end, sizeof end));
    const CK_ZR_DATETIME* generated = GetGenerationDate();
    if (!IsAbsent(*generated)) {
        records.push_back(StoredObjectUtl::Record(tokattr::kKeyGenerationDate, generated, sizeof *generated));
    }
    if (!GetSubject().Empty()) records.push_back(StoredObjectUtl::Record(CKA_SUBJECT, GetSubject()));
    storage->WriteAttributeFile(GetAttributeFile(), records.data(), static_cast<unsigned>(records.size()));
}

void TokDES3SecretKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    value_.AssignStorageParams(GetObjectFile());
    std::vector<storage::AttributeBuff> records;
    zrck::AttributeTemplate attributes;
    StoredObjectUtl::ReadTemplate(*this, *this, CKO_SECRET_KEY, records, attributes);
    if (zrck::Attribute* local = attributes.GetAttributeIfExists(CKA_LOCAL)) {
        SetLocal(local->GetAsBool() ? CK_TRUE : CK_FALSE);
        local->mProcessed = 1;
    }
    if (zrck::Attribute* mechanism = attributes.GetAttributeIfExists(CKA_KEY_GEN_MECHANISM)) {
        if (mechanism->GetLength() != 4) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        SetKeyGenMechanism(vdk::Math::GetUInt(vdk::Math::LITTLE_ENDIAN_ORDER,
                                              static_cast<const uint8_t*>(mechanism->GetValue())));
        mechanism->mProcessed = 1;
    }
    const zrck::Attribute* date = attributes.GetAttributeIfExists(CKA_ZR_KEY_GENERATION_DATE);
    if (date != nullptr) const_cast<zrck::Attribute*>(date)->mProcessed = 1;
    const CK_ATTRIBUTE_TYPE defaultsFalse[] = {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY,
                                               CKA_TRUSTED, CKA_DERIVE,  CKA_WRAP};
    zrck::Attribute added[sizeof defaultsFalse / sizeof defaultsFalse[0]];
    CK_ULONG count = 0;
    for (CK_ATTRIBUTE_TYPE type : defaultsFalse) {
        if (attributes.GetAttributeIfExists(type) == nullptr) added[count++].SetupOwnBool(type, false);
    }
    attributes.AddAttributesIfNotExist(added, count);
    SetupAttributes(GetTokenPtr(), attributes);
    // A record of another length is not read past its end.
    if (date != nullptr && date->GetLength() == sizeof(CK_ZR_DATETIME)) {
        CK_ZR_DATETIME value;
        std::memcpy(&value, date->GetValue(), sizeof value);
        SetGenerationDate(value);
    }
}

}  // namespace qel

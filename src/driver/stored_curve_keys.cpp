#include "driver/stored_curve_keys.h"

#include "ckbase/exception.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "objects/tok_ecdsa_keys.h"
#include "objects/tok_ua_sgn_objects.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <typeinfo>
#include <vector>

namespace qel {

namespace {

constexpr uint16_t kFlagsRecordId = 0x8EFF;
constexpr uint16_t kGenerationDateRecordId = 0x8E02;

bool IsBlankDate(const CK_DATE& date)
{
    CK_DATE blank;
    std::memset(&blank, ' ', sizeof blank);
    return std::memcmp(&date, &blank, sizeof date) == 0;
}

bool IsUnsetGenerationDate(const CK_ZR_DATETIME& date)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&date);
    bool spaces = true;
    bool zeros = true;
    for (size_t i = 0; i < sizeof date; ++i) {
        spaces = spaces && bytes[i] == ' ';
        zeros = zeros && bytes[i] == 0;
    }
    return spaces || zeros;
}

uint32_t FlagBits(std::initializer_list<std::pair<bool, unsigned>> bits)
{
    uint32_t word = 0;
    for (const auto& bit : bits) {
        if (bit.first) word |= 1u << bit.second;
    }
    return word;
}

void WriteLittleEndian(uint8_t (&bytes)[4], uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Writes the attribute file of a curve key: flags word, key generation mechanism, EC parameters
// (empty ones only when asked), then label, ID, dates, generation date and subject when set.
void WriteKeyRecords(TokenStorage& storage, long attributeFile, uint32_t flags, const CurveKeyFields& fields,
                     const tru::Buffer& label, bool emptyParams)
{
    uint8_t flagBytes[4];
    uint8_t mechanismBytes[4];
    WriteLittleEndian(flagBytes, flags);
    WriteLittleEndian(mechanismBytes, static_cast<uint32_t>(fields.keyGenMechanism));
    std::vector<storage::Attribute> records;
    records.push_back(StoredObjectUtl::Record(kFlagsRecordId, flagBytes, sizeof flagBytes));
    records.push_back(StoredObjectUtl::Record(static_cast<uint16_t>(CKA_KEY_GEN_MECHANISM), mechanismBytes,
                                              sizeof mechanismBytes));
    if (emptyParams || !fields.ecParams.Empty()) {
        records.push_back(StoredObjectUtl::Record(static_cast<uint16_t>(CKA_EC_PARAMS), fields.ecParams));
    }
    if (!label.Empty()) records.push_back(StoredObjectUtl::Record(static_cast<uint16_t>(CKA_LABEL), label));
    if (!fields.keyId.Empty()) records.push_back(StoredObjectUtl::Record(static_cast<uint16_t>(CKA_ID), fields.keyId));
    if (!IsBlankDate(fields.startDate)) {
        records.push_back(StoredObjectUtl::Record(static_cast<uint16_t>(CKA_START_DATE), &fields.startDate,
                                                  sizeof fields.startDate));
    }
    if (!IsBlankDate(fields.endDate)) {
        records.push_back(
            StoredObjectUtl::Record(static_cast<uint16_t>(CKA_END_DATE), &fields.endDate, sizeof fields.endDate));
    }
    if (!IsUnsetGenerationDate(fields.generationDate)) {
        records.push_back(
            StoredObjectUtl::Record(kGenerationDateRecordId, &fields.generationDate, sizeof fields.generationDate));
    }
    if (!fields.subject.Empty()) {
        records.push_back(StoredObjectUtl::Record(static_cast<uint16_t>(CKA_SUBJECT), fields.subject));
    }
    storage.WriteAttributeFile(attributeFile, records.data(), static_cast<unsigned>(records.size()));
}

// Reads the attribute file into the key. Defaults apply only to flags the file cannot speak for:
// with a flags word, an absent flag was stored false.
template <class Key>
void ReadKeyRecords(Key& key, CurveKeyFields& fields, CK_OBJECT_CLASS objectClass,
                    std::initializer_list<std::pair<CK_ATTRIBUTE_TYPE, bool>> defaultsWithoutFlags)
{
    std::vector<storage::AttributeBuff> records;
    zrck::AttributeTemplate attributes;
    StoredObjectUtl::ReadTemplate(key, key, objectClass, records, attributes);

    if (zrck::Attribute* local = attributes.GetAttributeIfExists(CKA_LOCAL)) {
        key.SetLocal(local->GetAsBool() ? CK_TRUE : CK_FALSE);
        local->mProcessed = 1;
    }
    if (zrck::Attribute* mechanism = attributes.GetAttributeIfExists(CKA_KEY_GEN_MECHANISM)) {
        if (mechanism->GetLength() != 4) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        const auto* b = static_cast<const uint8_t*>(mechanism->GetValue());
        key.SetKeyGenMechanism(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
        mechanism->mProcessed = 1;
    }
    // Copied now: adding the defaults below may move the template's entries.
    if (zrck::Attribute* generationDate = attributes.GetAttributeIfExists(CKA_ZR_KEY_GENERATION_DATE)) {
        generationDate->mProcessed = 1;
        // A record of another length is cut or padded with spaces, never read past its end.
        CK_ZR_DATETIME date;
        std::memset(&date, ' ', sizeof date);
        const size_t length = std::min<size_t>(generationDate->GetLength(), sizeof date);
        if (length != 0 && generationDate->GetValue() != nullptr) std::memcpy(&date, generationDate->GetValue(), length);
        fields.generationDate = date;
    }

    // The flags word always yields CKA_MODIFIABLE.
    const bool hasFlags = attributes.GetAttributeIfExists(CKA_MODIFIABLE) != nullptr;
    std::vector<zrck::Attribute> defaults(defaultsWithoutFlags.size());
    size_t i = 0;
    for (const auto& entry : defaultsWithoutFlags) {
        defaults[i++].SetupOwnBool(entry.first, hasFlags ? false : entry.second);
    }
    attributes.AddAttributesIfNotExist(defaults.data(), defaults.size());

    key.SetupAttributes(nullptr, attributes);
}

std::string KeyText(const zrck::TokObject& object, const TokenStoredObject& stored, const tru::Buffer& keyId)
{
    char head[64];
    std::snprintf(head, sizeof head, "[This: %08lX, Handle: %lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&object)),
                  static_cast<unsigned long>(object.GetHandle()));
    const tru::Buffer& label = stored.GetLabelStored();
    return std::string(object.GetObjectClassName()) + head + ", Label=\"" +
           std::string(reinterpret_cast<const char*>(label.Data()), label.Size()) + "\", KeyID: " +
           StoredObjectUtl::HexId(keyId) + StoredObjectUtl::StorageIdText(stored) + "]";
}

// What a copy takes from its source before the source's values are refreshed into it.
void StartCopy(zrck::TokStorageObject& copy, TokenStoredObject& copyStored, const zrck::TokStorageObject& source,
               const TokenStoredObject& sourceStored)
{
    copy.SetCopyMode(zrck::TokStorageObject::COPY_MODE);
    copy.SetTokenPtr(source.GetTokenPtr());
    copy.SetOwnerSession(source.GetOwnerSession());
    const zrck::TokObject::ObjectLifeTimeEnum lifeTime = source.GetLifeTime();
    copy.SetLifeTime(lifeTime == zrck::TokObject::LIFETIME_FIXED || lifeTime == zrck::TokObject::LIFETIME_MECHANISM
                         ? zrck::TokObject::LIFETIME_TOKEN
                         : lifeTime);
    copy.SetVisibility(source.GetVisibility());
    copyStored.SetObjectFile(sourceStored.GetObjectFile());
    copyStored.SetAttributeFile(sourceStored.GetAttributeFile());
    copyStored.SetModifiableStored(sourceStored.IsModifiableStored());
    copyStored.SetCopyableStored(sourceStored.IsCopyableStored());
    copyStored.SetLabelStored(sourceStored.GetLabelStored());
}

// Label, then the one-way modifiable and copyable flags; true when the label changed.
bool RefreshStoredValues(TokenStoredObject& target, const TokenStoredObject& source)
{
    const tru::Buffer& label = target.GetLabelStored();
    const tru::Buffer& other = source.GetLabelStored();
    const bool labelChanged = label.Size() != other.Size() || (label.Size() != 0 && label != other);
    if (labelChanged) target.SetLabelStored(other);
    if (!source.IsModifiableStored()) target.SetModifiableStored(false);
    if (!source.IsCopyableStored()) target.SetCopyableStored(false);
    return labelChanged;
}

TokenStorage* StorageIfToken(const zrck::TokObject& object)
{
    return object.GetTokenPtr() != nullptr ? StoredObjectUtl::StorageOf(object) : nullptr;
}

} // namespace

// ---- shared fields ----

CurveKeyFields::CurveKeyFields()
{
    std::memset(&startDate, ' ', sizeof startDate);
    std::memset(&endDate, ' ', sizeof endDate);
    std::memset(&generationDate, ' ', sizeof generationDate);
}

void CurveKeyFields::CopyPlainValues(const CurveKeyFields& other)
{
    startDate = other.startDate;
    endDate = other.endDate;
    derive = other.derive;
    local = other.local;
    keyGenMechanism = other.keyGenMechanism;
}

bool CurveKeyFields::RefreshBuffers(const CurveKeyFields& other)
{
    bool changed = StoredObjectUtl::CopyIfDifferent(ecParams, other.ecParams);
    changed = StoredObjectUtl::CopyIfDifferent(keyId, other.keyId) || changed;
    changed = StoredObjectUtl::CopyIfDifferent(subject, other.subject) || changed;
    return changed;
}

// ---- private key ----

template <class Base>
StoredCurvePrivateKey<Base>::StoredCurvePrivateKey()
{
    SetCopyableStored(false);
}

template <class Base>
TokenStorage& StoredCurvePrivateKey<Base>::Storage() const
{
    return *StoredObjectUtl::StorageOf(*this);
}

template <class Base>
zrck::TokObject* StoredCurvePrivateKey<Base>::GenerateCopy()
{
    std::unique_ptr<StoredCurvePrivateKey> copy(MakeEmpty());
    StartCopy(*copy, *copy, *this, *this);
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    copy->SetRefreshLock(true);
    if (LazyData* value = DataFileValue()) copy->DataFileValue()->CopyData(*value, StorageIfToken(*this));
    copy->fields_.generationDate = fields_.generationDate;
    return copy.release();
}

template <class Base>
std::string StoredCurvePrivateKey<Base>::ToString() const
{
    return KeyText(*this, *this, fields_.keyId);
}

template <class Base>
CK_ULONG StoredCurvePrivateKey<Base>::GetObjectSize()
{
    return GetStorageSize(&Storage()) + 16;
}

template <class Base>
void StoredCurvePrivateKey<Base>::SetKeyID(const tru::Buffer& id)
{
    StoredObjectUtl::CopyBuffer(fields_.keyId, id);
}

template <class Base>
void StoredCurvePrivateKey<Base>::SetSubject(const tru::Buffer& subject)
{
    StoredObjectUtl::CopyBuffer(fields_.subject, subject);
}

template <class Base>
void StoredCurvePrivateKey<Base>::SetECParams(const tru::Buffer& params)
{
    StoredObjectUtl::CopyBuffer(fields_.ecParams, params);
}

template <class Base>
void StoredCurvePrivateKey<Base>::AddDefaultUsageAttributes()
{
    sign_ = CK_TRUE;
    fields_.derive = CK_TRUE;
}

template <class Base>
void StoredCurvePrivateKey<Base>::SetIsSensitive(CK_BBOOL value)
{
    if (sensitive_ && !value) throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY);
    sensitive_ = value;
}

template <class Base>
void StoredCurvePrivateKey<Base>::SetIsAlwaysSensitive(CK_BBOOL value)
{
    alwaysSensitive_ = value;
    if (value) sensitive_ = CK_TRUE;
}

template <class Base>
void StoredCurvePrivateKey<Base>::AddGeneratedSensitiveAttributes(const zrck::MechanismSession&)
{
    sensitive_ = CK_TRUE;
    alwaysSensitive_ = CK_TRUE;
    extractable_ = CK_FALSE;
    neverExtractable_ = CK_TRUE;
}

template <class Base>
uint32_t StoredCurvePrivateKey<Base>::FlagsWord() const
{
    return FlagBits({{IsModifiable() != 0, 0}, {IsCopyable() != 0, 1}, {fields_.derive != 0, 3}, {sensitive_ != 0, 8},
                     {decrypt_ != 0, 9}, {sign_ != 0, 10}, {signRecover_ != 0, 11}, {unwrap_ != 0, 12},
                     {extractable_ != 0, 13}, {alwaysSensitive_ != 0, 14}, {neverExtractable_ != 0, 15},
                     {wrapWithTrusted_ != 0, 16}, {alwaysAuthenticate_ != 0, 17}, {fields_.local != 0, 18}});
}

template <class Base>
void StoredCurvePrivateKey<Base>::ReserveFiles()
{
    if (!this->IsPrivateObject()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    long objectFile = 0;
    long attributeFile = 0;
    Storage().ReserveNewObject(GetTokenIndexType(), PrivateObject, objectFile, attributeFile);
    SetObjectFile(objectFile);
    SetAttributeFile(attributeFile);
}

template <class Base>
void StoredCurvePrivateKey<Base>::StoreAttributes()
{
    if (GetObjectFile() == 0) ReserveFiles();
    TokenStorage& storage = Storage();
    LazyData* value = DataFileValue();
    if (value != nullptr && (value->IsLoaded() || value->IsSet())) {
        const vdk::SafeBuffer bytes(value->GetBuffer());
        value->AssignStorageParams(GetObjectFile());
        storage.WriteDataFileM(GetObjectFile(), bytes);
    }
    WriteKeyRecords(storage, GetAttributeFile(), FlagsWord(), fields_, GetLabelStored(), true);
}

template <class Base>
void StoredCurvePrivateKey<Base>::ReadAttributes()
{
    InitDefaults();
    if (this->GetLifeTime() != zrck::TokObject::LIFETIME_TOKEN) return;
    if (LazyData* value = DataFileValue()) value->AssignStorageParams(GetObjectFile());
    ReadKeyRecords(*this, fields_, CKO_PRIVATE_KEY,
                   {{CKA_SENSITIVE, true}, {CKA_ALWAYS_SENSITIVE, true}, {CKA_EXTRACTABLE, false},
                    {CKA_NEVER_EXTRACTABLE, true}, {CKA_DECRYPT, false}, {CKA_SIGN, false}, {CKA_DERIVE, false},
                    {CKA_UNWRAP, false}, {CKA_WRAP_WITH_TRUSTED, false}, {CKA_ALWAYS_AUTHENTICATE, false}});
}

template <class Base>
bool StoredCurvePrivateKey<Base>::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* source = dynamic_cast<StoredCurvePrivateKey*>(&other);
    if (source == nullptr || source == this || typeid(*source) != typeid(*this)) return false;
    fields_.CopyPlainValues(source->fields_);
    sensitive_ = source->sensitive_;
    decrypt_ = source->decrypt_;
    sign_ = source->sign_;
    signRecover_ = source->signRecover_;
    unwrap_ = source->unwrap_;
    extractable_ = source->extractable_;
    alwaysSensitive_ = source->alwaysSensitive_;
    neverExtractable_ = source->neverExtractable_;
    wrapWithTrusted_ = source->wrapWithTrusted_;
    alwaysAuthenticate_ = source->alwaysAuthenticate_;
    bool changed = fields_.RefreshBuffers(source->fields_);
    if (LazyData* value = DataFileValue()) value->RefreshData(*source->DataFileValue());
    changed = RefreshStoredValues(*this, *source) || changed;
    return changed;
}

// ---- public key ----

template <class Base>
TokenStorage& StoredCurvePublicKey<Base>::Storage() const
{
    return *StoredObjectUtl::StorageOf(*this);
}

template <class Base>
zrck::TokObject* StoredCurvePublicKey<Base>::GenerateCopy()
{
    std::unique_ptr<StoredCurvePublicKey> copy(MakeEmpty());
    StartCopy(*copy, *copy, *this, *this);
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    copy->SetRefreshLock(true);
    // A point never read is read now: the copy must carry it.
    copy->ecPoint_.CopyData(ecPoint_, StorageIfToken(*this));
    copy->fields_.generationDate = fields_.generationDate;
    return copy.release();
}

template <class Base>
std::string StoredCurvePublicKey<Base>::ToString() const
{
    return KeyText(*this, *this, fields_.keyId);
}

template <class Base>
CK_ULONG StoredCurvePublicKey<Base>::GetObjectSize()
{
    return GetStorageSize(&Storage());
}

template <class Base>
void StoredCurvePublicKey<Base>::SetKeyID(const tru::Buffer& id)
{
    StoredObjectUtl::CopyBuffer(fields_.keyId, id);
}

template <class Base>
void StoredCurvePublicKey<Base>::SetSubject(const tru::Buffer& subject)
{
    StoredObjectUtl::CopyBuffer(fields_.subject, subject);
}

template <class Base>
void StoredCurvePublicKey<Base>::SetECParams(const tru::Buffer& params)
{
    StoredObjectUtl::CopyBuffer(fields_.ecParams, params);
}

template <class Base>
bool StoredCurvePublicKey<Base>::IsAlgOIDAcceptable(const char*, int)
{
    throw zrck::Exception(CKR_FUNCTION_FAILED, "public key is not linked with a public key algorithm id");
}

template <class Base>
const tru::Buffer& StoredCurvePublicKey<Base>::GetECPoint() const
{
    if (this->GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return ecPoint_.GetData(&Storage());
}

template <class Base>
uint32_t StoredCurvePublicKey<Base>::FlagsWord() const
{
    return FlagBits({{IsModifiable() != 0, 0}, {IsCopyable() != 0, 1}, {trusted_ != 0, 2}, {fields_.derive != 0, 3},
                     {encrypt_ != 0, 4}, {verify_ != 0, 5}, {verifyRecover_ != 0, 6}, {wrap_ != 0, 7},
                     {fields_.local != 0, 18}});
}

template <class Base>
void StoredCurvePublicKey<Base>::StoreAttributes()
{
    TokenStorage& storage = Storage();
    if (GetObjectFile() == 0) {
        long objectFile = 0;
        long attributeFile = 0;
        storage.ReserveNewObject(GetTokenIndexType(), this->IsPrivateObject() ? PrivateObject : PublicObject,
                                 objectFile, attributeFile);
        SetObjectFile(objectFile);
        SetAttributeFile(attributeFile);
    }
    if (ecPoint_.IsLoaded() || ecPoint_.IsSet()) {
        const vdk::SafeBuffer point(ecPoint_.GetBuffer());
        ecPoint_.AssignStorageParams(GetObjectFile());
        storage.WriteDataFileM(GetObjectFile(), point);
    }
    WriteKeyRecords(storage, GetAttributeFile(), FlagsWord(), fields_, GetLabelStored(), StoresEmptyParams());
}

template <class Base>
void StoredCurvePublicKey<Base>::ReadAttributes()
{
    InitDefaults();
    if (this->GetLifeTime() != zrck::TokObject::LIFETIME_TOKEN) return;
    ecPoint_.AssignStorageParams(GetObjectFile());
    ReadKeyRecords(*this, fields_, CKO_PUBLIC_KEY,
                   {{CKA_ENCRYPT, false}, {CKA_VERIFY, false}, {CKA_TRUSTED, false}, {CKA_DERIVE, false},
                    {CKA_WRAP, false}});
}

template <class Base>
bool StoredCurvePublicKey<Base>::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* source = dynamic_cast<StoredCurvePublicKey*>(&other);
    if (source == nullptr || source == this || typeid(*source) != typeid(*this)) return false;
    fields_.CopyPlainValues(source->fields_);
    encrypt_ = source->encrypt_;
    verify_ = source->verify_;
    verifyRecover_ = source->verifyRecover_;
    wrap_ = source->wrap_;
    trusted_ = source->trusted_;
    bool changed = fields_.RefreshBuffers(source->fields_);
    ecPoint_.RefreshData(source->ecPoint_);
    changed = RefreshStoredValues(*this, *source) || changed;
    return changed;
}

template class StoredCurvePrivateKey<zrck::TokECDsaPrivateKey>;
template class StoredCurvePrivateKey<zrck::TokUASgnPrivateKey>;
template class StoredCurvePublicKey<zrck::TokECDsaPublicKey>;
template class StoredCurvePublicKey<zrck::TokUASgnPublicKey>;

} // namespace qel

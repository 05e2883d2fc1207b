#include "driver/stored_key.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ckbase/exception.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "driver/token_stored_object.h"
#include "objects/tok_key.h"

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

}  // namespace

StoredKeyFields::StoredKeyFields()
{
    std::memset(&startDate, ' ', sizeof startDate);
    std::memset(&endDate, ' ', sizeof endDate);
    std::memset(&generationDate, ' ', sizeof generationDate);
}

void StoredKeyFields::CopyPlainValues(const StoredKeyFields& other)
{
    startDate = other.startDate;
    endDate = other.endDate;
    derive = other.derive;
    local = other.local;
    keyGenMechanism = other.keyGenMechanism;
}

bool StoredKeyFields::RefreshBuffers(const StoredKeyFields& other)
{
    const bool idChanged = StoredObjectUtl::CopyIfDifferent(keyId, other.keyId);
    const bool subjectChanged = StoredObjectUtl::CopyIfDifferent(subject, other.subject);
    return idChanged || subjectChanged;
}

uint32_t StoredKeyFlags(std::initializer_list<std::pair<bool, unsigned>> bits)
{
    uint32_t word = 0;
    for (const auto& bit : bits) {
        if (bit.first) word |= 1u << bit.second;
    }
    return word;
}

StoredKeyRecords::StoredKeyRecords(uint32_t flags, const StoredKeyFields& fields, const tru::Buffer& label,
                                   uint16_t valueId, const tru::Buffer* value)
{
    AddU32(kFlagsRecordId, flags);
    AddU32(static_cast<uint16_t>(CKA_KEY_GEN_MECHANISM), static_cast<uint32_t>(fields.keyGenMechanism));
    if (value != nullptr) Add(valueId, value->Data(), value->Size());
    if (!label.Empty()) Add(static_cast<uint16_t>(CKA_LABEL), label.Data(), label.Size());
    if (!fields.keyId.Empty()) Add(static_cast<uint16_t>(CKA_ID), fields.keyId.Data(), fields.keyId.Size());
    if (!IsBlankDate(fields.startDate)) {
        Add(static_cast<uint16_t>(CKA_START_DATE), &fields.startDate, sizeof fields.startDate);
    }
    if (!IsBlankDate(fields.endDate)) Add(static_cast<uint16_t>(CKA_END_DATE), &fields.endDate, sizeof fields.endDate);
    if (!IsUnsetGenerationDate(fields.generationDate)) {
        Add(kGenerationDateRecordId, &fields.generationDate, sizeof fields.generationDate);
    }
    if (!fields.subject.Empty()) Add(static_cast<uint16_t>(CKA_SUBJECT), fields.subject.Data(), fields.subject.Size());
}

void StoredKeyRecords::WriteTo(TokenStorage& storage, long attributeFile) const
{
    std::vector<storage::Attribute> records;
    for (const Item& item : items_) {
        records.push_back(StoredObjectUtl::Record(item.id, item.value.data(), static_cast<uint32_t>(item.value.size())));
    }
    storage.WriteAttributeFile(attributeFile, records.data(), static_cast<unsigned>(records.size()));
}

void StoredKeyRecords::Add(uint16_t id, const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    items_.push_back({id, std::vector<uint8_t>(bytes, bytes + size)});
}

void StoredKeyRecords::AddU32(uint16_t id, uint32_t value)
{
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    Add(id, bytes, sizeof bytes);
}

void ReadStoredKeyAttributes(zrck::TokKey& key, const TokenStoredObject& stored, StoredKeyFields& fields,
                             CK_OBJECT_CLASS objectClass,
                             std::initializer_list<std::pair<CK_ATTRIBUTE_TYPE, bool>> defaultsWithoutFlags)
{
    std::vector<storage::AttributeBuff> records;
    zrck::AttributeTemplate attributes;
    StoredObjectUtl::ReadTemplate(key, stored, objectClass, records, attributes);

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
        // A record of another length is read no further than its end; the rest stays blank.
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

void StoredPrivateFlags::SetSensitive(CK_BBOOL value)
{
    if (sensitive && !value) throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY);
    sensitive = value;
}

void StoredPrivateFlags::SetAlwaysSensitive(CK_BBOOL value)
{
    alwaysSensitive = value;
    if (value) sensitive = CK_TRUE;
}

void StoredPrivateFlags::MarkGenerated()
{
    sensitive = CK_TRUE;
    alwaysSensitive = CK_TRUE;
    extractable = CK_FALSE;
    neverExtractable = CK_TRUE;
}

uint32_t StoredPrivateFlags::Word(bool modifiable, bool copyable, const StoredKeyFields& fields) const
{
    return StoredKeyFlags({{modifiable, 0}, {copyable, 1}, {fields.derive != 0, 3}, {sensitive != 0, 8},
                           {decrypt != 0, 9}, {sign != 0, 10}, {signRecover != 0, 11}, {unwrap != 0, 12},
                           {extractable != 0, 13}, {alwaysSensitive != 0, 14}, {neverExtractable != 0, 15},
                           {wrapWithTrusted != 0, 16}, {alwaysAuthenticate != 0, 17}, {fields.local != 0, 18}});
}

uint32_t StoredPublicFlags::Word(bool modifiable, bool copyable, const StoredKeyFields& fields) const
{
    return StoredKeyFlags({{modifiable, 0}, {copyable, 1}, {trusted != 0, 2}, {fields.derive != 0, 3},
                           {encrypt != 0, 4}, {verify != 0, 5}, {verifyRecover != 0, 6}, {wrap != 0, 7},
                           {fields.local != 0, 18}});
}

void ThrowKeyWithoutAlgorithmId()
{
    throw zrck::Exception(CKR_FUNCTION_FAILED, "public key is not linked with a public key algorithm id");
}

void StartStoredCopy(zrck::TokStorageObject& copy, TokenStoredObject& copyStored,
                     const zrck::TokStorageObject& source, const TokenStoredObject& sourceStored)
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

std::string StoredKeyText(const zrck::TokObject& object, const TokenStoredObject& stored, const tru::Buffer& keyId)
{
    char head[64];
    std::snprintf(head, sizeof head, "[This: %08lX, Handle: %lX",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&object)),
                  static_cast<unsigned long>(object.GetHandle()));
    const tru::Buffer& label = stored.GetLabelStored();
    return std::string(object.GetObjectClassName()) + head + ", Label=\"" +
           std::string(reinterpret_cast<const char*>(label.Data()), label.Size()) + "\", KeyID: " +
           StoredObjectUtl::HexId(keyId) + StoredObjectUtl::StorageIdText(stored) + "]";
}

}  // namespace qel

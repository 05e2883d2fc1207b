#include "driver/stored_key.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ckbase/exception.h"
#include "driver/storage_types.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "driver/token_stored_object.h"
#include "objects/object_text.h"
#include "objects/tok_key.h"

namespace qel {

namespace {


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

StoredKeyRecords::StoredKeyRecords(uint32_t flags, const StoredKeyFields& fields, const tru::Buffer& label,
                                   uint16_t valueId, const tru::Buffer* value)
{
    AddU32(tokattr::kFlags, flags);
    AddU32(static_cast<uint16_t>(CKA_KEY_GEN_MECHANISM), static_cast<uint32_t>(fields.keyGenMechanism));
    if (value != nullptr) Add(valueId, *value);
    AddIfAny(static_cast<uint16_t>(CKA_LABEL), label);
    AddIfAny(static_cast<uint16_t>(CKA_ID), fields.keyId);
    AddDateIfSet(static_cast<uint16_t>(CKA_START_DATE), fields.startDate);
    AddDateIfSet(static_cast<uint16_t>(CKA_END_DATE), fields.endDate);
    if (!IsUnsetGenerationDate(fields.generationDate)) {
        Add(tokattr::kKeyGenerationDate, &fields.generationDate, sizeof fields.generationDate);
    }
    AddIfAny(static_cast<uint16_t>(CKA_SUBJECT), fields.subject);
}

void ReadStoredKeyAttributes(zrck::TokKey& key, const TokenStoredObject& stored, CK_OBJECT_CLASS objectClass,
                             std::initializer_list<std::pair<CK_ATTRIBUTE_TYPE, bool>> defaultsWithoutFlags,
                             const StoredKeyReading& how)
{
    std::vector<storage::AttributeBuff> records;
    zrck::AttributeTemplate attributes;
    StoredObjectUtl::ReadTemplate(key, stored, objectClass, records, attributes);

    if (zrck::Attribute* local = attributes.GetAttributeIfExists(CKA_LOCAL)) {
        key.SetLocal(local->GetAsBool() ? CK_TRUE : CK_FALSE);
        local->mProcessed = 1;
    }
    if (zrck::Attribute* mechanism = attributes.GetAttributeIfExists(CKA_KEY_GEN_MECHANISM)) {
        if (mechanism->GetLength() == 4) {
            const auto* b = static_cast<const uint8_t*>(mechanism->GetValue());
            key.SetKeyGenMechanism(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
        } else if (how.mechanismAsULong && mechanism->GetLength() == sizeof(CK_ULONG)) {
            key.SetKeyGenMechanism(mechanism->GetAsULong());
        } else {
            throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        mechanism->mProcessed = 1;
    }
    // Copied now: adding the defaults below may move the template's entries.
    if (zrck::Attribute* generationDate = attributes.GetAttributeIfExists(CKA_ZR_KEY_GENERATION_DATE)) {
        generationDate->mProcessed = 1;
        const size_t length = generationDate->GetLength();
        if (!how.exactGenerationDate || length == sizeof(CK_ZR_DATETIME)) {
            CK_ZR_DATETIME date;
            std::memset(&date, ' ', sizeof date);
            const size_t used = std::min<size_t>(length, sizeof date);
            if (used != 0 && generationDate->GetValue() != nullptr) std::memcpy(&date, generationDate->GetValue(), used);
            key.SetGenerationDate(date);
        }
    }

    // The flags word always yields CKA_MODIFIABLE.
    const bool hasFlags = attributes.GetAttributeIfExists(CKA_MODIFIABLE) != nullptr;
    std::vector<zrck::Attribute> defaults(defaultsWithoutFlags.size());
    size_t i = 0;
    for (const auto& entry : defaultsWithoutFlags) {
        defaults[i++].SetupOwnBool(entry.first, hasFlags ? false : entry.second);
    }
    attributes.AddAttributesIfNotExist(defaults.data(), defaults.size());

    if (how.beforeSetup) how.beforeSetup(attributes);
    key.SetupAttributes(how.token, attributes);
}

uint32_t StoredPrivateKeyFlags(const zrck::PrivateKeyFlags& flags, const StoredKeyFields& fields, bool modifiable,
                               bool copyable)
{
    return StoredObjectUtl::FlagWord(
        {{modifiable, 0}, {copyable, 1}, {fields.derive != 0, 3}, {flags.sensitive != 0, 8}, {flags.decrypt != 0, 9},
         {flags.sign != 0, 10}, {flags.signRecover != 0, 11}, {flags.unwrap != 0, 12}, {flags.extractable != 0, 13},
         {flags.alwaysSensitive != 0, 14}, {flags.neverExtractable != 0, 15}, {flags.wrapWithTrusted != 0, 16},
         {flags.alwaysAuthenticate != 0, 17}, {fields.local != 0, 18}});
}

uint32_t StoredPublicKeyFlags(const zrck::PublicKeyFlags& flags, const StoredKeyFields& fields, bool modifiable,
                              bool copyable)
{
    return StoredObjectUtl::FlagWord({{modifiable, 0}, {copyable, 1}, {flags.trusted != 0, 2}, {fields.derive != 0, 3},
                                      {flags.encrypt != 0, 4}, {flags.verify != 0, 5}, {flags.verifyRecover != 0, 6},
                                      {flags.wrap != 0, 7}, {fields.local != 0, 18}});
}

void StartStoredCopy(zrck::TokStorageObject& copy, TokenStoredObject& copyStored,
                     const zrck::TokStorageObject& source, const TokenStoredObject& sourceStored, CopyFiles files)
{
    copy.SetCopyMode(zrck::TokStorageObject::COPY_MODE);
    copy.SetTokenPtr(source.GetTokenPtr());
    copy.SetOwnerSession(source.GetOwnerSession());
    const zrck::TokObject::ObjectLifeTimeEnum lifeTime = source.GetLifeTime();
    copy.SetLifeTime(lifeTime == zrck::TokObject::LIFETIME_FIXED || lifeTime == zrck::TokObject::LIFETIME_MECHANISM
                         ? zrck::TokObject::LIFETIME_TOKEN
                         : lifeTime);
    copy.SetVisibility(source.GetVisibility());
    if (files == CopyFiles::Same) {
        copyStored.SetObjectFile(sourceStored.GetObjectFile());
        copyStored.SetAttributeFile(sourceStored.GetAttributeFile());
    }
    copyStored.SetModifiableStored(sourceStored.IsModifiableStored());
    copyStored.SetCopyableStored(sourceStored.IsCopyableStored());
    copyStored.SetLabelStored(sourceStored.GetLabelStored());
}

void CarryValueToCopy(LazyData& copy, LazyData& source, const zrck::TokObject& sourceObject)
{
    if (source.GetFileId() != 0 && !source.IsLoaded() && !source.IsSet()) {
        StoredObjectUtl::FollowOwnerRecord(source, sourceObject);
        copy.CopyData(source, StoredObjectUtl::StorageOf(sourceObject));
    } else {
        copy.RefreshData(source);
    }
}

uint32_t StoredSecretKeyFlags(const zrck::SecretKeyFlags& flags, const StoredKeyFields& fields, bool modifiable,
                              bool copyable, bool keepsWrapWithTrusted)
{
    return StoredObjectUtl::FlagWord({{modifiable, 0}, {copyable, 1}, {flags.trusted != 0, 2}, {fields.derive != 0, 3},
                           {flags.encrypt != 0, 4}, {flags.verify != 0, 5}, {flags.wrap != 0, 7},
                           {flags.sensitive != 0, 8}, {flags.decrypt != 0, 9}, {flags.sign != 0, 10},
                           {flags.unwrap != 0, 12}, {flags.extractable != 0, 13}, {flags.alwaysSensitive != 0, 14},
                           {flags.neverExtractable != 0, 15},
                           {keepsWrapWithTrusted && flags.wrapWithTrusted != 0, 16}, {fields.local != 0, 18}});
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
           zrck::HexId(keyId) + StoredObjectUtl::StorageIdText(stored) + "]";
}

}  // namespace qel

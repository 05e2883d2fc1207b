#include "driver/stored_object_utl.h"

#include <cstdio>

#include "ckbase/exception.h"
#include "driver/lazy_data.h"
#include "driver/qel_token.h"
#include "driver/token_storage.h"
#include "driver/token_stored_object.h"
#include "objects/attribute_value.h"
#include "objects/kept_key.h"
#include "objects/object_text.h"
#include "support/vdk_exception.h"

namespace qel {

TokenStorage* StoredObjectUtl::StorageOf(const zrck::TokObject& object) {
    return Token::ExtractStorage(object.GetTokenPtr());
}

void StoredObjectUtl::ReserveFilesIfNone(const zrck::TokObject& object, TokenStoredObject& stored, uint16_t itemType) {
    if (stored.GetObjectFile() != 0) return;
    long objectFile = 0;
    long attributeFile = 0;
    const EVisibility visibility =
        object.GetVisibility() == zrck::TokObject::VISIBILITY_PRIVATE ? PrivateObject : PublicObject;
    StorageOf(object)->ReserveNewObject(itemType, visibility, objectFile, attributeFile);
    stored.SetObjectFile(objectFile);
    stored.SetAttributeFile(attributeFile);
}

storage::Attribute StoredObjectUtl::Record(uint16_t id, const void* value, uint32_t length) {
    return storage::Attribute{id, value, vdk::SizeToUShortDynamic(length)};
}

storage::Attribute StoredObjectUtl::Record(uint16_t id, const tru::Buffer& value) {
    return Record(id, value.Data(), value.Size());
}

void StoredObjectUtl::ReadTemplate(const zrck::TokObject& object, const TokenStoredObject& stored,
                                   CK_OBJECT_CLASS objectClass, std::vector<storage::AttributeBuff>& records,
                                   zrck::AttributeTemplate& attributes) {
    StorageOf(object)->ReadAttributeFile(stored.GetAttributeFile(), records);
    Token::ConvertAttributesFromToken(objectClass, records, attributes, &object);
}

std::string StoredObjectUtl::StorageIdText(const TokenStoredObject& stored) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(stored.GetStorageID()));
    return std::string(", StorageID: 0x") + text;
}

void StoredObjectUtl::CopyBuffer(tru::BufferDynamic& target, const tru::Buffer& source) {
    zrck::CopyKeyBuffer(target, source);
}

bool StoredObjectUtl::CopyIfDifferent(tru::BufferDynamic& target, const tru::Buffer& source) {
    return zrck::CopyKeyBufferIfDifferent(target, source);
}

uint32_t StoredObjectUtl::FlagWord(std::initializer_list<std::pair<bool, unsigned>> bits) {
    uint32_t word = 0;
    for (const auto& bit : bits) {
        if (bit.first) word |= 1u << bit.second;
    }
    return word;
}

uint32_t StoredObjectUtl::StorageFlags(const TokenStoredObject& stored) {
    return FlagWord({{stored.IsModifiableStored(), 0}, {stored.IsCopyableStored(), 1}});
}

bool StoredObjectUtl::ApplyStorageRecord(zrck::TokStorageObject& object, const zrck::Attribute& entry) {
    switch (entry.GetType()) {
        case CKA_LABEL: object.SetLabel(zrck::ReadBytes(entry)); return true;
        case CKA_MODIFIABLE: object.SetModifiable(entry.GetAsBool()); return true;
        case CKA_COPYABLE: object.SetCopyable(entry.GetAsBool()); return true;
        default: return false;
    }
}

const tru::Buffer& StoredObjectUtl::ValueOf(LazyData& value, const zrck::TokObject& owner) {
    if (value.IsLoaded() || value.IsSet() || value.GetFileId() == 0) return value.GetBuffer();
    FollowOwnerRecord(value, owner);
    return value.GetData(StorageOf(owner));
}

void StoredObjectUtl::FollowOwnerRecord(LazyData& value, const zrck::TokObject& owner) {
    if (const auto* stored = dynamic_cast<const TokenStoredObject*>(&owner)) {
        value.FollowAttributeFile(stored->GetAttributeFile());
    }
}

std::string StoredObjectUtl::ObjectText(const zrck::TokObject& object, const TokenStoredObject& stored,
                                        const char* idName, const tru::Buffer& id) {
    return zrck::ObjectText(object, stored.GetLabelStored(), idName, id, StorageIdText(stored));
}

void StoredRecords::Add(uint16_t id, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    items_.push_back({id, size != 0 ? std::vector<uint8_t>(bytes, bytes + size) : std::vector<uint8_t>()});
}

void StoredRecords::AddIfAny(uint16_t id, const tru::Buffer& value) {
    if (!value.Empty()) Add(id, value);
}

void StoredRecords::AddU32(uint16_t id, uint32_t value) {
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    Add(id, bytes, sizeof bytes);
}

void StoredRecords::AddDateIfSet(uint16_t id, const CK_DATE& date) {
    if (!zrck::IsBlankDate(date)) Add(id, &date, sizeof date);
}

void StoredRecords::WriteTo(TokenStorage& storage, long attributeFile) const {
    std::vector<storage::Attribute> records;
    for (const Item& item : items_) {
        records.push_back(StoredObjectUtl::Record(item.id, item.value.data(), static_cast<uint32_t>(item.value.size())));
    }
    storage.WriteAttributeFile(attributeFile, records.data(), static_cast<unsigned>(records.size()));
}

}  // namespace qel

#include "driver/stored_object_utl.h"

#include <cstdio>

#include "ckbase/exception.h"
#include "driver/qel_token.h"
#include "driver/token_storage.h"
#include "driver/token_stored_object.h"
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

std::string StoredObjectUtl::HexId(const tru::Buffer& id) {
    std::string hex = id.ToHex();
    if (hex.size() < 8) hex.insert(0, 8 - hex.size(), '0');
    return "0x" + hex;
}

std::string StoredObjectUtl::StorageIdText(const TokenStoredObject& stored) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(stored.GetStorageID()));
    return std::string(", StorageID: 0x") + text;
}

void StoredObjectUtl::CopyBuffer(tru::BufferDynamic& target, const tru::Buffer& source) {
    const tru::TResult rc = target.Set(source.Size(), source.Data());
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

bool StoredObjectUtl::CopyIfDifferent(tru::BufferDynamic& target, const tru::Buffer& source) {
    if (target.Size() == source.Size() && (source.Size() == 0 || target == source)) return false;
    CopyBuffer(target, source);
    return true;
}

}  // namespace qel

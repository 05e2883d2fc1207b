#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "ckbase/attribute.h"
#include "driver/storage_types.h"
#include "objects/tok_object.h"

namespace qel {

class LazyData;
class TokenStorage;
class TokenStoredObject;

// Helpers the stored object classes share when they write and read their token files.
class StoredObjectUtl {
public:
    StoredObjectUtl() = delete;

    // The owning token's storage; CKR_FUNCTION_FAILED for an object without a token.
    static TokenStorage* StorageOf(const zrck::TokObject& object);
    // Reserves the object's files when it has none yet (item type, visibility by CKA_PRIVATE).
    static void ReserveFilesIfNone(const zrck::TokObject& object, TokenStoredObject& stored, uint16_t itemType);
    // A record of a value; 16-bit length checked (vdk::Exception beyond 65535 bytes).
    static storage::Attribute Record(uint16_t id, const tru::Buffer& value);
    static storage::Attribute Record(uint16_t id, const void* value, uint32_t length);
    // Reads the attribute file and converts it to the class's attributes (see
    // Token::ConvertAttributesFromToken); the records keep the values alive.
    static void ReadTemplate(const zrck::TokObject& object, const TokenStoredObject& stored,
                             CK_OBJECT_CLASS objectClass, std::vector<storage::AttributeBuff>& records,
                             zrck::AttributeTemplate& attributes);
    // ", StorageID: 0x" and the storage ID in 8 upper-case hex digits.
    static std::string StorageIdText(const TokenStoredObject& stored);
    static void CopyBuffer(tru::BufferDynamic& target, const tru::Buffer& source);
    // A flags word: each pair sets its bit when the value is true.
    static uint32_t FlagWord(std::initializer_list<std::pair<bool, unsigned>> bits);
    // The flags word of an object with no flags of its own: modifiable bit 0, copyable bit 1.
    static uint32_t StorageFlags(const TokenStoredObject& stored);
    // Takes a CKA_LABEL, CKA_MODIFIABLE or CKA_COPYABLE record read back; false for any other.
    static bool ApplyStorageRecord(zrck::TokStorageObject& object, const zrck::Attribute& entry);
    // A value in memory needs no token; an unread one is read from its data file
    // (CKR_FUNCTION_FAILED without a token).
    static const tru::Buffer& ValueOf(LazyData& value, const zrck::TokObject& owner);
    // Binds a value judged by its object's index record to the attribute file the owner has now.
    static void FollowOwnerRecord(LazyData& value, const zrck::TokObject& owner);
    // "Class[This: ADDR, Handle: H, Label="...", <idName>: 0x...., StorageID: 0x........]".
    static std::string ObjectText(const zrck::TokObject& object, const TokenStoredObject& stored, const char* idName,
                                  const tru::Buffer& id);
    // Copies when the bytes differ; true when they did.
    static bool CopyIfDifferent(tru::BufferDynamic& target, const tru::Buffer& source);
};

// The records of an attribute file, in the order they are added. Values are copied, so the
// records stay valid until the file is written.
class StoredRecords {
public:
    void Add(uint16_t id, const void* data, size_t size);
    void Add(uint16_t id, const tru::Buffer& value) { Add(id, value.Data(), value.Size()); }
    // Nothing for an empty value.
    void AddIfAny(uint16_t id, const tru::Buffer& value);
    // 4 bytes, little-endian.
    void AddU32(uint16_t id, uint32_t value);
    // Nothing for a blank date (all spaces).
    void AddDateIfSet(uint16_t id, const CK_DATE& date);
    // Lengths above 65535 bytes: vdk::Exception before anything is written.
    void WriteTo(TokenStorage& storage, long attributeFile) const;

private:
    struct Item {
        uint16_t id;
        std::vector<uint8_t> value;
    };
    std::vector<Item> items_;
};

}  // namespace qel

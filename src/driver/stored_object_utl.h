#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ckbase/attribute.h"
#include "driver/storage_types.h"
#include "objects/tok_object.h"

namespace qel {

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
    // "0x" and the bytes in upper-case hex, at least 8 digits, zero-padded on the left.
    static std::string HexId(const tru::Buffer& id);
    // ", StorageID: 0x" and the storage ID in 8 upper-case hex digits.
    static std::string StorageIdText(const TokenStoredObject& stored);
    static void CopyBuffer(tru::BufferDynamic& target, const tru::Buffer& source);
    // Copies when the bytes differ; true when they did.
    static bool CopyIfDifferent(tru::BufferDynamic& target, const tru::Buffer& source);
};

}  // namespace qel

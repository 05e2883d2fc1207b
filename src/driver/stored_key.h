// What every key class kept in token files shares: the fields beside the class's own flags, the
// attribute-file records it writes, their reading back, and the one-line text form.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "cryptoki/zr_pkcs11.h"
#include "tru2/buffer.h"

namespace zrck {
class TokKey;
class TokObject;
}  // namespace zrck

namespace qel {

class TokenStorage;
class TokenStoredObject;

struct StoredKeyFields {
    StoredKeyFields();

    CK_DATE startDate;
    CK_DATE endDate;
    CK_BBOOL derive = CK_FALSE;
    CK_BBOOL local = CK_FALSE;
    CK_MECHANISM_TYPE keyGenMechanism = 0;
    tru::BufferDynamic keyId;
    tru::BufferDynamic subject;
    CK_ZR_DATETIME generationDate;

    // Copies the values a refresh takes unconditionally.
    void CopyPlainValues(const StoredKeyFields& other);
    // Copies key ID and subject; true when either differed.
    bool RefreshBuffers(const StoredKeyFields& other);
};

// The flags word of a key record: each pair sets its bit when the value is true.
uint32_t StoredKeyFlags(std::initializer_list<std::pair<bool, unsigned>> bits);

// The attribute-file records of a key, in the order they are written: flags word, key generation
// mechanism, the class's value record when it has one, label, ID, start and end date, generation
// date, subject. Values are copied, so the records stay valid until the file is written.
class StoredKeyRecords {
public:
    StoredKeyRecords(uint32_t flags, const StoredKeyFields& fields, const tru::Buffer& label,
                     uint16_t valueId = 0, const tru::Buffer* value = nullptr);
    // Lengths above 65535 bytes: vdk::Exception before anything is written.
    void WriteTo(TokenStorage& storage, long attributeFile) const;

private:
    struct Item {
        uint16_t id;
        std::vector<uint8_t> value;
    };
    void Add(uint16_t id, const void* data, size_t size);
    void AddU32(uint16_t id, uint32_t value);

    std::vector<Item> items_;
};

// Reads a key's attribute file back into the key: CKA_LOCAL, CKA_KEY_GEN_MECHANISM (4 bytes, else
// CKR_ATTRIBUTE_VALUE_INVALID) and the generation date directly, the rest through the key's set-up
// rules. The defaults apply only when the file has no flags word: with one, a flag it does not
// carry was stored false.
void ReadStoredKeyAttributes(zrck::TokKey& key, const TokenStoredObject& stored, StoredKeyFields& fields,
                             CK_OBJECT_CLASS objectClass,
                             std::initializer_list<std::pair<CK_ATTRIBUTE_TYPE, bool>> defaultsWithoutFlags);

// "Class[This: ADDR, Handle: H, Label="...", KeyID: 0x...., StorageID: 0x........]".
std::string StoredKeyText(const zrck::TokObject& object, const TokenStoredObject& stored, const tru::Buffer& keyId);

}  // namespace qel

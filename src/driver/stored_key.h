// What every key class kept in token files shares: the fields beside the class's own flags, the
// attribute-file records it writes, their reading back, and the one-line text form.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "ckbase/zr_pkcs11.h"
#include "driver/stored_object_utl.h"
#include "driver/token_stored_object.h"
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

// A key class kept in token files: Key is the object model's key class (private, public or
// secret key of one algorithm). Answers the storage-object and key accessors every stored key
// answers alike from the stored-object base and StoredKeyFields, and the text form.
template <class Key>
class StoredKey : public Key, public TokenStoredObject {
public:
    void InitDefaults() override {}
    CK_BBOOL IsModifiable() const override { return IsModifiableStored(); }
    void SetModifiable(bool modifiable) override { SetModifiableStored(modifiable); }
    const tru::Buffer& GetLabel() const override { return GetLabelStored(); }
    void SetLabel(const tru::Buffer& label) override { SetLabelStored(label); }
    std::string ToString() const override { return StoredKeyText(*this, *this, fields_.keyId); }

    const tru::Buffer& GetKeyID() const override { return fields_.keyId; }
    void SetKeyID(const tru::Buffer& id) override { StoredObjectUtl::CopyBuffer(fields_.keyId, id); }
    CK_DATE GetStartDate() const override { return fields_.startDate; }
    void SetStartDate(const CK_DATE& date) override { fields_.startDate = date; }
    CK_DATE GetEndDate() const override { return fields_.endDate; }
    void SetEndDate(const CK_DATE& date) override { fields_.endDate = date; }
    const CK_ZR_DATETIME* GetGenerationDate() const override { return &fields_.generationDate; }
    void SetGenerationDate(const CK_ZR_DATETIME& date) override { fields_.generationDate = date; }
    CK_BBOOL GetCouldDerive() const override { return fields_.derive; }
    void SetCouldDerive(CK_BBOOL value) override { fields_.derive = value; }
    CK_BBOOL GetLocal() const override { return fields_.local; }
    void SetLocal(CK_BBOOL value) override { fields_.local = value; }
    CK_MECHANISM_TYPE GetKeyGenMechanism() const override { return fields_.keyGenMechanism; }
    void SetKeyGenMechanism(CK_MECHANISM_TYPE type) override { fields_.keyGenMechanism = type; }

protected:
    StoredKeyFields fields_;
};

}  // namespace qel

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
class SessionFrame;
class TokKey;
class TokObject;
class TokStorageObject;
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

// The flags a stored private key keeps beside StoredKeyFields.
struct StoredPrivateFlags {
    CK_BBOOL sensitive = CK_FALSE;
    CK_BBOOL decrypt = CK_FALSE;
    CK_BBOOL sign = CK_FALSE;
    CK_BBOOL signRecover = CK_FALSE;
    CK_BBOOL unwrap = CK_FALSE;
    CK_BBOOL extractable = CK_FALSE;
    CK_BBOOL alwaysSensitive = CK_FALSE;
    CK_BBOOL neverExtractable = CK_FALSE;
    CK_BBOOL wrapWithTrusted = CK_FALSE;
    CK_BBOOL alwaysAuthenticate = CK_FALSE;

    // A sensitive key stays sensitive: CKR_ATTRIBUTE_READ_ONLY.
    void SetSensitive(CK_BBOOL value);
    // True also makes the key sensitive.
    void SetAlwaysSensitive(CK_BBOOL value);
    // Sensitive, always sensitive, not extractable, never extractable.
    void MarkGenerated();
    // The flags word: modifiable bit 0, copyable 1, derive 3, the flags 8 to 17, local 18.
    uint32_t Word(bool modifiable, bool copyable, const StoredKeyFields& fields) const;
};

// The flags a stored public key keeps beside StoredKeyFields.
struct StoredPublicFlags {
    CK_BBOOL encrypt = CK_FALSE;
    CK_BBOOL verify = CK_FALSE;
    CK_BBOOL verifyRecover = CK_FALSE;
    CK_BBOOL wrap = CK_FALSE;
    CK_BBOOL trusted = CK_FALSE;

    // The flags word: modifiable bit 0, copyable 1, trusted 2, derive 3, the usages 4 to 7, local 18.
    uint32_t Word(bool modifiable, bool copyable, const StoredKeyFields& fields) const;
};

// CKR_FUNCTION_FAILED: a stored public key is linked with no algorithm identifier.
[[noreturn]] void ThrowKeyWithoutAlgorithmId();

// A private key class kept in token files: the private-key accessors every stored private key
// answers alike. Private keys are never copied by value: CKA_COPYABLE reads false.
template <class Key>
class StoredPrivateKey : public StoredKey<Key> {
public:
    StoredPrivateKey() { this->SetCopyableStored(false); }

    CK_BBOOL IsCopyable() const override { return CK_FALSE; }
    void SetCopyable(bool) override {}
    CK_BBOOL GetIsExtractable() const override { return flags_.extractable; }

    const tru::Buffer& GetSubject() const override { return this->fields_.subject; }
    void SetSubject(const tru::Buffer& subject) override { StoredObjectUtl::CopyBuffer(this->fields_.subject, subject); }
    CK_BBOOL GetIsSensitive() const override { return flags_.sensitive; }
    void SetIsSensitive(CK_BBOOL value) override { flags_.SetSensitive(value); }
    CK_BBOOL GetCouldDecrypt() const override { return flags_.decrypt; }
    void SetCouldDecrypt(CK_BBOOL value) override { flags_.decrypt = value; }
    CK_BBOOL GetCouldSign() const override { return flags_.sign; }
    void SetCouldSign(CK_BBOOL value) override { flags_.sign = value; }
    CK_BBOOL GetCouldSignRecover() const override { return flags_.signRecover; }
    void SetCouldSignRecover(CK_BBOOL value) override { flags_.signRecover = value; }
    CK_BBOOL GetCouldUnwrap() const override { return flags_.unwrap; }
    void SetCouldUnwrap(CK_BBOOL value) override { flags_.unwrap = value; }
    void SetIsExtractable(CK_BBOOL value) override { flags_.extractable = value; }
    CK_BBOOL GetIsAlwaysSensitive() const override { return flags_.alwaysSensitive; }
    void SetIsAlwaysSensitive(CK_BBOOL value) override { flags_.SetAlwaysSensitive(value); }
    CK_BBOOL GetIsNeverExtractable() const override { return flags_.neverExtractable; }
    void SetIsNeverExtractable(CK_BBOOL value) override { flags_.neverExtractable = value; }
    // Kept as given, so that a stored false reads back false.
    CK_BBOOL GetCouldUnwrapOnlyWithTrusted() const override { return flags_.wrapWithTrusted; }
    void SetCouldUnwrapOnlyWithTrusted(CK_BBOOL value) override { flags_.wrapWithTrusted = value; }
    CK_BBOOL GetNeedAlwaysAuthenticate() const override { return flags_.alwaysAuthenticate; }
    void SetNeedAlwaysAuthenticate(CK_BBOOL value) override { flags_.alwaysAuthenticate = value; }
    tru::Buffer GetValueToWrap() override { return tru::Buffer(); }
    void AddDefaultSensitiveAttributes() override { flags_.sensitive = CK_TRUE; }
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession&) override { flags_.MarkGenerated(); }

protected:
    uint32_t FlagsWord() const { return flags_.Word(this->IsModifiable() != 0, false, this->fields_); }

    StoredPrivateFlags flags_;
};

// A public key class kept in token files: the public-key accessors every stored public key
// answers alike.
template <class Key>
class StoredPublicKey : public StoredKey<Key> {
public:
    CK_BBOOL IsCopyable() const override { return this->IsCopyableStored(); }
    void SetCopyable(bool copyable) override { this->SetCopyableStored(copyable); }

    const tru::Buffer& GetSubject() const override { return this->fields_.subject; }
    void SetSubject(const tru::Buffer& subject) override { StoredObjectUtl::CopyBuffer(this->fields_.subject, subject); }
    CK_BBOOL GetCouldEncrypt() const override { return flags_.encrypt; }
    void SetCouldEncrypt(CK_BBOOL value) override { flags_.encrypt = value; }
    CK_BBOOL GetCouldVerify() const override { return flags_.verify; }
    void SetCouldVerify(CK_BBOOL value) override { flags_.verify = value; }
    CK_BBOOL GetCouldVerifyRecover() const override { return flags_.verifyRecover; }
    void SetCouldVerifyRecover(CK_BBOOL value) override { flags_.verifyRecover = value; }
    CK_BBOOL GetCouldWrap() const override { return flags_.wrap; }
    void SetCouldWrap(CK_BBOOL value) override { flags_.wrap = value; }
    CK_BBOOL GetIsTrusted() const override { return flags_.trusted; }
    void SetIsTrusted(CK_BBOOL value) override { flags_.trusted = value; }
    // Not linked with an algorithm identifier: CKR_FUNCTION_FAILED.
    bool IsAlgOIDAcceptable(const char*, int) override { ThrowKeyWithoutAlgorithmId(); }

protected:
    uint32_t FlagsWord() const
    {
        return flags_.Word(this->IsModifiable() != 0, this->IsCopyable() != 0, this->fields_);
    }

    StoredPublicFlags flags_;
};

// What a copy of a stored object takes from its source before the source's values are
// refreshed into it: copy mode, token, owner session, lifetime (a fixed or mechanism object's
// copy is a token object), visibility, files, modifiable and copyable flags and label.
void StartStoredCopy(zrck::TokStorageObject& copy, TokenStoredObject& copyStored,
                     const zrck::TokStorageObject& source, const TokenStoredObject& sourceStored);

// Refreshes the label, then the one-way modifiable and copyable flags; true when the label changed.
bool RefreshStoredValues(TokenStoredObject& target, const TokenStoredObject& source);

// The owning token's storage, or null for an object without a token.
TokenStorage* StorageIfToken(const zrck::TokObject& object);

}  // namespace qel

// What every key class kept in token files shares: the fields beside the class's own flags, the
// attribute-file records it writes, their reading back, and the one-line text form.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "ckbase/zr_pkcs11.h"
#include "driver/lazy_data.h"
#include "driver/stored_object.h"
#include "driver/stored_object_utl.h"
#include "driver/token_stored_object.h"
#include "objects/kept_key.h"
#include "tru2/buffer.h"

namespace zrck {
class TokKey;
class TokObject;
class TokStorageObject;
class ObjectToken;
}  // namespace zrck

namespace qel {

class TokenStorage;
class TokenStoredObject;

// The values every stored key keeps beside its class's flags.
using StoredKeyFields = zrck::KeyFields;

// The attribute-file records of a key, in the order they are written: flags word, key generation
// mechanism, the class's value record when it has one, label, ID, start and end date, generation
// date, subject.
class StoredKeyRecords : public StoredRecords {
public:
    StoredKeyRecords(uint32_t flags, const StoredKeyFields& fields, const tru::Buffer& label,
                     uint16_t valueId = 0, const tru::Buffer* value = nullptr);
};

// How a key class reads its attribute file where the classes differ.
struct StoredKeyReading {
    // The key generation mechanism also from a record of a platform CK_ULONG.
    bool mechanismAsULong = false;
    // The generation date only from a record of its exact length; by default a record of
    // another length is read no further than its end and the rest stays blank.
    bool exactGenerationDate = false;
    // Passed to the key's set-up rules.
    zrck::ObjectToken* token = nullptr;
    // Runs on the template just before the set-up rules (a class's own records).
    std::function<void(zrck::AttributeTemplate&)> beforeSetup;
};

// Reads a key's attribute file back into the key: CKA_LOCAL, CKA_KEY_GEN_MECHANISM (4 bytes, else
// CKR_ATTRIBUTE_VALUE_INVALID) and the generation date directly, the rest through the key's set-up
// rules. The defaults apply only when the file has no flags word: with one, a flag it does not
// carry was stored false.
void ReadStoredKeyAttributes(zrck::TokKey& key, const TokenStoredObject& stored, CK_OBJECT_CLASS objectClass,
                             std::initializer_list<std::pair<CK_ATTRIBUTE_TYPE, bool>> defaultsWithoutFlags,
                             const StoredKeyReading& how = StoredKeyReading());

// "Class[This: ADDR, Handle: H, Label="...", KeyID: 0x...., StorageID: 0x........]".
std::string StoredKeyText(const zrck::TokObject& object, const TokenStoredObject& stored, const tru::Buffer& keyId);

// A key class kept in token files: Kept is the object model's key class with its values kept
// in the object (zrck::KeptKey or a class built on it). Adds the storage-object accessors and
// the text form.
template <class Kept>
class StoredKey : public StoredObject<Kept> {
public:
    std::string ToString() const override { return StoredKeyText(*this, *this, this->fields_.keyId); }
};

// The flags a stored private key keeps beside StoredKeyFields.
struct StoredPrivateFlags : zrck::SensitiveKeyFlags {
    CK_BBOOL signRecover = CK_FALSE;
    CK_BBOOL wrapWithTrusted = CK_FALSE;
    CK_BBOOL alwaysAuthenticate = CK_FALSE;

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
class StoredPrivateKey : public StoredKey<zrck::KeptSensitiveKey<Key, StoredPrivateFlags>> {
public:
    StoredPrivateKey() { this->SetCopyableStored(false); }

    CK_BBOOL IsCopyable() const override { return CK_FALSE; }
    void SetCopyable(bool) override {}

    const tru::Buffer& GetSubject() const override { return this->fields_.subject; }
    void SetSubject(const tru::Buffer& subject) override { StoredObjectUtl::CopyBuffer(this->fields_.subject, subject); }
    CK_BBOOL GetCouldSignRecover() const override { return this->flags_.signRecover; }
    void SetCouldSignRecover(CK_BBOOL value) override { this->flags_.signRecover = value; }
    // Kept as given, so that a stored false reads back false.
    CK_BBOOL GetCouldUnwrapOnlyWithTrusted() const override { return this->flags_.wrapWithTrusted; }
    void SetCouldUnwrapOnlyWithTrusted(CK_BBOOL value) override { this->flags_.wrapWithTrusted = value; }
    CK_BBOOL GetNeedAlwaysAuthenticate() const override { return this->flags_.alwaysAuthenticate; }
    void SetNeedAlwaysAuthenticate(CK_BBOOL value) override { this->flags_.alwaysAuthenticate = value; }
    tru::Buffer GetValueToWrap() override { return tru::Buffer(); }
    void AddDefaultSensitiveAttributes() override { this->flags_.sensitive = CK_TRUE; }
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession&) override { this->flags_.MarkGenerated(); }

protected:
    uint32_t FlagsWord() const { return this->flags_.Word(this->IsModifiable() != 0, false, this->fields_); }
};

// A public key class kept in token files: the public-key accessors every stored public key
// answers alike.
template <class Key>
class StoredPublicKey : public StoredKey<zrck::KeptKey<Key>> {
public:
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
// copy is a token object), visibility, modifiable and copyable flags and label; the files too
// unless the copy is to get files of its own when stored.
enum class CopyFiles { Same, OwnLater };
void StartStoredCopy(zrck::TokStorageObject& copy, TokenStoredObject& copyStored,
                     const zrck::TokStorageObject& source, const TokenStoredObject& sourceStored,
                     CopyFiles files = CopyFiles::Same);

// A copy with files of its own carries the value itself: read from the source's data file
// first when the source never read it.
void CarryValueToCopy(LazyData& copy, LazyData& source, const zrck::TokObject& sourceObject);

// The flags word of a secret key: modifiable bit 0, copyable 1, trusted 2, derive 3, encrypt 4,
// verify 5, wrap 7, sensitive 8, decrypt 9, sign 10, unwrap 12, extractable 13, always
// sensitive 14, never extractable 15, wrap with trusted 16 (for the classes that keep it),
// local 18.
uint32_t StoredSecretKeyFlags(const zrck::SecretKeyFlags& flags, const StoredKeyFields& fields, bool modifiable,
                              bool copyable, bool keepsWrapWithTrusted);

// Refreshes the label, then the one-way modifiable and copyable flags; true when the label changed.
bool RefreshStoredValues(TokenStoredObject& target, const TokenStoredObject& source);

// The owning token's storage, or null for an object without a token.
TokenStorage* StorageIfToken(const zrck::TokObject& object);

}  // namespace qel

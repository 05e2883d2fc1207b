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

// The flags word of a private key: modifiable bit 0, copyable 1, derive 3, sensitive 8, decrypt 9,
// sign 10, sign recover 11, unwrap 12, extractable 13, always sensitive 14, never extractable 15,
// wrap with trusted 16, always authenticate 17, local 18.
uint32_t StoredPrivateKeyFlags(const zrck::PrivateKeyFlags& flags, const StoredKeyFields& fields, bool modifiable,
                               bool copyable);
// The flags word of a public key: modifiable bit 0, copyable 1, trusted 2, derive 3, encrypt 4,
// verify 5, verify recover 6, wrap 7, local 18.
uint32_t StoredPublicKeyFlags(const zrck::PublicKeyFlags& flags, const StoredKeyFields& fields, bool modifiable,
                              bool copyable);

// A private key class kept in token files: Kept is zrck::KeptPrivateKey of the object model's
// class or a class built on it. Private keys are never copied by value: CKA_COPYABLE reads false.
template <class Kept>
class StoredPrivateKey : public StoredKey<Kept> {
public:
    StoredPrivateKey() { this->SetCopyableStored(false); }

    CK_BBOOL IsCopyable() const override { return CK_FALSE; }
    void SetCopyable(bool) override {}

    void AddDefaultSensitiveAttributes() override { this->flags_.sensitive = CK_TRUE; }
    void AddGeneratedSensitiveAttributes(const zrck::MechanismSession&) override { this->flags_.MarkGenerated(); }

protected:
    uint32_t FlagsWord() const
    {
        return StoredPrivateKeyFlags(this->flags_, this->fields_, this->IsModifiable() != 0, false);
    }
};

// A public key class kept in token files: Kept is zrck::KeptPublicKey of the object model's
// class or a class built on it.
template <class Kept>
class StoredPublicKey : public StoredKey<Kept> {
protected:
    uint32_t FlagsWord() const
    {
        return StoredPublicKeyFlags(this->flags_, this->fields_, this->IsModifiable() != 0, this->IsCopyable() != 0);
    }
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

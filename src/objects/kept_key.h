// Keys whose common values are kept in the object: the values every key class keeps alike
// (ID, dates, derive, local, key generation mechanism, generation date, subject), the flags of
// keys that may be sensitive with their rules, and the flags of private, public and secret keys.
#ifndef ZR_OBJECTS_KEPT_KEY_H
#define ZR_OBJECTS_KEPT_KEY_H

#include "objects/tok_key.h"
#include "tru2/buffer.h"

namespace zrck {

// The values every kept key has beside its class's flags. Dates start blank (spaces).
struct KeyFields {
    KeyFields();

    CK_DATE startDate;
    CK_DATE endDate;
    CK_BBOOL derive = CK_FALSE;
    CK_BBOOL local = CK_FALSE;
    CK_MECHANISM_TYPE keyGenMechanism = 0;
    tru::BufferDynamic keyId;
    tru::BufferDynamic subject;
    CK_ZR_DATETIME generationDate;

    // Copies the values a refresh takes unconditionally.
    void CopyPlainValues(const KeyFields& other);
    // Copies key ID and subject, each only when it differs; true when either did.
    bool RefreshBuffers(const KeyFields& other);
};

// Copies source into target; tru::Exception when memory runs out.
void CopyKeyBuffer(tru::BufferDynamic& target, const tru::Buffer& source);
// Copies when the bytes differ; true when they did.
bool CopyKeyBufferIfDifferent(tru::BufferDynamic& target, const tru::Buffer& source);

// Key is the object model's key class; answers its key accessors from KeyFields.
template <class Key>
class KeptKey : public Key {
public:
    const tru::Buffer& GetKeyID() const override { return fields_.keyId; }
    void SetKeyID(const tru::Buffer& id) override { CopyKeyBuffer(fields_.keyId, id); }
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
    KeyFields fields_;
};

// The flags every key that may be sensitive keeps (private and secret keys).
struct SensitiveKeyFlags {
    CK_BBOOL decrypt = CK_FALSE;
    CK_BBOOL unwrap = CK_FALSE;
    CK_BBOOL sign = CK_FALSE;
    CK_BBOOL sensitive = CK_FALSE;
    CK_BBOOL extractable = CK_FALSE;
    CK_BBOOL alwaysSensitive = CK_FALSE;
    CK_BBOOL neverExtractable = CK_FALSE;

    // Once sensitive, always: false is CKR_ATTRIBUTE_READ_ONLY.
    void SetSensitive(CK_BBOOL value);
    // True also makes the key sensitive.
    void SetAlwaysSensitive(CK_BBOOL value);
};

// The usage and sensitivity flags of a kept secret key.
struct SecretKeyFlags : SensitiveKeyFlags {
    CK_BBOOL encrypt = CK_FALSE;
    CK_BBOOL wrap = CK_FALSE;
    CK_BBOOL verify = CK_FALSE;
    CK_BBOOL wrapWithTrusted = CK_FALSE;
    CK_BBOOL trusted = CK_FALSE;
};

// Key is a private or secret key class of the object model, Flags its flags (built on
// SensitiveKeyFlags): the accessors of the flags every such key has.
template <class Key, class Flags>
class KeptSensitiveKey : public KeptKey<Key> {
public:
    CK_BBOOL GetIsExtractable() const override { return flags_.extractable; }
    void SetIsExtractable(CK_BBOOL value) override { flags_.extractable = value; }
    CK_BBOOL GetIsSensitive() const override { return flags_.sensitive; }
    void SetIsSensitive(CK_BBOOL value) override { flags_.SetSensitive(value); }
    CK_BBOOL GetCouldDecrypt() const override { return flags_.decrypt; }
    void SetCouldDecrypt(CK_BBOOL value) override { flags_.decrypt = value; }
    CK_BBOOL GetCouldSign() const override { return flags_.sign; }
    void SetCouldSign(CK_BBOOL value) override { flags_.sign = value; }
    CK_BBOOL GetCouldUnwrap() const override { return flags_.unwrap; }
    void SetCouldUnwrap(CK_BBOOL value) override { flags_.unwrap = value; }
    CK_BBOOL GetIsAlwaysSensitive() const override { return flags_.alwaysSensitive; }
    void SetIsAlwaysSensitive(CK_BBOOL value) override { flags_.SetAlwaysSensitive(value); }
    CK_BBOOL GetIsNeverExtractable() const override { return flags_.neverExtractable; }
    void SetIsNeverExtractable(CK_BBOOL value) override { flags_.neverExtractable = value; }

protected:
    Flags flags_;
};

// The flags a kept private key has beside SensitiveKeyFlags.
struct PrivateKeyFlags : SensitiveKeyFlags {
    CK_BBOOL signRecover = CK_FALSE;
    CK_BBOOL wrapWithTrusted = CK_FALSE;
    CK_BBOOL alwaysAuthenticate = CK_FALSE;

    // Sensitive, always sensitive, not extractable, never extractable.
    void MarkGenerated();
};

// The flags of a kept public key.
struct PublicKeyFlags {
    CK_BBOOL encrypt = CK_FALSE;
    CK_BBOOL verify = CK_FALSE;
    CK_BBOOL verifyRecover = CK_FALSE;
    CK_BBOOL wrap = CK_FALSE;
    CK_BBOOL trusted = CK_FALSE;
};

// Key is a private key class of the object model: the private-key accessors answered from
// PrivateKeyFlags and the subject of KeyFields. The value is never handed out for wrapping.
template <class Key>
class KeptPrivateKey : public KeptSensitiveKey<Key, PrivateKeyFlags> {
public:
    const tru::Buffer& GetSubject() const override { return this->fields_.subject; }
    void SetSubject(const tru::Buffer& subject) override { CopyKeyBuffer(this->fields_.subject, subject); }
    CK_BBOOL GetCouldSignRecover() const override { return this->flags_.signRecover; }
    void SetCouldSignRecover(CK_BBOOL value) override { this->flags_.signRecover = value; }
    CK_BBOOL GetCouldUnwrapOnlyWithTrusted() const override { return this->flags_.wrapWithTrusted; }
    // Kept as given, so that a stored false reads back false (the object model lets an update
    // only turn it on).
    void SetCouldUnwrapOnlyWithTrusted(CK_BBOOL value) override { this->flags_.wrapWithTrusted = value; }
    CK_BBOOL GetNeedAlwaysAuthenticate() const override { return this->flags_.alwaysAuthenticate; }
    void SetNeedAlwaysAuthenticate(CK_BBOOL value) override { this->flags_.alwaysAuthenticate = value; }
    tru::Buffer GetValueToWrap() override { return tru::Buffer(); }
};

// CKR_FUNCTION_FAILED: a kept public key is linked with no algorithm identifier.
[[noreturn]] void ThrowKeyWithoutAlgorithmId();

// Key is a public key class of the object model: the public-key accessors answered from
// PublicKeyFlags and the subject of KeyFields.
template <class Key>
class KeptPublicKey : public KeptKey<Key> {
public:
    const tru::Buffer& GetSubject() const override { return this->fields_.subject; }
    void SetSubject(const tru::Buffer& subject) override { CopyKeyBuffer(this->fields_.subject, subject); }
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
    bool IsAlgOIDAcceptable(const char*, int) override { ThrowKeyWithoutAlgorithmId(); }

protected:
    PublicKeyFlags flags_;
};

// CKR_ATTRIBUTE_TYPE_INVALID: the key class has no CKA_CHECK_VALUE.
[[noreturn]] void ThrowNoCheckValue();

// Key is a secret key class of the object model: the secret-key accessors answered from
// SecretKeyFlags and the subject of KeyFields. No CKA_CHECK_VALUE (CKR_ATTRIBUTE_TYPE_INVALID).
template <class Key>
class KeptSecretKey : public KeptSensitiveKey<Key, SecretKeyFlags> {
public:
    CK_BBOOL GetCouldEncrypt() const override { return this->flags_.encrypt; }
    void SetCouldEncrypt(CK_BBOOL value) override { this->flags_.encrypt = value; }
    CK_BBOOL GetCouldVerify() const override { return this->flags_.verify; }
    void SetCouldVerify(CK_BBOOL value) override { this->flags_.verify = value; }
    CK_BBOOL GetCouldWrap() const override { return this->flags_.wrap; }
    void SetCouldWrap(CK_BBOOL value) override { this->flags_.wrap = value; }
    const tru::Buffer& GetCheckValue() const override { ThrowNoCheckValue(); }
    void SetCheckValue(const tru::Buffer&) override { ThrowNoCheckValue(); }
    CK_BBOOL GetCouldWrapOnlyWithTrusted() const override { return this->flags_.wrapWithTrusted; }
    // Keeps the value given: a template's false stays false (the object model lets an update
    // only turn it on).
    void SetCouldWrapOnlyWithTrusted(CK_BBOOL value) override { this->flags_.wrapWithTrusted = value; }
    CK_BBOOL GetIsTrusted() const override { return this->flags_.trusted; }
    void SetIsTrusted(CK_BBOOL value) override { this->flags_.trusted = value; }
    tru::Buffer GetValueToWrap() override { return tru::Buffer(this->GetValue()); }
    void AddGeneratedSensitiveAttributes(const MechanismSession&) override {}

    const tru::Buffer& GetSubject() const { return this->fields_.subject; }
    void SetSubject(const tru::Buffer& subject) { CopyKeyBuffer(this->fields_.subject, subject); }

protected:
    // Every value of another key of the class but key ID and subject (the setter rules not applied).
    void CopyAttributesFrom(const KeptSecretKey& other)
    {
        this->fields_.CopyPlainValues(other.fields_);
        this->flags_ = other.flags_;
    }
    // Key ID and subject from another key, each only when it differs; true when one changed.
    bool CopyIdentityFrom(const KeptSecretKey& other) { return this->fields_.RefreshBuffers(other.fields_); }
};

}  // namespace zrck

#endif  // ZR_OBJECTS_KEPT_KEY_H

// The mechanism base: a read-only CKO_MECHANISM object and the operation interface, one virtual
// operation per Cryptoki function a mechanism can serve. Sessions run operations on clones.
#ifndef ZR_OBJECTS_TOK_MECHANISM_H
#define ZR_OBJECTS_TOK_MECHANISM_H

#include <utility>

#include "objects/mechanism_parameter.h"
#include "objects/mechanism_session.h"
#include "objects/tok_key.h"

namespace zrck {

class TokMechanism : public TokObject {
public:
    using KeyPointer = std::shared_ptr<TokObject>;
    using KeyPair = std::pair<KeyPointer, KeyPointer>;  // public key first

    // Object face.
    CK_OBJECT_CLASS GetClass() const override { return CKO_MECHANISM; }
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    ObjectLifeTimeEnum GetLifeTime() const override { return LIFETIME_MECHANISM; }
    void SetLifeTime(ObjectLifeTimeEnum) override {}
    ObjectVisibilityEnum GetVisibility() const override { return VISIBILITY_PUBLIC; }
    void SetVisibility(ObjectVisibilityEnum) override {}
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    TokObject* GenerateCopy() override;
    CK_RV FillAttribute(Attribute& attribute) override;
    void SetupAttribute(const Attribute& attribute) override;

    virtual CK_ULONG GetMinKeySize() const { return mMinKeySize; }
    virtual void SetMinKeySize(CK_ULONG size) { mMinKeySize = size; }
    virtual CK_ULONG GetMaxKeySize() const { return mMaxKeySize; }
    virtual void SetMaxKeySize(CK_ULONG size) { mMaxKeySize = size; }
    virtual void FillMechanismInfo(CK_MECHANISM_INFO* info) const;
    virtual void GetMechanismSessionState(tru::BufferDynamic& state);
    virtual void SetMechanismSessionState(MechanismSession& session, CryptoStateEnum kind, const tru::Buffer& state,
                                          TokKey* key);

    // Operation interface; the defaults throw CKR_MECHANISM_INVALID. Output calls return true
    // when done (or when a null output pointer asked for the length), false after storing the
    // needed length for a short buffer.
    virtual KeyPointer GenerateKey(MechanismSession& session, const MechanismParameter& parameter,
                                   AttributeTemplate& attributes);
    virtual KeyPair GenerateKeyPair(MechanismSession& session, const MechanismParameter& parameter,
                                    AttributeTemplate& publicAttributes, AttributeTemplate& privateAttributes);
    virtual KeyPointer DeriveKey(MechanismSession& session, MechanismParameter& parameter, TokPrivateKey& baseKey,
                                 AttributeTemplate& attributes);
    virtual KeyPointer DeriveKey(MechanismSession& session, MechanismParameter& parameter, TokPublicKey& baseKey,
                                 AttributeTemplate& attributes);
    virtual KeyPointer DeriveKey(MechanismSession& session, MechanismParameter& parameter, TokGenericSecretKey& baseKey,
                                 AttributeTemplate& attributes);
    virtual void EncryptInit(MechanismSession& session, const MechanismParameter& parameter, TokPublicKey& key);
    virtual void EncryptInit(MechanismSession& session, const MechanismParameter& parameter, TokSecretKey& key);
    virtual bool Encrypt(MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen);
    virtual bool EncryptUpdate(MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                               unsigned long* outLen);
    virtual bool EncryptFinal(MechanismSession& session, unsigned char* out, unsigned long* outLen);
    virtual void DecryptInit(MechanismSession& session, const MechanismParameter& parameter, TokPrivateKey& key);
    virtual void DecryptInit(MechanismSession& session, const MechanismParameter& parameter, TokSecretKey& key);
    virtual bool Decrypt(MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen);
    virtual bool DecryptUpdate(MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                               unsigned long* outLen);
    virtual bool DecryptFinal(MechanismSession& session, unsigned char* out, unsigned long* outLen);
    virtual void SignInit(MechanismSession& session, const MechanismParameter& parameter, TokPrivateKey& key);
    virtual bool IsSignNullDataAvailable() const { return false; }
    virtual void SignInit(MechanismSession& session, const MechanismParameter& parameter, TokSecretKey& key);
    virtual bool Sign(MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen);
    virtual void SignUpdate(MechanismSession& session, const tru::Buffer& data);
    virtual bool SignFinal(MechanismSession& session, unsigned char* out, unsigned long* outLen);
    virtual void VerifyInit(MechanismSession& session, const MechanismParameter& parameter, TokPublicKey& key);
    virtual void VerifyInit(MechanismSession& session, const MechanismParameter& parameter, TokSecretKey& key);
    virtual bool Verify(MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature);
    virtual void VerifyUpdate(MechanismSession& session, const tru::Buffer& data);
    virtual bool VerifyFinal(MechanismSession& session, const tru::Buffer& signature);
    virtual void SignRecoverInit(MechanismSession& session, const MechanismParameter& parameter, TokPrivateKey& key);
    virtual bool SignRecover(MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                             unsigned long* outLen);
    virtual void VerifyRecoverInit(MechanismSession& session, const MechanismParameter& parameter, TokPublicKey& key);
    virtual bool VerifyRecover(MechanismSession& session, const tru::Buffer& signature, unsigned char* out,
                               unsigned long* outLen);
    virtual bool IsDigestNullDataAvailable() const { return false; }
    virtual void DigestInit(MechanismSession& session, const MechanismParameter& parameter);
    virtual bool Digest(MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen);
    virtual void DigestUpdate(MechanismSession& session, const tru::Buffer& data);
    virtual bool DigestFinal(MechanismSession& session, unsigned char* out, unsigned long* outLen);
    virtual bool DigestEncryptUpdate(MechanismSession& session, TokMechanism& other, const tru::Buffer& data,
                                     unsigned char* out, unsigned long* outLen);
    virtual bool DecryptDigestUpdate(MechanismSession& session, TokMechanism& other, const tru::Buffer& data,
                                     unsigned char* out, unsigned long* outLen);
    virtual bool SignEncryptUpdate(MechanismSession& session, TokMechanism& other, const tru::Buffer& data,
                                   unsigned char* out, unsigned long* outLen);
    virtual bool DecryptVerifyUpdate(MechanismSession& session, TokMechanism& other, const tru::Buffer& data,
                                     unsigned char* out, unsigned long* outLen);
    virtual bool IsCustomWrapKeyExists() const { return false; }
    virtual bool WrapKey(MechanismSession& session, const MechanismParameter& parameter, TokKey* wrappingKey,
                         TokKey& key, unsigned char* out, unsigned long* outLen);
    virtual KeyPointer UnwrapKey(MechanismSession& session, const MechanismParameter& parameter, TokKey* unwrappingKey,
                                 const tru::Buffer& wrapped, AttributeTemplate& attributes);
    // Drops what the last operation left (key reference, context, pending bytes).
    virtual void FreeResources() = 0;
    // A new instance of the same class carrying type, sizes, flags and token, no state.
    virtual TokMechanism* Clone() const = 0;
    virtual void AssignAttributes(const TokMechanism& source);
    virtual void EnsureParameterEmpty(const MechanismParameter& parameter);
    virtual void SetParameter(const MechanismParameter& parameter) = 0;
    virtual void SetDefaultParameter() = 0;

    // Derived CKA_ALWAYS_SENSITIVE and CKA_NEVER_EXTRACTABLE from the base key and the new key.
    static void FillDerivedSensitivities(TokPrivateKey& baseKey, TokSecretKey& derivedKey);

    CK_MECHANISM_TYPE GetMechanismType() const { return mType; }
    CK_FLAGS GetFlags() const { return mFlags; }

protected:
    void SetMechanismType(CK_MECHANISM_TYPE type) { mType = type; }
    void SetFlags(CK_FLAGS flags) { mFlags = flags; }

private:
    CK_ULONG mMinKeySize = 0;
    CK_ULONG mMaxKeySize = 0;
    CK_FLAGS mFlags = 0;
    CK_MECHANISM_TYPE mType = 0;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_MECHANISM_H

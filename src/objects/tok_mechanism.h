// The mechanism base: a read-only CKO_MECHANISM object and the operation interface, one virtual
// operation per Cryptoki function a mechanism can serve. Sessions run operations on clones.
#ifndef ZR_OBJECTS_TOK_MECHANISM_H
#define ZR_OBJECTS_TOK_MECHANISM_H

#include <utility>

#include "objects/mechanism_parameter.h"
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
    void InitializeWithAttributes(Token* token, AttributeTemplate& attributes) override;
    void SetupAttributes(Token* token, AttributeTemplate& attributes) override;
    TokObject* GenerateCopy() override;
    CK_RV FillAttribute(Attribute& attribute) override;
    void SetupAttribute(const Attribute& attribute) override;

    virtual CK_ULONG GetMinKeySize() const { return mMinKeySize; }
    virtual void SetMinKeySize(CK_ULONG size) { mMinKeySize = size; }
    virtual CK_ULONG GetMaxKeySize() const { return mMaxKeySize; }
    virtual void SetMaxKeySize(CK_ULONG size) { mMaxKeySize = size; }
    virtual void FillMechanismInfo(CK_MECHANISM_INFO* info) const;
    virtual void GetMechanismSessionState(tru::BufferDynamic& state);
    virtual void SetMechanismSessionState(SessionFrame& session, CryptoStateEnum kind, const tru::Buffer& state,
                                          TokKey* key);

    // Operation interface; the defaults throw CKR_MECHANISM_INVALID. Output calls return true
    // when done (or when a null output pointer asked for the length), false after storing the
    // needed length for a short buffer.
    virtual KeyPointer GenerateKey(SessionFrame& session, const MechanismParameter& parameter,
                                   AttributeTemplate& attributes);
    virtual KeyPair GenerateKeyPair(SessionFrame& session, const MechanismParameter& parameter,
                                    AttributeTemplate& publicAttributes, AttributeTemplate& privateAttributes);
    virtual KeyPointer DeriveKey(SessionFrame& session, MechanismParameter& parameter, TokPrivateKey& baseKey,
                                 AttributeTemplate& attributes);
    virtual KeyPointer DeriveKey(SessionFrame& session, MechanismParameter& parameter, TokPublicKey& baseKey,
                                 AttributeTemplate& attributes);
    virtual KeyPointer DeriveKey(SessionFrame& session, MechanismParameter& parameter, TokGenericSecretKey& baseKey,
                                 AttributeTemplate& attributes);
    virtual void EncryptInit(SessionFrame& session, const MechanismParameter& parameter, TokPublicKey& key);
    virtual void EncryptInit(SessionFrame& session, const MechanismParameter& parameter, TokSecretKey& key);
    virtual bool Encrypt(SessionFrame& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen);
    virtual bool EncryptUpdate(SessionFrame& session, const tru::Buffer& data, unsigned char* out,
                               unsigned long* outLen);
    virtual bool EncryptFinal(SessionFrame& session, unsigned char* out, unsigned long* outLen);
    virtual void DecryptInit(SessionFrame& session, const MechanismParameter& parameter, TokPrivateKey& key);
    virtual void DecryptInit(SessionFrame& session, const MechanismParameter& parameter, TokSecretKey& key);
    virtual bool Decrypt(SessionFrame& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen);
    virtual bool DecryptUpdate(SessionFrame& session, const tru::Buffer& data, unsigned char* out,
                               unsigned long* outLen);
    virtual bool DecryptFinal(SessionFrame& session, unsigned char* out, unsigned long* outLen);
    virtual void SignInit(SessionFrame& session, const MechanismParameter& parameter, TokPrivateKey& key);
    virtual bool IsSignNullDataAvailable() const { return false; }
    virtual void SignInit(SessionFrame& session, const MechanismParameter& parameter, TokSecretKey& key);
    virtual bool Sign(SessionFrame& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen);
    virtual void SignUpdate(SessionFrame& session, const tru::Buffer& data);
    virtual bool SignFinal(SessionFrame& session, unsigned char* out, unsigned long* outLen);
    virtual void VerifyInit(SessionFrame& session, const MechanismParameter& parameter, TokPublicKey& key);
    virtual void VerifyInit(SessionFrame& session, const MechanismParameter& parameter, TokSecretKey& key);
    virtual bool Verify(SessionFrame& session, const tru::Buffer& data, const tru::Buffer& signature);
    virtual void VerifyUpdate(SessionFrame& session, const tru::Buffer& data);
    virtual bool VerifyFinal(SessionFrame& session, const tru::Buffer& signature);
    virtual void SignRecoverInit(SessionFrame& session, const MechanismParameter& parameter, TokPrivateKey& key);
    virtual bool SignRecover(SessionFrame& session, const tru::Buffer& data, unsigned char* out,
                             unsigned long* outLen);
    virtual void VerifyRecoverInit(SessionFrame& session, const MechanismParameter& parameter, TokPublicKey& key);
    virtual bool VerifyRecover(SessionFrame& session, const tru::Buffer& signature, unsigned char* out,
                               unsigned long* outLen);
    virtual bool IsDigestNullDataAvailable() const { return false; }
    virtual void DigestInit(SessionFrame& session, const MechanismParameter& parameter);
    virtual bool Digest(SessionFrame& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen);
    virtual void DigestUpdate(SessionFrame& session, const tru::Buffer& data);
    virtual bool DigestFinal(SessionFrame& session, unsigned char* out, unsigned long* outLen);
    virtual bool DigestEncryptUpdate(SessionFrame& session, TokMechanism& other, const tru::Buffer& data,
                                     unsigned char* out, unsigned long* outLen);
    virtual bool DecryptDigestUpdate(SessionFrame& session, TokMechanism& other, const tru::Buffer& data,
                                     unsigned char* out, unsigned long* outLen);
    virtual bool SignEncryptUpdate(SessionFrame& session, TokMechanism& other, const tru::Buffer& data,
                                   unsigned char* out, unsigned long* outLen);
    virtual bool DecryptVerifyUpdate(SessionFrame& session, TokMechanism& other, const tru::Buffer& data,
                                     unsigned char* out, unsigned long* outLen);
    virtual bool IsCustomWrapKeyExists() const { return false; }
    virtual bool WrapKey(SessionFrame& session, const MechanismParameter& parameter, TokKey* wrappingKey,
                         TokKey& key, unsigned char* out, unsigned long* outLen);
    virtual KeyPointer UnwrapKey(SessionFrame& session, const MechanismParameter& parameter, TokKey* unwrappingKey,
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

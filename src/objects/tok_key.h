// Key base classes: the attribute rules shared by all keys and by each key object class.
// Every value lives behind a virtual accessor that the concrete key classes implement.
#ifndef ZR_OBJECTS_TOK_KEY_H
#define ZR_OBJECTS_TOK_KEY_H

#include "objects/tok_object.h"

namespace zrck {

class TokKey : public TokStorageObject {
public:
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    CK_RV FillAttribute(Attribute& attribute) override;
    void SetupAttribute(const Attribute& attribute) override;
    void RegisterObject() override {}

    virtual CK_KEY_TYPE GetKeyType() const = 0;
    virtual const tru::Buffer& GetKeyID() const = 0;
    virtual void SetKeyID(const tru::Buffer& id) = 0;
    virtual CK_DATE GetStartDate() const = 0;
    virtual void SetStartDate(const CK_DATE& date) = 0;
    virtual CK_DATE GetEndDate() const = 0;
    virtual void SetEndDate(const CK_DATE& date) = 0;
    virtual bool IsGenerationDateSupported() const = 0;
    // Null when the key keeps no generation date.
    virtual const CK_ZR_DATETIME* GetGenerationDate() const = 0;
    virtual void SetGenerationDate(const CK_ZR_DATETIME& date) = 0;
    virtual bool IsGenerationUTCSupported() const = 0;
    virtual CK_BBOOL GetCouldDerive() const = 0;
    virtual void SetCouldDerive(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetLocal() const = 0;
    virtual void SetLocal(CK_BBOOL value) = 0;
    virtual CK_MECHANISM_TYPE GetKeyGenMechanism() const = 0;
    virtual void SetKeyGenMechanism(CK_MECHANISM_TYPE type) = 0;
    // An array of CK_MECHANISM_TYPE.
    virtual tru::Buffer GetAllowedMechanisms() const = 0;
    virtual bool IsMechanismAllowed(CK_MECHANISM_TYPE type) const = 0;
    virtual void AddDefaultUsageAttributes() = 0;
    virtual void GetKeyMark(tru::BufferDynamic& mark);
    virtual CK_BBOOL GetIsExtractable() const = 0;
};

// What private and secret keys share: the usages and the sensitivity of a value that stays on
// the token. The attribute rules stay with each key class.
class TokSensitiveKey : public TokKey {
public:
    virtual CK_BBOOL GetIsSensitive() const = 0;
    virtual void SetIsSensitive(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetCouldDecrypt() const = 0;
    virtual void SetCouldDecrypt(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetCouldSign() const = 0;
    virtual void SetCouldSign(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetCouldUnwrap() const = 0;
    virtual void SetCouldUnwrap(CK_BBOOL value) = 0;
    virtual void SetIsExtractable(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetIsAlwaysSensitive() const = 0;
    virtual void SetIsAlwaysSensitive(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetIsNeverExtractable() const = 0;
    virtual void SetIsNeverExtractable(CK_BBOOL value) = 0;
    virtual tru::Buffer GetValueToWrap() = 0;
    virtual void AddDefaultSensitiveAttributes() = 0;
    virtual void AddGeneratedSensitiveAttributes(const MechanismSession& session) = 0;
};

class TokPrivateKey : public TokSensitiveKey {
public:
    CK_OBJECT_CLASS GetClass() const override { return CKO_PRIVATE_KEY; }
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    CK_RV FillAttribute(Attribute& attribute) override;
    void SetupAttribute(const Attribute& attribute) override;

    virtual const tru::Buffer& GetSubject() const = 0;
    virtual void SetSubject(const tru::Buffer& subject) = 0;
    virtual CK_BBOOL GetCouldSignRecover() const = 0;
    virtual void SetCouldSignRecover(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetCouldUnwrapOnlyWithTrusted() const = 0;
    virtual void SetCouldUnwrapOnlyWithTrusted(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetNeedAlwaysAuthenticate() const = 0;
    virtual void SetNeedAlwaysAuthenticate(CK_BBOOL value) = 0;
};

class TokPublicKey : public TokKey {
public:
    CK_OBJECT_CLASS GetClass() const override { return CKO_PUBLIC_KEY; }
    CK_BBOOL GetIsExtractable() const override { return CK_TRUE; }
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    CK_RV FillAttribute(Attribute& attribute) override;
    void SetupAttribute(const Attribute& attribute) override;

    virtual const tru::Buffer& GetSubject() const = 0;
    virtual void SetSubject(const tru::Buffer& subject) = 0;
    virtual CK_BBOOL GetCouldEncrypt() const = 0;
    virtual void SetCouldEncrypt(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetCouldVerify() const = 0;
    virtual void SetCouldVerify(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetCouldVerifyRecover() const = 0;
    virtual void SetCouldVerifyRecover(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetCouldWrap() const = 0;
    virtual void SetCouldWrap(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetIsTrusted() const = 0;
    virtual void SetIsTrusted(CK_BBOOL value) = 0;
    virtual bool IsAlgOIDAcceptable(const char* oid, int length) = 0;
};

class TokSecretKey : public TokSensitiveKey {
public:
    CK_OBJECT_CLASS GetClass() const override { return CKO_SECRET_KEY; }
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    CK_RV FillAttribute(Attribute& attribute) override;
    void SetupAttribute(const Attribute& attribute) override;

    virtual CK_BBOOL GetCouldEncrypt() const = 0;
    virtual void SetCouldEncrypt(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetCouldVerify() const = 0;
    virtual void SetCouldVerify(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetCouldWrap() const = 0;
    virtual void SetCouldWrap(CK_BBOOL value) = 0;
    virtual const tru::Buffer& GetCheckValue() const = 0;
    virtual void SetCheckValue(const tru::Buffer& value) = 0;
    virtual CK_BBOOL GetCouldWrapOnlyWithTrusted() const = 0;
    virtual void SetCouldWrapOnlyWithTrusted(CK_BBOOL value) = 0;
    virtual CK_BBOOL GetIsTrusted() const = 0;
    virtual void SetIsTrusted(CK_BBOOL value) = 0;
    virtual bool IsKeySizeAcceptable(unsigned int bits) = 0;
};

class TokGenericSecretKey : public TokSecretKey {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    CK_KEY_TYPE GetKeyType() const override { return CKK_GENERIC_SECRET; }
    bool IsKeySizeAcceptable(unsigned int bits) override { return bits >= 1 && bits <= 0x200000; }
    tru::Buffer GetValueToWrap() override;
    CK_BBOOL GetCouldWrapOnlyWithTrusted() const override { return CK_FALSE; }
    CK_BBOOL GetIsTrusted() const override { return CK_FALSE; }
    void SetCouldEncrypt(CK_BBOOL) override {}
    void SetCouldWrapOnlyWithTrusted(CK_BBOOL) override {}
    void SetIsTrusted(CK_BBOOL) override {}
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override { return FillAll(attributes); }
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    CK_RV FillAttribute(Attribute& attribute) override;
    void SetupAttribute(const Attribute& attribute) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override { SetupAll(token, attributes); }
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;

    virtual const tru::Buffer& GetValue() const = 0;
    virtual void SetValue(const tru::Buffer& value) = 0;
    virtual CK_ULONG GetValueLen() const = 0;
    virtual void SetValueLen(CK_ULONG length) = 0;
};

// Shared creation rule of secret and private keys: attributes, then usage and sensitivity
// defaults where the template names none.
template <class Key>
void InitializeKeyWithAttributes(Key& key, ObjectToken* token, AttributeTemplate& attributes) {
    key.SetupAttributes(token, attributes);
    if (!attributes.HasUsageAttributes()) key.AddDefaultUsageAttributes();
    if (!attributes.HasSensitiveAttributes()) key.AddDefaultSensitiveAttributes();
}

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_KEY_H

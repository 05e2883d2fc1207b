// Attribute classes of GOST 28147-89 secret keys and S-box domain parameters.
#ifndef ZR_OBJECTS_TOK_UA_GOST_OBJECTS_H
#define ZR_OBJECTS_TOK_UA_GOST_OBJECTS_H

#include "objects/tok_domain_params.h"
#include "objects/tok_key.h"

namespace zrck {

class TokUAGostSecretKey : public TokSecretKey {
public:
    static const CK_ULONG VALUE_LENGTH = 32;

    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    // The value, its length and the S-box are fixed once the key exists.
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    // CKA_VALUE_LEN is never accepted: the length is always 32 bytes.
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    const char* GetObjectClassName() const override { return "TokUAGostSecretKey"; }
    CK_KEY_TYPE GetKeyType() const override { return CKK_GOST28147_NAT; }
    bool IsGenerationDateSupported() const override { return true; }
    bool IsGenerationUTCSupported() const override { return false; }
    bool IsKeySizeAcceptable(unsigned int bits) override { return bits == VALUE_LENGTH * 8; }

    // CKA_GOST_SBOXES as it was supplied.
    virtual const tru::Buffer& GetSBox() const = 0;
    virtual void SetSBox(const tru::Buffer& sBox) = 0;
    virtual const tru::Buffer& GetValue() const = 0;
    virtual void SetValue(const tru::Buffer& value) = 0;
};

class TokUAGostDomainParams : public TokDomainParams {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    const char* GetObjectClassName() const override { return "TokUAGostDomainParams"; }
    CK_KEY_TYPE GetKeyType() const override { return CKK_GOST28147_NAT; }

    virtual const tru::Buffer& GetID() const = 0;
    virtual void SetID(const tru::Buffer& id) = 0;
    virtual const tru::Buffer& GetSBox() const = 0;
    virtual void SetSBox(const tru::Buffer& sBox) = 0;

private:
    bool ApplyOwn(const Attribute& attribute);
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_UA_GOST_OBJECTS_H

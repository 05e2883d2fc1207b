// Attribute classes of EC (ECDSA) private and public keys.
#ifndef ZR_OBJECTS_TOK_ECDSA_KEYS_H
#define ZR_OBJECTS_TOK_ECDSA_KEYS_H

#include "objects/tok_key.h"

namespace zrck {

class TokECDsaPrivateKey : public TokPrivateKey {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    CK_KEY_TYPE GetKeyType() const override { return CKK_EC; }
    bool IsGenerationDateSupported() const override { return false; }
    bool IsGenerationUTCSupported() const override { return true; }
    const char* GetObjectClassName() const override { return "TokECDsaPrivateKey"; }
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;

    // The private scalar.
    virtual const tru::Buffer& GetValue() const = 0;
    virtual void SetValue(const tru::Buffer& value) = 0;
    virtual const tru::Buffer& GetECParams() const = 0;
    virtual void SetECParams(const tru::Buffer& params) = 0;
};

class TokECDsaPublicKey : public TokPublicKey {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    CK_KEY_TYPE GetKeyType() const override { return CKK_EC; }
    bool IsGenerationDateSupported() const override { return false; }
    bool IsGenerationUTCSupported() const override { return true; }
    const char* GetObjectClassName() const override { return "TokECDsaPublicKey"; }
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    // A non-empty CKA_EC_POINT is required; CKA_EC_PARAMS is not.
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;

    virtual const tru::Buffer& GetECPoint() const = 0;
    virtual void SetECPoint(const tru::Buffer& point) = 0;
    virtual const tru::Buffer& GetECParams() const = 0;
    virtual void SetECParams(const tru::Buffer& params) = 0;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_ECDSA_KEYS_H

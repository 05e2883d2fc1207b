// Attribute handling shared by the elliptic-curve keys (ECDSA and DSTU 4145): CKA_EC_PARAMS and
// CKA_VALUE of a private key, CKA_EC_PARAMS and CKA_EC_POINT of a public key. Both values are
// fixed once the key exists; neither is parsed here.
#ifndef ZR_OBJECTS_TOK_CURVE_KEYS_H
#define ZR_OBJECTS_TOK_CURVE_KEYS_H

#include "objects/tok_key.h"

namespace zrck {

class TokCurvePrivateKey : public TokPrivateKey {
public:
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;

    // The private value.
    virtual const tru::Buffer& GetValue() const = 0;
    virtual void SetValue(const tru::Buffer& value) = 0;
    virtual const tru::Buffer& GetECParams() const = 0;
    virtual void SetECParams(const tru::Buffer& params) = 0;
};

class TokCurvePublicKey : public TokPublicKey {
public:
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;

    // The DER OCTET STRING of the point.
    virtual const tru::Buffer& GetECPoint() const = 0;
    virtual void SetECPoint(const tru::Buffer& point) = 0;
    virtual const tru::Buffer& GetECParams() const = 0;
    virtual void SetECParams(const tru::Buffer& params) = 0;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_CURVE_KEYS_H

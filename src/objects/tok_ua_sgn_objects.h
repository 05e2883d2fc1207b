// Attribute classes of DSTU 4145 domain parameters, private keys and public keys. CKA_EC_PARAMS
// holds the DER curve parameters and CKA_EC_POINT the DER OCTET STRING of the point; neither
// is parsed here.
#ifndef ZR_OBJECTS_TOK_UA_SGN_OBJECTS_H
#define ZR_OBJECTS_TOK_UA_SGN_OBJECTS_H

#include "objects/tok_domain_params.h"
#include "objects/tok_curve_keys.h"

namespace zrck {

// Made by the token only, never from a template.
class TokUASgnDomainParams : public TokDomainParams {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate&) { return false; }

    CK_KEY_TYPE GetKeyType() const override { return CKK_DSTU4145; }
    bool IsObjectMeetConditions(const AttributeTemplate& search) const override;
    bool IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const override;
    CK_RV GetAttributes(AttributeTemplate& attributes) override;
    CK_RV UpdateAttributes(AttributeTemplate& attributes) override;
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    const char* GetObjectClassName() const override { return "TokUASgnDomainParams"; }

    virtual const tru::Buffer& GetECParams() const = 0;
    virtual void SetECParams(const tru::Buffer& params) = 0;
};

class TokUASgnPrivateKey : public TokCurvePrivateKey {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    CK_KEY_TYPE GetKeyType() const override { return CKK_DSTU4145; }
    // Adds CKA_SIGN true when missing; CKA_EC_PARAMS is required.
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    const char* GetObjectClassName() const override { return "TokUASgnPrivateKey"; }

    void AddDefaultAttributes(AttributeTemplate& attributes);
};

class TokUASgnPublicKey : public TokCurvePublicKey {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    CK_KEY_TYPE GetKeyType() const override { return CKK_DSTU4145; }
    // CKA_EC_PARAMS and CKA_EC_POINT are required.
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    // Adds CKA_VERIFY true when missing.
    void SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
    const char* GetObjectClassName() const override { return "TokUASgnPublicKey"; }

    void AddDefaultAttributes(AttributeTemplate& attributes);
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_UA_SGN_OBJECTS_H

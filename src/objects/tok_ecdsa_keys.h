// Attribute classes of EC (ECDSA) private and public keys.
#ifndef ZR_OBJECTS_TOK_ECDSA_KEYS_H
#define ZR_OBJECTS_TOK_ECDSA_KEYS_H

#include "objects/tok_curve_keys.h"

namespace zrck {

class TokECDsaPrivateKey : public TokCurvePrivateKey {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    CK_KEY_TYPE GetKeyType() const override { return CKK_EC; }
    bool IsGenerationDateSupported() const override { return false; }
    bool IsGenerationUTCSupported() const override { return true; }
    const char* GetObjectClassName() const override { return "TokECDsaPrivateKey"; }
};

class TokECDsaPublicKey : public TokCurvePublicKey {
public:
    static bool ClassCouldBeCreated(const AttributeTemplate& attributes);

    CK_KEY_TYPE GetKeyType() const override { return CKK_EC; }
    bool IsGenerationDateSupported() const override { return false; }
    bool IsGenerationUTCSupported() const override { return true; }
    const char* GetObjectClassName() const override { return "TokECDsaPublicKey"; }
    // A non-empty CKA_EC_POINT is required; CKA_EC_PARAMS is not.
    void InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) override;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_ECDSA_KEYS_H

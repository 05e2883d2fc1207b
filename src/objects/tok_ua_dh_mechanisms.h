// Abstract DSTU 4145 Diffie-Hellman key agreement (plain and cofactor): the parameter is a
// CK_ECDH1_DERIVE_PARAMS naming the GOST 34.311 key derivation; the base key a DSTU 4145
// private key.
#ifndef ZR_OBJECTS_TOK_UA_DH_MECHANISMS_H
#define ZR_OBJECTS_TOK_UA_DH_MECHANISMS_H

#include "objects/tok_mechanism.h"

namespace zrck {

class TokUADHDeriveMechanismBase : public TokMechanism {
public:
    using TokMechanism::DeriveKey;

    // The key when it is a CKK_DSTU4145 key, else CKR_KEY_TYPE_INCONSISTENT.
    static TokPrivateKey& VerifyKeyIsUASgn(TokPrivateKey& key);

    KeyPointer DeriveKey(MechanismSession& session, MechanismParameter& parameter, TokPrivateKey& baseKey,
                         AttributeTemplate& attributes) override = 0;
    KeyPointer DeriveKey(MechanismSession& session, MechanismParameter& parameter, TokPublicKey& baseKey,
                         AttributeTemplate& attributes) override = 0;
    // Required: a CK_ECDH1_DERIVE_PARAMS of the platform's size with kdf CKD_GOST34311_KDF;
    // a data pointer that is null with a non-zero length is refused. Every failure is
    // CKR_MECHANISM_PARAM_INVALID.
    void SetParameter(const MechanismParameter& parameter) override;
    void SetDefaultParameter() override {}

    virtual const tru::Buffer& GetSharedData() const = 0;
    virtual void SetSharedData(const tru::Buffer& data) = 0;
    virtual const tru::Buffer& GetPublicData() const = 0;
    virtual void SetPublicData(const tru::Buffer& data) = 0;

protected:
    // Texts of the three checks (the plain class names them, the cofactor class does not).
    struct ParameterTexts {
        const char* missing;
        const char* wrongSize;
        const char* wrongKdf;
    };
    virtual ParameterTexts GetParameterTexts() const = 0;
};

class TokUADHDeriveMechanism : public TokUADHDeriveMechanismBase {
public:
    const char* GetObjectClassName() const override { return "TokUADHDeriveMechanism"; }
    virtual KeyPointer CreateSecretKey() = 0;

protected:
    ParameterTexts GetParameterTexts() const override;
};

class TokUADHCofactorDeriveMechanism : public TokUADHDeriveMechanismBase {
public:
    const char* GetObjectClassName() const override { return "TokUADHCofactorDeriveMechanism"; }
    virtual KeyPointer CreateSecretKey(CK_KEY_TYPE keyType) = 0;

protected:
    ParameterTexts GetParameterTexts() const override;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_UA_DH_MECHANISMS_H

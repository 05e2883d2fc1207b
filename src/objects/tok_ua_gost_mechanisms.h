// Abstract GOST 28147-89 mechanisms: ECB, counter and CFB ciphers, the 4-byte MAC, key wrap
// and key generation. The concrete classes do the arithmetic.
#ifndef ZR_OBJECTS_TOK_UA_GOST_MECHANISMS_H
#define ZR_OBJECTS_TOK_UA_GOST_MECHANISMS_H

#include "objects/tok_mechanism.h"

namespace zrck {

// Encryption and decryption with a GOST 28147-89 key; ECB takes no parameter.
class TokUAGostEcbMechanism : public TokMechanism {
public:
    using TokMechanism::DecryptInit;
    using TokMechanism::EncryptInit;

    // The key when it is a GOST 28147-89 key, else CKR_KEY_TYPE_INCONSISTENT. The counter,
    // CFB and MAC mechanisms use the same check.
    static TokSecretKey& VerifyKey(TokSecretKey& key);

    const char* GetObjectClassName() const override { return "TokUAGostEcbMechanism"; }
    void SetParameter(const MechanismParameter&) override {}

    void EncryptInit(MechanismSession& session, const MechanismParameter& parameter, TokSecretKey& key) override = 0;
    bool Encrypt(MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override = 0;
    bool EncryptUpdate(MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override = 0;
    bool EncryptFinal(MechanismSession& session, unsigned char* out, unsigned long* outLen) override = 0;
    void DecryptInit(MechanismSession& session, const MechanismParameter& parameter, TokSecretKey& key) override = 0;
    bool Decrypt(MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override = 0;
    bool DecryptUpdate(MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override = 0;
    bool DecryptFinal(MechanismSession& session, unsigned char* out, unsigned long* outLen) override = 0;
};

// Counter and CFB modes: an optional CK_GOST28147_PARAMS, the 8-byte IV.
class TokUAGostIvMechanism : public TokUAGostEcbMechanism {
public:
    static const unsigned int IV_LENGTH = 8;

    // 8 bytes go to SetIV; no parameter gives an all-zero IV; another length is
    // CKR_MECHANISM_PARAM_INVALID.
    void SetParameter(const MechanismParameter& parameter) override;

    virtual const tru::Buffer& GetIV() const = 0;
    virtual void SetIV(const tru::Buffer& iv) = 0;
};

class TokUAGostCntMechanism : public TokUAGostIvMechanism {
public:
    const char* GetObjectClassName() const override { return "TokUAGostCntMechanism"; }
};

class TokUAGostCfbMechanism : public TokUAGostIvMechanism {
public:
    const char* GetObjectClassName() const override { return "TokUAGostCfbMechanism"; }
};

class TokUAGostMacMechanism : public TokMechanism {
public:
    using TokMechanism::SignInit;
    using TokMechanism::VerifyInit;

    const char* GetObjectClassName() const override { return "TokUAGostMacMechanism"; }
    void SetParameter(const MechanismParameter&) override {}
    void SetDefaultParameter() override {}

    void SignInit(MechanismSession& session, const MechanismParameter& parameter, TokSecretKey& key) override = 0;
    bool Sign(MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override = 0;
    void SignUpdate(MechanismSession& session, const tru::Buffer& data) override = 0;
    bool SignFinal(MechanismSession& session, unsigned char* out, unsigned long* outLen) override = 0;
    void VerifyInit(MechanismSession& session, const MechanismParameter& parameter, TokSecretKey& key) override = 0;
    bool Verify(MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature) override = 0;
    void VerifyUpdate(MechanismSession& session, const tru::Buffer& data) override = 0;
    bool VerifyFinal(MechanismSession& session, const tru::Buffer& signature) override = 0;
};

class TokUAGostWrapMechanism : public TokMechanism {
public:
    // The key when it is a GOST 28147-89 key, else CKR_KEY_TYPE_INCONSISTENT.
    static TokKey& VerifyKey(TokKey& key);

    const char* GetObjectClassName() const override { return "TokUAGostWrapMechanism"; }
    // Takes no parameter: any parameter pointer is CKR_MECHANISM_PARAM_INVALID.
    void SetParameter(const MechanismParameter& parameter) override;
    // Wraps and unwraps with a key of its own when none is given.
    bool IsCustomWrapKeyExists() const override { return true; }

    bool WrapKey(MechanismSession& session, const MechanismParameter& parameter, TokKey* wrappingKey, TokKey& key,
                 unsigned char* out, unsigned long* outLen) override = 0;
    KeyPointer UnwrapKey(MechanismSession& session, const MechanismParameter& parameter, TokKey* unwrappingKey,
                         const tru::Buffer& wrapped, AttributeTemplate& attributes) override = 0;
};

class TokUAGostKeyGenMechanism : public TokMechanism {
public:
    const char* GetObjectClassName() const override { return "TokUAGostKeyGenMechanism"; }
    KeyPointer GenerateKey(MechanismSession& session, const MechanismParameter& parameter,
                           AttributeTemplate& attributes) override = 0;
    // A new, empty key of the concrete class.
    virtual KeyPointer CreateSecretKey() = 0;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_UA_GOST_MECHANISMS_H

// Abstract ECDSA signature mechanisms and the EC key check. None takes a parameter: the
// concrete Inits call EnsureParameterEmpty, then TokECDsaUtl::VerifyKey.
#ifndef ZR_OBJECTS_TOK_ECDSA_MECHANISMS_H
#define ZR_OBJECTS_TOK_ECDSA_MECHANISMS_H

#include "objects/tok_mechanism.h"

namespace zrck {

class TokECDsaUtl {
public:
    TokECDsaUtl() = delete;
    // The key when it is a CKK_EC key, else CKR_KEY_TYPE_INCONSISTENT.
    static TokPublicKey& VerifyKey(TokPublicKey& key);
    static TokPrivateKey& VerifyKey(TokPrivateKey& key);
};

class TokECDsaSignMechanism : public TokMechanism {
public:
    using TokMechanism::SignInit;
    using TokMechanism::VerifyInit;

    const char* GetObjectClassName() const override { return "TokECDsaSignMechanism"; }
    void FreeResources() override {}
    void SetParameter(const MechanismParameter&) override {}
    void SetDefaultParameter() override {}

    void SignInit(MechanismSession& session, const MechanismParameter& parameter, TokPrivateKey& key) override = 0;
    bool Sign(MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override = 0;
    void VerifyInit(MechanismSession& session, const MechanismParameter& parameter, TokPublicKey& key) override = 0;
    bool Verify(MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature) override = 0;
};

// ECDSA over a SHA hash of the data, single- and multi-part.
class TokECDsaSignWithShaMechanism : public TokECDsaSignMechanism {
public:
    void SignUpdate(MechanismSession& session, const tru::Buffer& data) override = 0;
    bool SignFinal(MechanismSession& session, unsigned char* out, unsigned long* outLen) override = 0;
    void VerifyUpdate(MechanismSession& session, const tru::Buffer& data) override = 0;
    bool VerifyFinal(MechanismSession& session, const tru::Buffer& signature) override = 0;
};

class TokECDsaSignWithSha1Mechanism : public TokECDsaSignWithShaMechanism {
public:
    const char* GetObjectClassName() const override { return "TokECDsaSignWithSha1Mechanism"; }
};
class TokECDsaSignWithSha224Mechanism : public TokECDsaSignWithShaMechanism {
public:
    const char* GetObjectClassName() const override { return "TokECDsaSignWithSha224Mechanism"; }
};
class TokECDsaSignWithSha256Mechanism : public TokECDsaSignWithShaMechanism {
public:
    const char* GetObjectClassName() const override { return "TokECDsaSignWithSha256Mechanism"; }
};
class TokECDsaSignWithSha384Mechanism : public TokECDsaSignWithShaMechanism {
public:
    const char* GetObjectClassName() const override { return "TokECDsaSignWithSha384Mechanism"; }
};
class TokECDsaSignWithSha512Mechanism : public TokECDsaSignWithShaMechanism {
public:
    const char* GetObjectClassName() const override { return "TokECDsaSignWithSha512Mechanism"; }
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_ECDSA_MECHANISMS_H

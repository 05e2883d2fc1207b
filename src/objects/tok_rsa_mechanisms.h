// Abstract RSA mechanisms. The token performs the raw operation; the concrete classes pad,
// encode DigestInfo and hash on the host. None takes a parameter: the concrete Inits call
// EnsureParameterEmpty and check the key type themselves.
#ifndef ZR_OBJECTS_TOK_RSA_MECHANISMS_H
#define ZR_OBJECTS_TOK_RSA_MECHANISMS_H

#include "objects/tok_mechanism.h"

namespace zrck {

class TokRsaPkcs1v15Mechanism : public TokMechanism {
public:
    using TokMechanism::DecryptInit;
    using TokMechanism::EncryptInit;
    using TokMechanism::SignInit;
    using TokMechanism::VerifyInit;

    const char* GetObjectClassName() const override { return "TokRsaPkcs1v15Mechanism"; }
    void SetParameter(const MechanismParameter&) override {}
    void SetDefaultParameter() override {}

    void EncryptInit(MechanismSession& session, const MechanismParameter& parameter, TokPublicKey& key) override = 0;
    bool Encrypt(MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override = 0;
    void DecryptInit(MechanismSession& session, const MechanismParameter& parameter, TokPrivateKey& key) override = 0;
    bool Decrypt(MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override = 0;
    void SignInit(MechanismSession& session, const MechanismParameter& parameter, TokPrivateKey& key) override = 0;
    bool Sign(MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override = 0;
    void VerifyInit(MechanismSession& session, const MechanismParameter& parameter, TokPublicKey& key) override = 0;
    bool Verify(MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature) override = 0;
};

class TokRsaX509Mechanism : public TokRsaPkcs1v15Mechanism {
public:
    const char* GetObjectClassName() const override { return "TokRsaX509Mechanism"; }

    void SignRecoverInit(MechanismSession& session, const MechanismParameter& parameter, TokPrivateKey& key) override = 0;
    bool SignRecover(MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                     unsigned long* outLen) override = 0;
    void VerifyRecoverInit(MechanismSession& session, const MechanismParameter& parameter, TokPublicKey& key) override = 0;
    bool VerifyRecover(MechanismSession& session, const tru::Buffer& signature, unsigned char* out,
                       unsigned long* outLen) override = 0;
};

// Signatures over a SHA hash of the data, single- and multi-part.
class TokShaRsaPkcsMechanism : public TokMechanism {
public:
    using TokMechanism::SignInit;
    using TokMechanism::VerifyInit;

    void SetParameter(const MechanismParameter&) override {}
    void SetDefaultParameter() override {}

    void SignInit(MechanismSession& session, const MechanismParameter& parameter, TokPrivateKey& key) override = 0;
    bool Sign(MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override = 0;
    void SignUpdate(MechanismSession& session, const tru::Buffer& data) override = 0;
    bool SignFinal(MechanismSession& session, unsigned char* out, unsigned long* outLen) override = 0;
    void VerifyInit(MechanismSession& session, const MechanismParameter& parameter, TokPublicKey& key) override = 0;
    bool Verify(MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature) override = 0;
    void VerifyUpdate(MechanismSession& session, const tru::Buffer& data) override = 0;
    bool VerifyFinal(MechanismSession& session, const tru::Buffer& signature) override = 0;
};

class TokSha1RsaPkcsMechanism : public TokShaRsaPkcsMechanism {
public:
    const char* GetObjectClassName() const override { return "TokSha1RsaPkcsMechanism"; }
};
class TokSha224RsaPkcsMechanism : public TokShaRsaPkcsMechanism {
public:
    const char* GetObjectClassName() const override { return "TokSha224RsaPkcsMechanism"; }
};
class TokSha256RsaPkcsMechanism : public TokShaRsaPkcsMechanism {
public:
    const char* GetObjectClassName() const override { return "TokSha256RsaPkcsMechanism"; }
};
class TokSha384RsaPkcsMechanism : public TokShaRsaPkcsMechanism {
public:
    const char* GetObjectClassName() const override { return "TokSha384RsaPkcsMechanism"; }
};
class TokSha512RsaPkcsMechanism : public TokShaRsaPkcsMechanism {
public:
    const char* GetObjectClassName() const override { return "TokSha512RsaPkcsMechanism"; }
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_RSA_MECHANISMS_H

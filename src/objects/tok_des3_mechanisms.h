// Abstract Triple-DES CBC mechanisms and SHA-1 password-based Triple-DES key generation.
#ifndef ZR_OBJECTS_TOK_DES3_MECHANISMS_H
#define ZR_OBJECTS_TOK_DES3_MECHANISMS_H

#include "objects/tok_mechanism.h"

// The standard PKCS#11 password-based parameter, which p11-kit's header does not define.
typedef struct CK_PBE_PARAMS {
    CK_BYTE_PTR pInitVector;
    CK_UTF8CHAR_PTR pPassword;
    CK_ULONG ulPasswordLen;
    CK_BYTE_PTR pSalt;
    CK_ULONG ulSaltLen;
    CK_ULONG ulIteration;
} CK_PBE_PARAMS;
typedef CK_PBE_PARAMS* CK_PBE_PARAMS_PTR;

namespace zrck {

// CBC encryption and decryption with a required 8-byte IV parameter.
class TokDES3CbcModeMechanism : public TokMechanism {
public:
    using TokMechanism::DecryptInit;
    using TokMechanism::EncryptInit;

    static const unsigned int IV_LENGTH = 8;

    // The key when it is a CKK_DES3 key, else CKR_KEY_TYPE_INCONSISTENT.
    static TokSecretKey& VerifyKey(TokSecretKey& key);

    // Exactly 8 bytes, handed to SetIV; anything else is CKR_MECHANISM_PARAM_INVALID.
    void SetParameter(const MechanismParameter& parameter) override;
    void SetDefaultParameter() override {}
    virtual void SetIV(const tru::Buffer& iv) = 0;

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

class TokDES3CbcMechanism : public TokDES3CbcModeMechanism {
public:
    const char* GetObjectClassName() const override { return "TokDES3CbcMechanism"; }
};

class TokDES3CbcPadMechanism : public TokDES3CbcModeMechanism {
public:
    const char* GetObjectClassName() const override { return "TokDES3CbcPadMechanism"; }
};

class TokSha1PBE3DESEdeCbcKeyGenMechanism : public TokMechanism {
public:
    const char* GetObjectClassName() const override { return "TokSha1PBE3DESEdeCbcKeyGenMechanism"; }
    // A CK_PBE_PARAMS of the platform's size; an aligned copy goes to SetParams, whose
    // pointers stay the caller's for the running generation.
    void SetParameter(const MechanismParameter& parameter) override;
    void SetDefaultParameter() override {}

    virtual KeyPointer CreateSecretKey() = 0;
    virtual void SetParams(const CK_PBE_PARAMS* params) = 0;

private:
    CK_PBE_PARAMS mParams{};
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_DES3_MECHANISMS_H

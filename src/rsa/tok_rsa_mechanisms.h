// CKM_RSA_PKCS and CKM_RSA_X_509 with keys kept on the token: the token performs the raw RSA
// operation (the private key in its key slot, the public key sent as the device blob); the host
// builds and removes the PKCS#1 v1.5 blocks. Single-part calls only.
#pragma once

#include "objects/tok_rsa_mechanisms.h"
#include "rsa/rsa_key_binding.h"
#include "support/noncopyable.h"

namespace qel {

// The binding every raw-RSA mechanism does alike: encrypt, verify and verify-recover bind the
// public key, decrypt, sign and sign-recover the private key.
template <class Base>
class TokRsaRawMechanism : public Base, private vdk::Noncopyable {
public:
    using Base::DecryptInit;
    using Base::EncryptInit;
    using Base::SignInit;
    using Base::VerifyInit;

    CK_ULONG GetMinKeySize() const override { return RsaKeyBinding::MinKeySize(*this); }
    CK_ULONG GetMaxKeySize() const override { return RsaKeyBinding::MaxKeySize(*this); }
    void EncryptInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter, zrck::TokPublicKey& key) override
    {
        keys_.BindPublic(*this, parameter, key);
    }
    void VerifyInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter, zrck::TokPublicKey& key) override
    {
        keys_.BindPublic(*this, parameter, key);
    }
    void VerifyRecoverInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                           zrck::TokPublicKey& key) override
    {
        keys_.BindPublic(*this, parameter, key);
    }
    void DecryptInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter, zrck::TokPrivateKey& key) override
    {
        keys_.BindPrivate(*this, parameter, key);
    }
    void SignInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter, zrck::TokPrivateKey& key) override
    {
        keys_.BindPrivate(*this, parameter, key);
    }
    void SignRecoverInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                         zrck::TokPrivateKey& key) override
    {
        keys_.BindPrivate(*this, parameter, key);
    }
    void FreeResources() override { keys_.Forget(); }

protected:
    RsaKeyBinding keys_;
};

class TokRsaPkcs1v15Mechanism : public TokRsaRawMechanism<zrck::TokRsaPkcs1v15Mechanism> {
public:
    TokRsaPkcs1v15Mechanism();

    // Data of 1 to k - 11 bytes, checked before a length query is answered; the random padding
    // is drawn only when the block is really sent.
    bool Encrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    // Only a block of type 2 decrypts; every malformed block gives CKR_ENCRYPTED_DATA_INVALID.
    bool Decrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    bool Sign(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override;
    bool Verify(zrck::MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature) override;
    bool SignRecover(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                     unsigned long* outLen) override;
    // Only a block of type 1 is recovered; a malformed one gives CKR_SIGNATURE_INVALID.
    bool VerifyRecover(zrck::MechanismSession& session, const tru::Buffer& signature, unsigned char* out,
                       unsigned long* outLen) override;
    zrck::TokMechanism* Clone() const override;
};

class TokRsaX509Mechanism : public TokRsaRawMechanism<zrck::TokRsaX509Mechanism> {
public:
    TokRsaX509Mechanism();

    bool Encrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    bool Decrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    bool Sign(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override;
    bool Verify(zrck::MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature) override;
    bool SignRecover(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                     unsigned long* outLen) override;
    bool VerifyRecover(zrck::MechanismSession& session, const tru::Buffer& signature, unsigned char* out,
                       unsigned long* outLen) override;
    zrck::TokMechanism* Clone() const override;

private:
    // The raw public or private operation of the token on the input as it is, once its length
    // suits the kind of input.
    bool PublicOperation(RsaKeyBinding::Input kind, const tru::Buffer& input, unsigned char* out,
                         unsigned long* outLen);
    bool PrivateOperation(RsaKeyBinding::Input kind, const tru::Buffer& input, unsigned char* out,
                          unsigned long* outLen, bool sign);
};

}  // namespace qel

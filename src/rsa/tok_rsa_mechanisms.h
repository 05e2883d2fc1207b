// CKM_RSA_PKCS and CKM_RSA_X_509 with keys kept on the token: the token performs the raw RSA
// operation (the private key in its key slot, the public key sent as the device blob); the host
// builds and removes the PKCS#1 v1.5 blocks. Single-part calls only.
#pragma once

#include "objects/tok_rsa_mechanisms.h"
#include "rsa/rsa_key_binding.h"
#include "support/noncopyable.h"

namespace qel {

class TokRsaPkcs1v15Mechanism : public zrck::TokRsaPkcs1v15Mechanism, private vdk::Noncopyable {
public:
    using zrck::TokRsaPkcs1v15Mechanism::DecryptInit;
    using zrck::TokRsaPkcs1v15Mechanism::EncryptInit;
    using zrck::TokRsaPkcs1v15Mechanism::SignInit;
    using zrck::TokRsaPkcs1v15Mechanism::VerifyInit;

    TokRsaPkcs1v15Mechanism();

    CK_ULONG GetMinKeySize() const override { return RsaKeyBinding::MinKeySize(*this); }
    CK_ULONG GetMaxKeySize() const override { return RsaKeyBinding::MaxKeySize(*this); }
    void EncryptInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                     zrck::TokPublicKey& key) override;
    // Data of 1 to k - 11 bytes, checked before a length query is answered; the random padding
    // is drawn only when the block is really sent.
    bool Encrypt(zrck::SessionFrame& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    void DecryptInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                     zrck::TokPrivateKey& key) override;
    // Only a block of type 2 decrypts; every malformed block gives CKR_ENCRYPTED_DATA_INVALID.
    bool Decrypt(zrck::SessionFrame& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    void SignInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                  zrck::TokPrivateKey& key) override;
    bool Sign(zrck::SessionFrame& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override;
    void VerifyInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                    zrck::TokPublicKey& key) override;
    bool Verify(zrck::SessionFrame& session, const tru::Buffer& data, const tru::Buffer& signature) override;
    void SignRecoverInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                         zrck::TokPrivateKey& key) override;
    bool SignRecover(zrck::SessionFrame& session, const tru::Buffer& data, unsigned char* out,
                     unsigned long* outLen) override;
    void VerifyRecoverInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                           zrck::TokPublicKey& key) override;
    // Only a block of type 1 is recovered; a malformed one gives CKR_SIGNATURE_INVALID.
    bool VerifyRecover(zrck::SessionFrame& session, const tru::Buffer& signature, unsigned char* out,
                       unsigned long* outLen) override;
    void FreeResources() override { keys_.Forget(); }
    zrck::TokMechanism* Clone() const override;

private:
    RsaKeyBinding keys_;
};

class TokRsaX509Mechanism : public zrck::TokRsaX509Mechanism, private vdk::Noncopyable {
public:
    using zrck::TokRsaX509Mechanism::DecryptInit;
    using zrck::TokRsaX509Mechanism::EncryptInit;
    using zrck::TokRsaX509Mechanism::SignInit;
    using zrck::TokRsaX509Mechanism::VerifyInit;

    TokRsaX509Mechanism();

    CK_ULONG GetMinKeySize() const override { return RsaKeyBinding::MinKeySize(*this); }
    CK_ULONG GetMaxKeySize() const override { return RsaKeyBinding::MaxKeySize(*this); }
    void EncryptInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                     zrck::TokPublicKey& key) override;
    bool Encrypt(zrck::SessionFrame& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    void DecryptInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                     zrck::TokPrivateKey& key) override;
    bool Decrypt(zrck::SessionFrame& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    void SignInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                  zrck::TokPrivateKey& key) override;
    bool Sign(zrck::SessionFrame& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override;
    void VerifyInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                    zrck::TokPublicKey& key) override;
    bool Verify(zrck::SessionFrame& session, const tru::Buffer& data, const tru::Buffer& signature) override;
    void SignRecoverInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                         zrck::TokPrivateKey& key) override;
    bool SignRecover(zrck::SessionFrame& session, const tru::Buffer& data, unsigned char* out,
                     unsigned long* outLen) override;
    void VerifyRecoverInit(zrck::SessionFrame& session, const zrck::MechanismParameter& parameter,
                           zrck::TokPublicKey& key) override;
    bool VerifyRecover(zrck::SessionFrame& session, const tru::Buffer& signature, unsigned char* out,
                       unsigned long* outLen) override;
    void FreeResources() override { keys_.Forget(); }
    zrck::TokMechanism* Clone() const override;

private:
    // The raw public or private operation of the token on the input as it is.
    bool PublicOperation(const tru::Buffer& input, unsigned char* out, unsigned long* outLen);
    bool PrivateOperation(const tru::Buffer& input, unsigned char* out, unsigned long* outLen, bool sign);

    RsaKeyBinding keys_;
};

}  // namespace qel

// Triple-DES CBC and CBC-PAD on the host with a Triple-DES key object, one and many parts.
// CBC-PAD rules callers must know: an encryption update whose length is not a multiple of 8 is
// the last piece (padded at once; a further update is CKR_DATA_LEN_RANGE), and decryption holds
// back the last block of every update until the next update or the final call.
#pragma once

#include <memory>

#include "objects/tok_des3_mechanisms.h"
#include "objects/tok_des3_secret_key.h"
#include "swcrypto/des3_engine.h"

namespace mbt {

// Key, encryptor and IV of a running CBC operation, shared by both mechanisms.
template <class Base>
class Des3CbcOperation : public Base {
public:
    using Base::DecryptInit;
    using Base::EncryptInit;

    void EncryptInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                     zrck::TokSecretKey& key) override;
    void DecryptInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                     zrck::TokSecretKey& key) override;
    void SetIV(const tru::Buffer& iv) override;
    void FreeResources() override;

protected:
    Des3CbcOperation(CK_MECHANISM_TYPE type);
    // The running encryptor; CKR_GENERAL_ERROR when no operation was initialised.
    TokDES3CbcEncryptor& Running();
    // Called after a successful initialisation.
    virtual void Started(bool encrypting) = 0;

private:
    void Init(const zrck::MechanismParameter& parameter, zrck::TokSecretKey& key, bool encrypting);

    zrck::TokDES3SecretKey* key_ = nullptr;
    std::unique_ptr<TokDES3CbcEncryptor> encryptor_;
    unsigned char iv_[TokDES3CbcEncryptor::BLOCK_SIZE] = {};
};

// Whole blocks only (CKR_DATA_LEN_RANGE otherwise); decryption runs the same calls in the
// direction fixed at initialisation.
class TokDES3CbcMechanism : public Des3CbcOperation<zrck::TokDES3CbcMechanism> {
public:
    TokDES3CbcMechanism();

    bool Encrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    bool EncryptUpdate(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override;
    bool EncryptFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;
    bool Decrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    bool DecryptUpdate(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override;
    bool DecryptFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;

private:
    void Started(bool) override {}
    bool Blocks(const tru::Buffer& data, unsigned char* out, unsigned long* outLen);
};

class TokDES3CbcPadMechanism : public Des3CbcOperation<zrck::TokDES3CbcPadMechanism> {
public:
    TokDES3CbcPadMechanism();

    bool Encrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    bool EncryptUpdate(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override;
    bool EncryptFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;
    // The required length is the ciphertext's; a wrong padding is CKR_ENCRYPTED_DATA_INVALID and
    // leaves nothing decrypted in the output.
    bool Decrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                 unsigned long* outLen) override;
    bool DecryptUpdate(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                       unsigned long* outLen) override;
    bool DecryptFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;
    void FreeResources() override;

private:
    void Started(bool encrypting) override;
    // Encrypts the last r bytes of data with their padding into out (8 bytes).
    void WriteLastBlock(const tru::Buffer& data, uint32_t tail, unsigned char* out);

    bool padded_ = false;
    unsigned char held_[TokDES3CbcEncryptor::BLOCK_SIZE] = {};
    bool holding_ = false;
};

}  // namespace mbt

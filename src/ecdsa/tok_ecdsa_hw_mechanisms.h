// ECDSA on the device: CKM_ECDSA signs the caller's value with a key in a device key slot and
// has the token check signatures against a public point; CKM_EC_KEY_PAIR_GEN has the token
// generate a pair on P-192, P-256 or P-521. Signatures cross the interface as r||s, each half as
// long as the curve's order; the token speaks DER.
#pragma once

#include "ecdsa/ecdsa_token_utl.h"
#include "objects/tok_ecdsa_mechanisms.h"
#include "objects/tok_key_pair_gen_mechanisms.h"
#include "support/noncopyable.h"

#include <memory>

namespace qel {

// Sets the key sizes every EC mechanism reports: the smallest and largest curve of the EC
// library (192 and 521).
void SetECDsaKeySizes(zrck::TokMechanism& mechanism);

// The device side of an ECDSA operation, shared by CKM_ECDSA and the hash-then-sign mechanisms.
class DeviceECDsa {
public:
    DeviceECDsa() = delete;

    // The raw signature length of the key's curve; CKR_FUNCTION_FAILED for a key without token.
    static unsigned long SignatureSize(zrck::TokPrivateKey& key);
    // Has the token sign the value with the key's slot; r||s of the curve's full length.
    static void Sign(zrck::TokPrivateKey& key, const tru::Buffer& value, tru::BufferDynamic& signature);
    // Copies a signature out under the mechanism call convention.
    static bool Place(const tru::Buffer& signature, unsigned char* out, unsigned long* outLen);
    // Has the token check r||s over the value against the key's point and curve.
    static bool Verify(zrck::TokPublicKey& key, const tru::Buffer& value, const tru::Buffer& signature);
};

// The token's EC utility of a mechanism, made on first use; CKR_FUNCTION_FAILED without token.
class MechanismECDsaUtl {
public:
    TokECDsaUtl& Get(const zrck::TokMechanism& mechanism);

private:
    std::unique_ptr<TokECDsaUtl> utl_;
};

class TokECDsaHWSignMechanism : public zrck::TokECDsaSignMechanism, private vdk::Noncopyable {
public:
    TokECDsaHWSignMechanism();

    void SignInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                  zrck::TokPrivateKey& key) override;
    // At most 128 bytes, signed as given.
    bool Sign(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override;
    void VerifyInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                    zrck::TokPublicKey& key) override;
    bool Verify(zrck::MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature) override;
    void FreeResources() override;
    zrck::TokMechanism* Clone() const override;
    TokECDsaUtl& GetECDsaUtl() { return utl_.Get(*this); }

private:
    zrck::TokPublicKey* verifyKey_ = nullptr;
    zrck::TokPrivateKey* signKey_ = nullptr;
    MechanismECDsaUtl utl_;
};

class TokECDsaHWKeyPairGenMechanism : public zrck::TokECDsaKeyPairGenMechanism, private vdk::Noncopyable {
public:
    TokECDsaHWKeyPairGenMechanism();

    KeyPair GenerateKeyPair(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                            zrck::AttributeTemplate& publicAttributes,
                            zrck::AttributeTemplate& privateAttributes) override;
    void FreeResources() override {}
    zrck::TokMechanism* Clone() const override;
    KeyPointer CreatePublicKey() override;
    KeyPointer CreatePrivateKey() override;
    TokECDsaUtl& GetECDsaUtl() { return utl_.Get(*this); }

private:
    MechanismECDsaUtl utl_;
};

} // namespace qel

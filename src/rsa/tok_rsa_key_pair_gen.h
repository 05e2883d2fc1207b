// C_GenerateKeyPair for RSA: the token generates the pair in a new key slot and returns the
// device public-key blob; the host builds the two key objects around its modulus.
#pragma once

#include "objects/tok_key_pair_gen_mechanisms.h"
#include "support/noncopyable.h"

namespace qel {

class TokRsaKeyPairGenMechanism : public zrck::TokRsaKeyPairGenMechanism, private vdk::Noncopyable {
public:
    TokRsaKeyPairGenMechanism();

    CK_ULONG GetMinKeySize() const override;
    CK_ULONG GetMaxKeySize() const override;
    // The public key first. Every template failure comes before the token is asked; a failure
    // after the token made the key removes the key and its reserved files again.
    KeyPair GenerateKeyPair(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                            zrck::AttributeTemplate& publicAttributes,
                            zrck::AttributeTemplate& privateAttributes) override;
    void FreeResources() override {}
    void SetParameter(const zrck::MechanismParameter&) override {}
    void SetDefaultParameter() override {}
    zrck::TokMechanism* Clone() const override;
    KeyPointer CreatePublicKey() override;
    KeyPointer CreatePrivateKey() override;
};

}  // namespace qel

// C_GenerateKeyPair for DSTU 4145: the token generates the pair in a new key slot and returns the
// public point; the host builds the two key objects around it.
#pragma once

#include "objects/tok_key_pair_gen_mechanisms.h"
#include "support/noncopyable.h"

namespace qel {

class TokUASgnKeyPairGenMechanism : public zrck::TokUASgnKeyPairGenMechanism, private vdk::Noncopyable {
public:
    TokUASgnKeyPairGenMechanism();

    // The public key first. Every template failure comes before the device is asked.
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

} // namespace qel

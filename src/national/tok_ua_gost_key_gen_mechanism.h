// GOST 28147-89 key generation: 32 random bytes from the token become a new GOST secret key.
#pragma once

#include "objects/tok_ua_gost_mechanisms.h"
#include "support/noncopyable.h"

namespace qel {

class TokUAGostKeyGenMechanism : public zrck::TokUAGostKeyGenMechanism, private vdk::Noncopyable {
public:
    // Draws of an all-zero value tolerated before giving up.
    static constexpr unsigned kMaxRandomDraws = 65535;

    TokUAGostKeyGenMechanism();

    KeyPointer GenerateKey(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                           zrck::AttributeTemplate& attributes) override;
    KeyPointer CreateSecretKey() override;
    void FreeResources() override {}
    zrck::TokMechanism* Clone() const override;
    void SetParameter(const zrck::MechanismParameter&) override {}
    void SetDefaultParameter() override {}
};

}  // namespace qel

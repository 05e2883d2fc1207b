// Abstract key-pair generation mechanisms (RSA, EC, DSTU 4145). The concrete class makes its
// empty key objects through CreatePublicKey and CreatePrivateKey.
#ifndef ZR_OBJECTS_TOK_KEY_PAIR_GEN_MECHANISMS_H
#define ZR_OBJECTS_TOK_KEY_PAIR_GEN_MECHANISMS_H

#include "objects/tok_mechanism.h"

namespace zrck {

class TokKeyPairGenMechanism : public TokMechanism {
public:
    KeyPair GenerateKeyPair(MechanismSession& session, const MechanismParameter& parameter,
                            AttributeTemplate& publicAttributes, AttributeTemplate& privateAttributes) override = 0;
    // A new, empty key of the concrete class.
    virtual KeyPointer CreatePublicKey() = 0;
    virtual KeyPointer CreatePrivateKey() = 0;
};

class TokRsaKeyPairGenMechanism : public TokKeyPairGenMechanism {
public:
    const char* GetObjectClassName() const override { return "TokRsaKeyPairGenMechanism"; }
};

class TokUASgnKeyPairGenMechanism : public TokKeyPairGenMechanism {
public:
    const char* GetObjectClassName() const override { return "TokUASgnKeyPairGenMechanism"; }
};

// Takes no parameter: the concrete generation calls EnsureParameterEmpty.
class TokECDsaKeyPairGenMechanism : public TokKeyPairGenMechanism {
public:
    const char* GetObjectClassName() const override { return "TokECDsaKeyPairGenMechanism"; }
    void SetParameter(const MechanismParameter&) override {}
    void SetDefaultParameter() override {}
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_KEY_PAIR_GEN_MECHANISMS_H

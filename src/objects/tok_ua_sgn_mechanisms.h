// Abstract DSTU 4145 signature mechanisms (plain and with the GOST 34.311 hash): their key
// check. The concrete Inits check that no parameter is given.
#ifndef ZR_OBJECTS_TOK_UA_SGN_MECHANISMS_H
#define ZR_OBJECTS_TOK_UA_SGN_MECHANISMS_H

#include "objects/tok_mechanism.h"

namespace zrck {

class TokUASgnMechanismBase : public TokMechanism {
public:
    // The key when it is a CKK_DSTU4145 key, else CKR_KEY_TYPE_INCONSISTENT.
    static TokPrivateKey& VerifyKeyIsUASgn(TokPrivateKey& key);
    static TokPublicKey& VerifyKeyIsUASgn(TokPublicKey& key);

    void SetParameter(const MechanismParameter&) override {}
    void SetDefaultParameter() override {}
};

class TokUASgnMechanism : public TokUASgnMechanismBase {
public:
    const char* GetObjectClassName() const override { return "TokUASgnMechanism"; }
};

class TokUASgnHashMechanism : public TokUASgnMechanismBase {
public:
    const char* GetObjectClassName() const override { return "TokUASgnHashMechanism"; }
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_UA_SGN_MECHANISMS_H

// Curve keys (ECDSA and DSTU 4145) whose attributes are kept in the object: the kept private-
// and public-key values plus CKA_EC_PARAMS. Where the private value and the point live is the
// subclass's choice.
#ifndef ZR_OBJECTS_KEPT_CURVE_KEYS_H
#define ZR_OBJECTS_KEPT_CURVE_KEYS_H

#include "objects/kept_key.h"
#include "objects/tok_curve_keys.h"

namespace zrck {

// Key: a private key class built on TokCurvePrivateKey.
template <class Key>
class KeptCurvePrivateKey : public KeptPrivateKey<Key> {
public:
    const tru::Buffer& GetECParams() const override { return ecParams_; }
    void SetECParams(const tru::Buffer& params) override { CopyKeyBuffer(ecParams_, params); }

protected:
    tru::BufferDynamic ecParams_;
};

// Key: a public key class built on TokCurvePublicKey. A key made without usage attributes verifies.
template <class Key>
class KeptCurvePublicKey : public KeptPublicKey<Key> {
public:
    void AddDefaultUsageAttributes() override { this->flags_.verify = CK_TRUE; }
    const tru::Buffer& GetECParams() const override { return ecParams_; }
    void SetECParams(const tru::Buffer& params) override { CopyKeyBuffer(ecParams_, params); }

protected:
    tru::BufferDynamic ecParams_;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_KEPT_CURVE_KEYS_H

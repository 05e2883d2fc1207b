// EC private and public keys with every attribute, the private value included, in host memory.
// Storage, copying and allowed mechanisms come from a subclass, and for the private key also
// its default usage and sensitivity attributes.
#pragma once

#include <string>

#include "objects/kept_curve_keys.h"
#include "objects/tok_ecdsa_keys.h"
#include "support/safe_buffer.h"

namespace mbt {

class TokECDsaPrivateKey : public zrck::KeptCurvePrivateKey<zrck::TokECDsaPrivateKey> {
public:
    // "TokECDsaPrivateKey[This: ADDR, Handle: H, Label="...", KeyID: 0x........]".
    std::string ToString() const override;
    const tru::Buffer& GetValue() const override { return value_; }
    void SetValue(const tru::Buffer& value) override;

private:
    vdk::SafeBuffer value_;
};

class TokECDsaPublicKey : public zrck::KeptCurvePublicKey<zrck::TokECDsaPublicKey> {
public:
    // "TokECDsaPublicKey[This: ADDR, Handle: H, Label="...", KeyID: 0x........]".
    std::string ToString() const override;
    const tru::Buffer& GetECPoint() const override { return ecPoint_; }
    // The DER OCTET STRING form only: CKR_ATTRIBUTE_VALUE_INVALID otherwise, the point unchanged.
    void SetECPoint(const tru::Buffer& point) override;

private:
    tru::BufferDynamic ecPoint_;
};

}  // namespace mbt

// Triple-DES secret key with its attributes held in memory; the value, storage attributes,
// allowed mechanisms and sensitivity defaults come from the token's subclass.
#pragma once

#include "objects/kept_key.h"
#include "objects/tok_des3_secret_key.h"

namespace mbt {

class TokDES3SecretKey : public zrck::KeptSecretKey<zrck::TokDES3SecretKey> {
public:
    void InitDefaults() override {}
    // Encrypt and decrypt.
    void AddDefaultUsageAttributes() override;
    // CKR_KEY_UNEXTRACTABLE unless extractable; else the token's mark of the value.
    void GetKeyMark(tru::BufferDynamic& mark) override;
};

}  // namespace mbt

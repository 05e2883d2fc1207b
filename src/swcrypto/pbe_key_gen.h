// C_GenerateKey with CKM_PBE_SHA1_DES3_EDE_CBC: a 24-byte Triple-DES key (DES parity set) and an
// 8-byte IV from a password, a salt and an iteration count by the PKCS #12 (appendix B) method
// with SHA-1. The key is made through the session's class factory; the IV goes to pInitVector.
#pragma once

#include "objects/tok_des3_mechanisms.h"
#include "support/safe_buffer.h"

namespace mbt {

class TokSha1PBE3DESEdeCbcKeyGenMechanism : public zrck::TokSha1PBE3DESEdeCbcKeyGenMechanism {
public:
    static const unsigned char ID_FOR_ENCRYPTION_KEY = 1;
    static const unsigned char ID_FOR_IV = 2;
    static const uint32_t KEY_LENGTH = 24;
    static const uint32_t IV_LENGTH = 8;

    TokSha1PBE3DESEdeCbcKeyGenMechanism();

    KeyPointer GenerateKey(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                           zrck::AttributeTemplate& attributes) override;
    void FreeResources() override {}
    // Each refusal is CKR_MECHANISM_PARAM_INVALID: empty or null password or salt, null IV output.
    void SetParams(const CK_PBE_PARAMS* params) override;

    // PKCS #12 derivation with SHA-1 of `length` bytes for the diversifier id (the password taken
    // as raw bytes, any length); iteration count 0 is CKR_MECHANISM_PARAM_INVALID.
    static void Derive(unsigned char id, const CK_PBE_PARAMS& params, uint32_t length, vdk::SafeBuffer& out);

private:
    const CK_PBE_PARAMS* params_ = nullptr;
};

}  // namespace mbt

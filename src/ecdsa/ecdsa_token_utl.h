// The token's EC utility: the host EC utility with the token's random source, and the device's
// parameter set of a curve.
#pragma once

#include "device/device_types.h"
#include "swcrypto/tok_ecdsa_utl.h"

#include <memory>

namespace zrck {
class TokMechanism;
}

namespace qel {

class TokECDsaUtl : public mbt::TokECDsaUtl {
public:
    explicit TokECDsaUtl(zrck::ObjectToken* token) : mbt::TokECDsaUtl(token) {}

    // P-192, P-256 and P-521 are the device's sets 14, 15 and 16; every other curve of the
    // table is CKR_ATTRIBUTE_VALUE_INVALID (empty CKR_TEMPLATE_INCOMPLETE).
    static EParamSet ParseECParams(const tru::Buffer& params);
};

// The token's EC utility of a mechanism, made on first use; CKR_FUNCTION_FAILED without token.
class MechanismECDsaUtl {
public:
    TokECDsaUtl& Get(const zrck::TokMechanism& mechanism);

private:
    std::unique_ptr<TokECDsaUtl> utl_;
};

} // namespace qel

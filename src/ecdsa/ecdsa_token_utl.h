// The token's EC utility: the host EC utility with the token's random source, and the device's
// parameter set of a curve.
#pragma once

#include "device/device_types.h"
#include "swcrypto/tok_ecdsa_utl.h"

namespace qel {

class TokECDsaUtl : public mbt::TokECDsaUtl {
public:
    explicit TokECDsaUtl(zrck::ObjectToken* token) : mbt::TokECDsaUtl(token) {}

    // P-192, P-256 and P-521 are the device's sets 14, 15 and 16; every other curve of the
    // table is CKR_ATTRIBUTE_VALUE_INVALID (empty CKR_TEMPLATE_INCOMPLETE).
    static EParamSet ParseECParams(const tru::Buffer& params);
};

} // namespace qel

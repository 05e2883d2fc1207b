#include "ecdsa/ecdsa_token_utl.h"

#include "ckbase/exception.h"
#include "objects/tok_mechanism.h"

#include <mbedtls/ecp.h>

namespace qel {

EParamSet TokECDsaUtl::ParseECParams(const tru::Buffer& params)
{
    switch (mbt::TokECDsaUtl::ParseECParams(params)) {
    case MBEDTLS_ECP_DP_SECP192R1: return DSA_ECP_SECP192R1;
    case MBEDTLS_ECP_DP_SECP256R1: return DSA_ECP_SECP256R1;
    case MBEDTLS_ECP_DP_SECP521R1: return DSA_ECP_SECP521R1;
    default: throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

TokECDsaUtl& MechanismECDsaUtl::Get(const zrck::TokMechanism& mechanism)
{
    zrck::ObjectToken* token = mechanism.GetTokenPtr();
    if (token == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    if (!utl_ || utl_->GetToken() != token) utl_.reset(new TokECDsaUtl(token));
    return *utl_;
}

} // namespace qel

#include "national/tok_ua_sgn_domain_params.h"

#include "ckbase/exception.h"
#include "driver/token_storage.h"
#include "national/ua_sgn_util.h"
#include "national/ua_token.h"
#include "tru2/exception.h"

#include <cstring>
#include <memory>

namespace qel {

namespace {

struct NamedCurve {
    EParamSet set;
    const char* oid;
    const tru::Buffer* block;
};

const NamedCurve kNamedCurves[] = {
    {DSTU4145_POLYNOMIAL_0, "1.2.804.2.1.1.1.1.3.1.1.2.0", &UA_SGN_PARAMSET_0_OID_DKE1_VALUE},
    {DSTU4145_POLYNOMIAL_4, "1.2.804.2.1.1.1.1.3.1.1.2.4", &UA_SGN_PARAMSET_4_OID_DKE1_VALUE},
    {DSTU4145_POLYNOMIAL_6, "1.2.804.2.1.1.1.1.3.1.1.2.6", &UA_SGN_PARAMSET_6_OID_DKE1_VALUE},
    {DSTU4145_POLYNOMIAL_9, "1.2.804.2.1.1.1.1.3.1.1.2.9", &UA_SGN_PARAMSET_9_OID_DKE1_VALUE},
};

const NamedCurve* Find(EParamSet set)
{
    for (const NamedCurve& curve : kNamedCurves) {
        if (curve.set == set) return &curve;
    }
    return nullptr;
}

} // namespace

const char* UASgnParamsetOid(EParamSet paramSet)
{
    const NamedCurve* curve = Find(paramSet);
    return curve != nullptr ? curve->oid : nullptr;
}

const tru::Buffer* UASgnParamsetBlock(EParamSet paramSet)
{
    const NamedCurve* curve = Find(paramSet);
    return curve != nullptr ? curve->block : nullptr;
}

TokUASgnDomainParams* TokUASgnDomainParams::CreateForParamset(EParamSet paramSet)
{
    const NamedCurve* curve = Find(paramSet);
    if (curve == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    std::unique_ptr<TokUASgnDomainParams> object(new TokUASgnDomainParams());
    object->SetLabel(tru::Buffer(curve->oid, static_cast<uint32_t>(std::strlen(curve->oid))));
    object->SetParamsetID(paramSet);
    object->SetECParams(*curve->block);
    return object.release();
}

void TokUASgnDomainParams::SetCopyable(bool) { throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY); }

CK_ULONG TokUASgnDomainParams::GetObjectSize()
{
    return GetStorageSize(&UAToken::Of(GetTokenPtr()).GetUAStorage());
}

void TokUASgnDomainParams::SetECParams(const tru::Buffer& params)
{
    const tru::TResult rc = ecParams_.Set(params.Size(), params.Data());
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

} // namespace qel

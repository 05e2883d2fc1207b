#include "national/ua_sgn_token_rows.h"

#include "driver/qel_token.h"
#include "national/tok_ua_dh_derive.h"
#include "national/tok_ua_sgn_domain_params.h"
#include "national/tok_ua_sgn_key_pair_gen.h"
#include "national/tok_ua_sgn_keys.h"
#include "national/tok_ua_sgn_mechanisms.h"

#include <cstring>

namespace qel {

namespace {

template <EParamSet Set>
zrck::TokDomainParams* MakeCurve(Token&, const char*)
{
    return TokUASgnDomainParams::CreateForParamset(Set);
}

} // namespace

const std::vector<MechanismRow>& UASgnMechanismRows()
{
    static const std::vector<MechanismRow> rows = {
        {CKM_DSTU4145, TokenCondition::Always, &MakeMechanism<TokUASgnMechanism>},
        {CKM_GOST34311_DSTU4145, TokenCondition::Always, &MakeMechanism<TokUASgnHashMechanism>},
        {CKM_DSTU4145_KEY_PAIR_GEN, TokenCondition::Always, &MakeMechanism<TokUASgnKeyPairGenMechanism>},
        {CKM_DSTUDH_COFACTOR_DERIVE, TokenCondition::DH, &MakeMechanism<TokUADHCofactorDeriveMechanism>},
    };
    return rows;
}

const std::vector<StoredClassRow>& UASgnStoredClassRows()
{
    static const std::vector<StoredClassRow> rows = {
        {kUASgnPrivateKeyItemType, &MakeStored<TokUASgnPrivateKey>},
        {kUASgnPublicKeyItemType, &MakeStored<TokUASgnPublicKey>},
    };
    return rows;
}

const std::vector<FixedDomainParamsRow>& UASgnFixedDomainParamsRows()
{
    static const std::vector<FixedDomainParamsRow> rows = {
        {CKK_DSTU4145, UASgnParamsetOid(DSTU4145_POLYNOMIAL_0), TokenCondition::NotModel,
         &MakeCurve<DSTU4145_POLYNOMIAL_0>},
        {CKK_DSTU4145, UASgnParamsetOid(DSTU4145_POLYNOMIAL_4), TokenCondition::NotModel,
         &MakeCurve<DSTU4145_POLYNOMIAL_4>},
        {CKK_DSTU4145, UASgnParamsetOid(DSTU4145_POLYNOMIAL_6), TokenCondition::Always,
         &MakeCurve<DSTU4145_POLYNOMIAL_6>},
        {CKK_DSTU4145, UASgnParamsetOid(DSTU4145_POLYNOMIAL_9), TokenCondition::DSTU431,
         &MakeCurve<DSTU4145_POLYNOMIAL_9>},
    };
    return rows;
}

void RegisterUASgnClasses(Token* token)
{
    RegisterCreationClass<TokUASgnDomainParams>(token, CKO_DOMAIN_PARAMETERS, CKK_DSTU4145);
    RegisterCreationClass<TokUASgnPrivateKey>(token, CKO_PRIVATE_KEY, CKK_DSTU4145);
    RegisterCreationClass<TokUASgnPublicKey>(token, CKO_PUBLIC_KEY, CKK_DSTU4145);
}

namespace {
const bool tablesRegistered = RegisterTokenTables(
    {&UASgnMechanismRows, &UASgnStoredClassRows, &UASgnFixedDomainParamsRows, &RegisterUASgnClasses});
} // namespace

bool UASgnTokenTablesRegistered() { return tablesRegistered; }

} // namespace qel


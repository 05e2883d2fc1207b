#include "national/ua_gost_token_rows.h"

#include "driver/qel_token.h"
#include "national/tok_ua_gost_cipher_mechanisms.h"
#include "national/tok_ua_gost_domain_params.h"
#include "national/tok_ua_gost_hash_mechanism.h"
#include "national/tok_ua_gost_key_gen_mechanism.h"
#include "national/tok_ua_gost_mac_mechanism.h"
#include "national/tok_ua_gost_secret_key.h"
#include "national/tok_ua_gost_wrap_mechanism.h"
#include "national/ua_gost_utl.h"

#include <cstring>
#include <memory>

namespace qel {

namespace {

// Named S-box n: CKA_ID its DER identifier, CKA_GOST_SBOXES its DER DKE, the label the
// identifier text.
template <unsigned N>
zrck::TokDomainParams* MakeSBox(Token&, const char* label)
{
    std::unique_ptr<TokUAGostDomainParams> params(new TokUAGostDomainParams());
    const UAGostUtl& util = *UAGostUtl::GetInstance();
    params->SetID(util.GetDKEOID(N));
    params->SetSBox(util.GetDKE(N));
    params->SetLabel(tru::Buffer(label, static_cast<uint32_t>(std::strlen(label))));
    return params.release();
}

}  // namespace

const std::vector<MechanismRow>& UAGostMechanismRows()
{
    static const std::vector<MechanismRow> rows = {
        {CKM_GOST34311, TokenCondition::Always, &MakeMechanism<TokUAGostHashMechanism>},
        {CKM_GOST28147_KEY_GEN_NAT, TokenCondition::DH, &MakeMechanism<TokUAGostKeyGenMechanism>},
        {CKM_GOST28147_ECB_NAT, TokenCondition::DH, &MakeMechanism<TokUAGostEcbMechanism>},
        {CKM_GOST28147_CNT, TokenCondition::DH, &MakeMechanism<TokUAGostCntMechanism>},
        {CKM_GOST28147_CFB, TokenCondition::DH, &MakeMechanism<TokUAGostCfbMechanism>},
        {CKM_GOST28147_MAC_NAT, TokenCondition::DH, &MakeMechanism<TokUAGostMacMechanism>},
        {CKM_GOST28147_WRAP, TokenCondition::DH, &MakeMechanism<TokUAGostWrapMechanism>},
    };
    return rows;
}

const std::vector<StoredClassRow>& UAGostStoredClassRows()
{
    static const std::vector<StoredClassRow> rows = {
        {UA_GOST_DOMAIN_PARAMS, &MakeStored<TokUAGostDomainParams>},
        {UA_GOST_SECRET_KEY, &MakeStored<TokUAGostSecretKey>},
    };
    return rows;
}

const std::vector<FixedDomainParamsRow>& UAGostFixedDomainParamsRows()
{
    static const std::vector<FixedDomainParamsRow> rows = {
        {CKK_GOST28147_NAT, "1.2.804.2.1.1.1.1.1.1.10.1", TokenCondition::DH, &MakeSBox<1>},
        {CKK_GOST28147_NAT, "1.2.804.2.1.1.1.1.1.1.10.2", TokenCondition::DH, &MakeSBox<2>},
        {CKK_GOST28147_NAT, "1.2.804.2.1.1.1.1.1.1.10.3", TokenCondition::DH, &MakeSBox<3>},
        {CKK_GOST28147_NAT, "1.2.804.2.1.1.1.1.1.1.10.4", TokenCondition::DH, &MakeSBox<4>},
        {CKK_GOST28147_NAT, "1.2.804.2.1.1.1.1.1.1.10.5", TokenCondition::DH, &MakeSBox<5>},
        {CKK_GOST28147_NAT, "1.2.804.2.1.1.1.1.1.1.10.6", TokenCondition::DH, &MakeSBox<6>},
        {CKK_GOST28147_NAT, "1.2.804.2.1.1.1.1.1.1.10.7", TokenCondition::DH, &MakeSBox<7>},
        {CKK_GOST28147_NAT, "1.2.804.2.1.1.1.1.1.1.10.8", TokenCondition::DH, &MakeSBox<8>},
        {CKK_GOST28147_NAT, "1.2.804.2.1.1.1.1.1.1.10.9", TokenCondition::DH, &MakeSBox<9>},
        {CKK_GOST28147_NAT, "1.2.804.2.1.1.1.1.1.1.10.10", TokenCondition::DH, &MakeSBox<10>},
    };
    return rows;
}

void RegisterUAGostClasses(Token* token)
{
    RegisterCreationClass<TokUAGostDomainParams>(token, CKO_DOMAIN_PARAMETERS, CKK_GOST28147_NAT);
    RegisterCreationClass<TokUAGostSecretKey>(token, CKO_SECRET_KEY, CKK_GOST28147_NAT);
}

namespace {
const bool tablesRegistered = RegisterTokenTables(
    {&UAGostMechanismRows, &UAGostStoredClassRows, &UAGostFixedDomainParamsRows, &RegisterUAGostClasses}) &&
                             RegisterLayerRelease(&UAGostUtl::DestroyInstance);
}  // namespace

bool UAGostTokenTablesRegistered() { return tablesRegistered; }

}  // namespace qel

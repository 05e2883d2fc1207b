#include "rsa/rsa_token_rows.h"

#include "driver/qel_token.h"
#include "rsa/tok_rsa_key_pair_gen.h"
#include "rsa/tok_rsa_keys.h"
#include "rsa/tok_rsa_mechanisms.h"
#include "rsa/tok_sha_rsa_mechanisms.h"

namespace qel {

const std::vector<MechanismRow>& RsaMechanismRows()
{
    static const std::vector<MechanismRow> rows = {
        {CKM_RSA_PKCS_KEY_PAIR_GEN, TokenCondition::NotModel, &MakeMechanism<TokRsaKeyPairGenMechanism>},
        {CKM_RSA_X_509, TokenCondition::NotModel, &MakeMechanism<TokRsaX509Mechanism>},
        {CKM_RSA_PKCS, TokenCondition::NotModel, &MakeMechanism<TokRsaPkcs1v15Mechanism>},
        {CKM_SHA1_RSA_PKCS, TokenCondition::NotModel, &MakeMechanism<TokSha1RsaPkcsMechanism>},
        {CKM_SHA224_RSA_PKCS, TokenCondition::NotModel, &MakeMechanism<TokSha224RsaPkcsMechanism>},
        {CKM_SHA256_RSA_PKCS, TokenCondition::NotModel, &MakeMechanism<TokSha256RsaPkcsMechanism>},
        {CKM_SHA384_RSA_PKCS, TokenCondition::NotModel, &MakeMechanism<TokSha384RsaPkcsMechanism>},
        {CKM_SHA512_RSA_PKCS, TokenCondition::NotModel, &MakeMechanism<TokSha512RsaPkcsMechanism>},
    };
    return rows;
}

const std::vector<StoredClassRow>& RsaStoredClassRows()
{
    static const std::vector<StoredClassRow> rows = {
        {kRsaPrivateKeyItemType, &MakeStored<TokRsaPrivateKey>},
        {kRsaPublicKeyItemType, &MakeStored<TokRsaPublicKey>},
    };
    return rows;
}

void RegisterRsaClasses(Token* token)
{
    RegisterCreationClass<TokRsaPrivateKey>(token, CKO_PRIVATE_KEY, CKK_RSA);
    RegisterCreationClass<TokRsaPublicKey>(token, CKO_PUBLIC_KEY, CKK_RSA);
}

namespace {
const bool tablesRegistered =
    RegisterTokenTables({&RsaMechanismRows, &RsaStoredClassRows, nullptr, &RegisterRsaClasses});
}  // namespace

bool RsaTokenTablesRegistered() { return tablesRegistered; }

}  // namespace qel

#include "swcrypto/token_swcrypto_rows.h"

#include "driver/qel_token.h"
#include "swcrypto/token_des3_mechanisms.h"
#include "swcrypto/token_des3_secret_key.h"
#include "swcrypto/token_pbe_key_gen.h"
#include "swcrypto/token_sha_mechanisms.h"

namespace qel {

const std::vector<MechanismRow>& SwCryptoMechanismRows()
{
    static const std::vector<MechanismRow> rows = {
        {CKM_SHA_1, TokenCondition::NotModel, &MakeMechanism<TokSha1Mechanism>},
        {CKM_SHA224, TokenCondition::NotModel, &MakeMechanism<TokSha224Mechanism>},
        {CKM_SHA256, TokenCondition::NotModel, &MakeMechanism<TokSha256Mechanism>},
        {CKM_SHA384, TokenCondition::NotModel, &MakeMechanism<TokSha384Mechanism>},
        {CKM_SHA512, TokenCondition::NotModel, &MakeMechanism<TokSha512Mechanism>},
        {CKM_PBE_SHA1_DES3_EDE_CBC, TokenCondition::Always, &MakeMechanism<TokSha1PBE3DESEdeCbcKeyGenMechanism>},
        {CKM_DES3_CBC, TokenCondition::Always, &MakeMechanism<TokDES3CbcMechanism>},
        {CKM_DES3_CBC_PAD, TokenCondition::Always, &MakeMechanism<TokDES3CbcPadMechanism>},
    };
    return rows;
}

const std::vector<StoredClassRow>& SwCryptoStoredClassRows()
{
    static const std::vector<StoredClassRow> rows = {
        {DES3_SECRET_KEY, &TokDES3SecretKey::GenerateTokObject},
    };
    return rows;
}

void RegisterSwCryptoClasses(Token* token)
{
    RegisterCreationClass<TokDES3SecretKey>(token, CKO_SECRET_KEY, CKK_DES3);
}

namespace {
const bool tablesRegistered =
    RegisterTokenTables({&SwCryptoMechanismRows, &SwCryptoStoredClassRows, nullptr, &RegisterSwCryptoClasses});
}  // namespace

bool SwCryptoTokenTablesRegistered() { return tablesRegistered; }

}  // namespace qel

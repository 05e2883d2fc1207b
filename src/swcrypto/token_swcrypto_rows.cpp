#include "swcrypto/token_swcrypto_rows.h"

#include "swcrypto/token_sha_mechanisms.h"

namespace qel {

namespace {

template <class Mechanism>
zrck::TokMechanism* MakeMechanism(Token&)
{
    return new Mechanism();
}

}  // namespace

const std::vector<MechanismRow>& SwCryptoMechanismRows()
{
    static const std::vector<MechanismRow> rows = {
        {CKM_SHA_1, TokenCondition::NotModel, &MakeMechanism<TokSha1Mechanism>},
        {CKM_SHA224, TokenCondition::NotModel, &MakeMechanism<TokSha224Mechanism>},
        {CKM_SHA256, TokenCondition::NotModel, &MakeMechanism<TokSha256Mechanism>},
        {CKM_SHA384, TokenCondition::NotModel, &MakeMechanism<TokSha384Mechanism>},
        {CKM_SHA512, TokenCondition::NotModel, &MakeMechanism<TokSha512Mechanism>},
    };
    return rows;
}

const std::vector<StoredClassRow>& SwCryptoStoredClassRows()
{
    static const std::vector<StoredClassRow> rows = {};
    return rows;
}

void RegisterSwCryptoClasses(Token*) {}

namespace {
const bool tablesRegistered =
    RegisterTokenTables({&SwCryptoMechanismRows, &SwCryptoStoredClassRows, nullptr, &RegisterSwCryptoClasses});
}  // namespace

bool SwCryptoTokenTablesRegistered() { return tablesRegistered; }

}  // namespace qel

#include "ecdsa/ecdsa_token_rows.h"

#include "driver/qel_token.h"
#include "driver/token_storage.h"
#include "ecdsa/tok_ecdsa_hw_mechanisms.h"
#include "ecdsa/tok_ecdsa_stored_keys.h"

namespace qel {

namespace {

template <class ObjectClass>
void Register(Token* token, CK_OBJECT_CLASS objectClass)
{
    zrck::ClassRegistrator(token, objectClass, CKK_EC, &ObjectClass::ClassCouldBeCreated,
                           &ObjectClass::GenerateTokObject);
}

} // namespace

const std::vector<MechanismRow>& ECDsaMechanismRows()
{
    static const std::vector<MechanismRow> rows = {
        {CKM_EC_KEY_PAIR_GEN, TokenCondition::NotModel, &MakeMechanism<TokECDsaHWKeyPairGenMechanism>},
        {CKM_ECDSA, TokenCondition::NotModel, &MakeMechanism<TokECDsaHWSignMechanism>},
        {CKM_ECDSA_SHA1, TokenCondition::NotModel, &MakeMechanism<TokECDsaHWSignWithSha1Mechanism>},
        {CKM_ECDSA_SHA224, TokenCondition::NotModel, &MakeMechanism<TokECDsaHWSignWithSha224Mechanism>},
        {CKM_ECDSA_SHA256, TokenCondition::NotModel, &MakeMechanism<TokECDsaHWSignWithSha256Mechanism>},
        {CKM_ECDSA_SHA384, TokenCondition::NotModel, &MakeMechanism<TokECDsaHWSignWithSha384Mechanism>},
        {CKM_ECDSA_SHA512, TokenCondition::NotModel, &MakeMechanism<TokECDsaHWSignWithSha512Mechanism>},
    };
    return rows;
}

const std::vector<StoredClassRow>& ECDsaStoredClassRows()
{
    static const std::vector<StoredClassRow> rows = {
        {kECDsaHostPrivateKeyItemType, &MakeStored<TokECDsaPrivateKey>},
        {kECDsaHostPublicKeyItemType, &MakeStored<TokECDsaPublicKey>},
        {kECDsaDevicePrivateKeyItemType, &MakeStored<TokECDsaHWPrivateKey>},
        {kECDsaDevicePublicKeyItemType, &MakeStored<TokECDsaHWPublicKey>},
    };
    return rows;
}

void RegisterECDsaClasses(Token* token)
{
    TokenStorage* storage = token->GetStorage();
    if (storage != nullptr && storage->GetModelFlag() != 0) {
        Register<TokECDsaPrivateKey>(token, CKO_PRIVATE_KEY);
        Register<TokECDsaPublicKey>(token, CKO_PUBLIC_KEY);
    } else {
        Register<TokECDsaHWPrivateKey>(token, CKO_PRIVATE_KEY);
        Register<TokECDsaHWPublicKey>(token, CKO_PUBLIC_KEY);
    }
}

namespace {
const bool tablesRegistered =
    RegisterTokenTables({&ECDsaMechanismRows, &ECDsaStoredClassRows, nullptr, &RegisterECDsaClasses});
} // namespace

bool ECDsaTokenTablesRegistered() { return tablesRegistered; }

} // namespace qel

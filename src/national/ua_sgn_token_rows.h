// The DSTU 4145 rows of the token's tables: mechanisms, stored classes by item type, the named
// curves shown as domain parameters, and the creation classes of the class factory.
#pragma once

#include "driver/qel_token_tables.h"

#include <vector>

namespace qel {

class Token;

// CKM_DSTU4145, CKM_GOST34311_DSTU4145 and CKM_DSTU4145_KEY_PAIR_GEN always;
// CKM_DSTUDH_COFACTOR_DERIVE when the token offers key agreement. CKM_DSTUDH_DERIVE never.
const std::vector<MechanismRow>& UASgnMechanismRows();
// Item types 7 (private key) and 8 (public key).
const std::vector<StoredClassRow>& UASgnStoredClassRows();
// Sets 9 and 10 on the model without the model flag, 11 always, 12 when the token supports it.
const std::vector<FixedDomainParamsRow>& UASgnFixedDomainParamsRows();
// Domain parameters, private and public keys of CKK_DSTU4145 in the token's class factory.
void RegisterUASgnClasses(Token* token);
// True once the rows above are registered with the token tables; a static initialiser of this
// unit registers them, so every token built after the program started offers them.
bool UASgnTokenTablesRegistered();

} // namespace qel

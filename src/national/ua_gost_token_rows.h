// The GOST 28147-89 and GOST 34.311 rows of the token's tables: the mechanisms, the stored key
// and domain-parameter classes by item type, the ten named S-boxes shown as domain parameters,
// and the creation classes of the class factory.
#pragma once

#include <vector>

#include "driver/qel_token_tables.h"

namespace qel {

class Token;

// CKM_GOST34311 always; key generation, ECB, counter, CFB, MAC and key wrap when the token
// offers national key agreement (in the order of the token's table).
const std::vector<MechanismRow>& UAGostMechanismRows();
// Item types 9 (domain parameters) and 10 (secret key).
const std::vector<StoredClassRow>& UAGostStoredClassRows();
// The ten S-boxes "1.2.804.2.1.1.1.1.1.1.10.1" to ".10", when the token offers key agreement.
const std::vector<FixedDomainParamsRow>& UAGostFixedDomainParamsRows();
// GOST 28147-89 secret keys and domain parameters in the token's class factory.
void RegisterUAGostClasses(Token* token);
// True once the rows above are registered with the token tables; a static initialiser of this
// unit registers them, so every token built after the program started offers them. Naming it
// links the unit in.
bool UAGostTokenTablesRegistered();

}  // namespace qel

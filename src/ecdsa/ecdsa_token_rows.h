// The ECDSA rows of the token's tables: the device mechanisms (on the model whose device does
// ECDSA), the stored EC key classes by item type, and the EC creation classes of the class
// factory, chosen by the model.
#pragma once

#include "driver/qel_token_tables.h"

#include <vector>

namespace qel {

class Token;

// CKM_EC_KEY_PAIR_GEN, CKM_ECDSA and the hash-then-sign mechanisms, model flag clear only.
const std::vector<MechanismRow>& ECDsaMechanismRows();
// Item types 11 and 12 (keys the token only keeps), 13 and 14 (keys in the device), on any model.
const std::vector<StoredClassRow>& ECDsaStoredClassRows();
// CKK_EC private and public keys: the device classes when the model flag is clear, else the
// classes that keep the private value in a data file.
void RegisterECDsaClasses(Token* token);
// True once the rows above are registered with the token tables (a static initialiser does it).
bool ECDsaTokenTablesRegistered();

} // namespace qel

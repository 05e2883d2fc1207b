// The host cryptography's rows of the token's tables: SHA digests (model flag clear),
// password-based Triple-DES key generation and Triple-DES CBC and CBC-PAD (every token), the
// stored Triple-DES key (item type 15) and its creation class.
#pragma once

#include <vector>

#include "driver/qel_token_tables.h"

namespace qel {

const std::vector<MechanismRow>& SwCryptoMechanismRows();
const std::vector<StoredClassRow>& SwCryptoStoredClassRows();
void RegisterSwCryptoClasses(Token* token);
// True once the rows above are registered with the token tables (a static initialiser of this
// unit does it); naming it links the unit in.
bool SwCryptoTokenTablesRegistered();

}  // namespace qel

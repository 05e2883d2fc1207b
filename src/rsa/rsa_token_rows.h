// The RSA rows of the token's tables: mechanisms (on the model that offers RSA), the stored
// key classes by item type, and the creation classes of the class factory.
#pragma once

#include "driver/qel_token_tables.h"

#include <vector>

namespace qel {

class Token;

// CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_RSA_X_509, CKM_RSA_PKCS and SHA-1 to SHA-512 with RSA, on a token
// whose model flag is clear.
const std::vector<MechanismRow>& RsaMechanismRows();
// Item types 2 (private key) and 3 (public key).
const std::vector<StoredClassRow>& RsaStoredClassRows();
// Private and public keys of CKK_RSA in the token's class factory.
void RegisterRsaClasses(Token* token);
// True once the rows above are registered with the token tables (a static initialiser of this
// unit does it).
bool RsaTokenTablesRegistered();

}  // namespace qel

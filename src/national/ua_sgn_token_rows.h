// The DSTU 4145 rows of the token's tables: mechanisms, stored classes by item type, the named
// curves shown as domain parameters, and the creation classes of the class factory.
#pragma once

#include "driver/qel_token_tables.h"

#include <vector>

namespace zrck {
class Slot;
}

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
// Everything above applied to a token that is set up, as the token applies its own tables:
// classes, the mechanisms it offers, the curves it shows (each once).
void AddUASgnToToken(Token& token, zrck::Slot& slot);

} // namespace qel

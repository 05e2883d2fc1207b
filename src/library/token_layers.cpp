// What the token library is made of beyond the framework: the token driver's library object
// (its creator hook) and the algorithm layers that add their mechanisms, stored classes, fixed
// domain parameters and creation classes to every token, one registration each.
#include "cryptoki/library_frame.h"
#include "driver/qel_library.h"
#include "ecdsa/ecdsa_token_rows.h"
#include "national/ua_gost_token_rows.h"
#include "national/ua_sgn_token_rows.h"
#include "rsa/rsa_token_rows.h"
#include "swcrypto/token_swcrypto_rows.h"

namespace {

struct TokenLibraryParts {
    TokenLibraryParts() {
        zrck::LibraryFrame::LibraryCreatorFuncPtr = &qel::Library::Create;
        // Each algorithm layer registers its tables itself; naming it links it in.
        static_cast<void>(qel::RsaTokenTablesRegistered());
        static_cast<void>(qel::ECDsaTokenTablesRegistered());
        static_cast<void>(qel::UASgnTokenTablesRegistered());
        static_cast<void>(qel::UAGostTokenTablesRegistered());
        static_cast<void>(qel::SwCryptoTokenTablesRegistered());
    }
} tokenLibraryParts;

}  // namespace

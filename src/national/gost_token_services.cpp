#include "national/gost_token_services.h"

#include "cryptoki/token.h"

namespace qel {

GostTokenServices* GostTokenServices::Of(zrck::Token* token) { return dynamic_cast<GostTokenServices*>(token); }

}  // namespace qel

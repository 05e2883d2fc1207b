#include "national/ua_token_services.h"

#include "cryptoki/exception.h"
#include "cryptoki/token.h"

namespace qel {

UATokenServices& UATokenServices::Of(zrck::Token* token)
{
    auto* services = dynamic_cast<UATokenServices*>(token);
    if (services == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return *services;
}

} // namespace qel

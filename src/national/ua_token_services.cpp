#include "national/ua_token_services.h"

#include "cryptoki/exception.h"
#include "cryptoki/token.h"
#include "national/gost_token_services.h"

namespace qel {

UAToken UAToken::Of(zrck::Token* token)
{
    GostTokenServices* gost = GostTokenServices::Of(token);
    auto* ua = dynamic_cast<UATokenServices*>(token);
    TokenStorage* storage = gost != nullptr ? gost->GetTokenStorage() : nullptr;
    if (ua == nullptr || storage == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return UAToken(gost, ua, storage);
}

void UAToken::ConvertAttributesFromToken(CK_OBJECT_CLASS objectClass, const std::vector<storage::AttributeBuff>& records,
                                         zrck::AttributeTemplate& attributes) const
{
    gost_->ConvertAttributesFromToken(records, objectClass, attributes);
}

} // namespace qel

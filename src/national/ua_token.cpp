#include "national/ua_token.h"

#include "driver/qel_token.h"

namespace qel {

UAToken UAToken::Of(zrck::ObjectToken* token)
{
    TokenStorage* storage = Token::ExtractStorage(token);
    return UAToken(dynamic_cast<Token*>(token), storage);
}

EParamSet UAToken::GetDefaultUAParamset() const { return token_->GetDefaultUAParamset(); }

void UAToken::ConvertAttributesFromToken(CK_OBJECT_CLASS objectClass, const std::vector<storage::AttributeBuff>& records,
                                         zrck::AttributeTemplate& attributes, const zrck::TokObject& target) const
{
    Token::ConvertAttributesFromToken(objectClass, records, attributes, &target);
}

} // namespace qel

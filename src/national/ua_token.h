// The token of a DSTU 4145 object as the object uses it: the driver token's storage, its default
// DSTU 4145 parameter set and its conversion of attribute-file records.
#pragma once

#include "ckbase/zr_pkcs11.h"
#include "device/device_types.h"
#include "driver/storage_types.h"
#include "objects/object_types.h"

#include <vector>

namespace zrck {
class Token;
class TokObject;
class AttributeTemplate;
} // namespace zrck

namespace qel {

class Token;
class TokenStorage;

class UAToken {
public:
    // zrck::Exception CKR_FUNCTION_FAILED for no token, or one without a storage.
    static UAToken Of(zrck::ObjectToken* token);

    TokenStorage& GetUAStorage() const { return *storage_; }
    EParamSet GetDefaultUAParamset() const;
    // With the target object, a flag stored false reads back false.
    void ConvertAttributesFromToken(CK_OBJECT_CLASS objectClass, const std::vector<storage::AttributeBuff>& records,
                                    zrck::AttributeTemplate& attributes, const zrck::TokObject& target) const;

private:
    UAToken(Token* token, TokenStorage* storage) : token_(token), storage_(storage) {}

    Token* token_;
    TokenStorage* storage_;
};

} // namespace qel

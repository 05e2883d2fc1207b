// What the DSTU 4145 objects and mechanisms need of the token they belong to. The driver's token
// implements it; the objects reach it through their zrck::Token pointer.
#pragma once

#include "cryptoki/zr_pkcs11.h"
#include "device/device_types.h"
#include "driver/storage_types.h"

#include <vector>

namespace zrck {
class Token;
class AttributeTemplate;
} // namespace zrck

namespace qel {

class TokenStorage;

class UATokenServices {
public:
    virtual ~UATokenServices() = default;

    virtual TokenStorage& GetUAStorage() = 0;
    // The set a CKA_EC_PARAMS value without a curve stands for.
    virtual EParamSet GetDefaultUAParamset() = 0;
    // Attribute-file records of an object of the class into template entries.
    virtual void ConvertAttributesFromToken(CK_OBJECT_CLASS objectClass,
                                            const std::vector<storage::AttributeBuff>& records,
                                            zrck::AttributeTemplate& attributes) = 0;

    // The services of an object's token: zrck::Exception CKR_FUNCTION_FAILED for no token or a
    // token without them.
    static UATokenServices& Of(zrck::Token* token);
};

} // namespace qel

// What the DSTU 4145 objects and mechanisms need of the token they belong to: its storage and the
// conversion of attribute-file records (the GOST services every national token offers) and its
// default DSTU 4145 parameter set. The driver's token implements both interfaces.
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
class GostTokenServices;

class UATokenServices {
public:
    virtual ~UATokenServices() = default;
    // The set a CKA_EC_PARAMS value without a curve stands for.
    virtual EParamSet GetDefaultUAParamset() = 0;
};

// The token of a DSTU 4145 object, as the object uses it.
class UAToken {
public:
    // zrck::Exception CKR_FUNCTION_FAILED for no token, a token without the services or without
    // a storage.
    static UAToken Of(zrck::Token* token);

    TokenStorage& GetUAStorage() const { return *storage_; }
    EParamSet GetDefaultUAParamset() const { return ua_->GetDefaultUAParamset(); }
    void ConvertAttributesFromToken(CK_OBJECT_CLASS objectClass, const std::vector<storage::AttributeBuff>& records,
                                    zrck::AttributeTemplate& attributes) const;

private:
    UAToken(GostTokenServices* gost, UATokenServices* ua, TokenStorage* storage)
        : gost_(gost), ua_(ua), storage_(storage)
    {
    }

    GostTokenServices* gost_;
    UATokenServices* ua_;
    TokenStorage* storage_;
};

} // namespace qel

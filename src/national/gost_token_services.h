// What the GOST key and S-box domain-parameter classes need of the token that owns them: its
// storage, its parameter storage and the conversion of attribute-file records. The driver's
// token implements it beside zrck::Token; the objects reach it with GostTokenServices::Of.
#pragma once

#include <vector>

#include "cryptoki/attribute.h"
#include "cryptoki/framework_types.h"
#include "driver/storage_types.h"
#include "tru2/buffer.h"

namespace qel {

class TokenStorage;

class GostTokenServices {
public:
    virtual ~GostTokenServices() = default;

    // The services of the token, or null when there is no token or it offers none.
    static GostTokenServices* Of(zrck::Token* token);

    // The token's storage; null only for a token without a device (tests).
    virtual TokenStorage* GetTokenStorage() = 0;
    // True when the token offers national key agreement (and so the GOST objects).
    virtual bool IsNationalSupported() = 0;
    // Parameter storage: the value registered under (id, key type), false when none is.
    virtual bool FindParam(const tru::Buffer& id, CK_KEY_TYPE keyType, tru::BufferDynamic& value) = 0;
    virtual void AddParam(const tru::Buffer& id, CK_KEY_TYPE keyType, const tru::Buffer& value) = 0;
    // Attribute-file records as a creation template of the given class.
    virtual void ConvertAttributesFromToken(const std::vector<storage::AttributeBuff>& records,
                                            CK_OBJECT_CLASS objectClass, zrck::AttributeTemplate& attributes) = 0;
};

}  // namespace qel

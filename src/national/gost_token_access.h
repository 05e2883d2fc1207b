// What the GOST key and S-box domain-parameter classes ask of the token that owns them: whether
// it offers the national objects, and its parameter storage. The driver's qel::Token answers
// from its storage and parameter storage; any other token answers only through
// GostTokenServices (a token without a device, as the unit tests use).
#pragma once

#include "cryptoki/framework_types.h"
#include "ckbase/zr_pkcs11.h"
#include "tru2/buffer.h"

namespace qel {

class Token;

class GostTokenServices {
public:
    virtual ~GostTokenServices() = default;
    virtual bool IsNationalSupported() = 0;
    // The value registered under (id, key type); false when none is.
    virtual bool FindParam(const tru::Buffer& id, CK_KEY_TYPE keyType, tru::BufferDynamic& value) = 0;
    virtual void AddParam(const tru::Buffer& id, CK_KEY_TYPE keyType, const tru::Buffer& value) = 0;
};

class GostTokenAccess {
public:
    // CKR_FUNCTION_FAILED for no token, or a token that is neither kind.
    explicit GostTokenAccess(zrck::ObjectToken* token);

    // The token's storage reports national key agreement support.
    bool IsNationalSupported() const;
    bool FindParam(const tru::Buffer& id, CK_KEY_TYPE keyType, tru::BufferDynamic& value) const;
    void AddParam(const tru::Buffer& id, CK_KEY_TYPE keyType, const tru::Buffer& value) const;

private:
    Token* driverToken_ = nullptr;
    GostTokenServices* services_ = nullptr;
};

}  // namespace qel

// A caller's CK_MECHANISM as it travels into the session engine: the type and a view of the
// parameter bytes, which stay the caller's and must not be kept beyond the call.
#ifndef ZR_OBJECTS_MECHANISM_PARAMETER_H
#define ZR_OBJECTS_MECHANISM_PARAMETER_H

#include "ckbase/base_access.h"

namespace zrck {

class MechanismParameter {
public:
    // A parameter pointer that is null with a non-zero length is refused (CKR_MECHANISM_PARAM_INVALID).
    explicit MechanismParameter(const CK_MECHANISM& mechanism);
    MechanismParameter(CK_MECHANISM_TYPE type, const tru::Buffer& parameter) : mType(type), mParameter(parameter) {}

    CK_MECHANISM_TYPE GetType() const { return mType; }
    const tru::Buffer& GetParameter() const { return mParameter; }

private:
    CK_MECHANISM_TYPE mType;
    tru::Buffer mParameter;
};

// The kinds of cryptographic operation a session record can hold.
enum CryptoStateEnum {
    CRYPTO_STATE_NONE = 0,
    CRYPTO_STATE_ENCRYPT = 1,
    CRYPTO_STATE_DECRYPT = 2,
    CRYPTO_STATE_SIGN = 3,
    CRYPTO_STATE_VERIFY = 4,
    CRYPTO_STATE_DIGEST = 5,
    CRYPTO_STATE_SIGN_RECOVER = 6,
    CRYPTO_STATE_VERIFY_RECOVER = 7,
};

}  // namespace zrck

#endif  // ZR_OBJECTS_MECHANISM_PARAMETER_H

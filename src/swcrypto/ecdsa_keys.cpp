#include "swcrypto/ecdsa_keys.h"

#include "objects/object_text.h"
#include "swcrypto/tok_ecdsa_utl.h"

namespace mbt {

std::string TokECDsaPrivateKey::ToString() const
{
    return zrck::ObjectText(*this, GetLabel(), "KeyID", GetKeyID());
}

void TokECDsaPrivateKey::SetValue(const tru::Buffer& value) { zrck::CopyKeyBuffer(value_, value); }

std::string TokECDsaPublicKey::ToString() const
{
    return zrck::ObjectText(*this, GetLabel(), "KeyID", GetKeyID());
}

void TokECDsaPublicKey::SetECPoint(const tru::Buffer& point)
{
    TokECDsaUtl::CheckDerPublicKey(point);
    zrck::CopyKeyBuffer(ecPoint_, point);
}

}  // namespace mbt

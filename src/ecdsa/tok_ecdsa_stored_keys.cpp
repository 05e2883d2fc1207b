#include "ecdsa/tok_ecdsa_stored_keys.h"

#include "ckbase/exception.h"
#include "driver/stored_object_utl.h"
#include "swcrypto/tok_ecdsa_utl.h"

namespace qel {

namespace {
const CK_MECHANISM_TYPE kAllowedMechanisms[] = {CKM_ECDSA,        CKM_ECDSA_SHA1,   CKM_ECDSA_SHA224,
                                                CKM_ECDSA_SHA256, CKM_ECDSA_SHA384, CKM_ECDSA_SHA512};
} // namespace

tru::Buffer ECDsaAllowedMechanisms() { return tru::Buffer(kAllowedMechanisms, sizeof kAllowedMechanisms); }

bool IsECDsaMechanismAllowed(CK_MECHANISM_TYPE type)
{
    for (CK_MECHANISM_TYPE allowed : kAllowedMechanisms) {
        if (allowed == type) return true;
    }
    return false;
}

void TokECDsaHWPrivateKey::InitializeWithAttributes(zrck::ObjectToken*, zrck::AttributeTemplate&)
{
    throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT,
                          "an EC private key of this token is made by key-pair generation only");
}

const tru::Buffer& TokECDsaHWPrivateKey::GetValue() const { throw zrck::Exception(CKR_KEY_UNEXTRACTABLE); }

const tru::Buffer& TokECDsaPrivateKey::GetValue() const
{
    if (GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return value_.GetData(StoredObjectUtl::StorageOf(*this));
}

void StoredECDsaPublicKey::InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes)
{
    zrck::TokECDsaPublicKey::InitializeWithAttributes(token, attributes);
    tru::BufferDynamic point;
    mbt::TokECDsaUtl::DecodeDerPublicKey(GetECPoint(), point);
    mbt::TokECDsaUtl::VerifyPublicKey(GetECParams(), point);
}

void StoredECDsaPublicKey::SetECPoint(const tru::Buffer& point)
{
    mbt::TokECDsaUtl::CheckDerPublicKey(point);
    KeepECPoint(point);
}

} // namespace qel

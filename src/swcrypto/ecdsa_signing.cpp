#include "swcrypto/ecdsa_signing.h"

#include "swcrypto/tok_ecdsa_utl.h"

#include <cstring>

namespace mbt {

void SetECDsaKeySizes(zrck::TokMechanism& mechanism)
{
    const std::pair<unsigned, unsigned> sizes = TokECDsaUtl::GetAvailableMinMaxCurves();
    mechanism.SetMinKeySize(sizes.first);
    mechanism.SetMaxKeySize(sizes.second);
}

// ---- the host as engine ----

unsigned long HostECDsa::SignatureSize(zrck::TokCurvePrivateKey& key)
{
    if (key.GetValue().Empty()) throw zrck::Exception(CKR_KEY_SIZE_RANGE);
    source_.GetECDsaUtl();
    return TokECDsaUtl::CalcSignSize(key.GetECParams());
}

void HostECDsa::Sign(zrck::TokCurvePrivateKey& key, const tru::Buffer& value, tru::BufferDynamic& signature)
{
    source_.CheckSigningKey(key);
    tru::BufferDynamic der;
    source_.GetECDsaUtl().GenSign(key.GetECParams(), key.GetValue(), value, der);
    TokECDsaUtl::DecodeDerSignatureForCurve(key.GetECParams(), der, signature);
}

bool HostECDsa::Verify(zrck::TokCurvePublicKey& key, const tru::Buffer& value, const tru::Buffer& signature)
{
    TokECDsaUtl& utl = source_.GetECDsaUtl();
    TokECDsaUtl::CheckSignSize(key.GetECParams(), signature);
    tru::BufferDynamic point;
    TokECDsaUtl::DecodeDerPublicKey(key.GetECPoint(), point);
    tru::BufferDynamic der;
    TokECDsaUtl::EncodeDerSignature(signature, der);
    return utl.VerifySign(key.GetECParams(), point, value, der);
}

// ---- one operation ----

bool ECDsaOperation::Sign(ECDsaEngine& engine, const Value& value, unsigned char* out, unsigned long* outLen)
{
    zrck::TokCurvePrivateKey& key = Private();
    const unsigned long size = engine.SignatureSize(key);
    const unsigned long available = *outLen;
    if (out == nullptr || available < size) {
        *outLen = size;
        return out == nullptr;
    }
    tru::BufferDynamic scratch;
    tru::BufferDynamic signature;
    engine.Sign(key, value(scratch), signature);
    // Both engines give r and s padded to the curve's length; anything else is not a signature.
    if (signature.Size() != size) throw zrck::Exception(CKR_DEVICE_ERROR);
    *outLen = signature.Size();
    std::memcpy(out, signature.Data(), signature.Size());
    return true;
}

} // namespace mbt

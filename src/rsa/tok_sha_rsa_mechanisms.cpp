#include "rsa/tok_sha_rsa_mechanisms.h"

#include "ckbase/exception.h"
#include "driver/token_storage.h"
#include "objects/tok_rsa_util.h"
#include "rsa/tok_rsa_keys.h"
#include "support/safe_buffer.h"
#include "swcrypto/sha_hashers.h"

namespace qel {

const ShaRsaTraits kSha1RsaTraits{CKM_SHA1_RSA_PKCS, mbt::kSha1HasherKind, &zrck::TokRsaUtl::PrepareSha1DigestInfo};
const ShaRsaTraits kSha224RsaTraits{CKM_SHA224_RSA_PKCS, mbt::kSha224HasherKind, &zrck::TokRsaUtl::PrepareSha224DigestInfo};
const ShaRsaTraits kSha256RsaTraits{CKM_SHA256_RSA_PKCS, mbt::kSha256HasherKind, &zrck::TokRsaUtl::PrepareSha256DigestInfo};
const ShaRsaTraits kSha384RsaTraits{CKM_SHA384_RSA_PKCS, mbt::kSha384HasherKind, &zrck::TokRsaUtl::PrepareSha384DigestInfo};
const ShaRsaTraits kSha512RsaTraits{CKM_SHA512_RSA_PKCS, mbt::kSha512HasherKind, &zrck::TokRsaUtl::PrepareSha512DigestInfo};

template <class Base, const ShaRsaTraits& Traits>
TokShaRsaPkcs<Base, Traits>::TokShaRsaPkcs()
{
    this->SetMechanismType(Traits.type);
    this->SetFlags(CKF_HW | CKF_SIGN | CKF_VERIFY);
    RsaKeyBinding::SetStoredKeySizes(*this);
}

template <class Base, const ShaRsaTraits& Traits>
TokShaRsaPkcs<Base, Traits>::~TokShaRsaPkcs() = default;

template <class Base, const ShaRsaTraits& Traits>
void TokShaRsaPkcs<Base, Traits>::SignInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                           zrck::TokPrivateKey& key)
{
    FreeResources();
    keys_.BindPrivate(*this, parameter, key);
    hasher_.Begin();
}

template <class Base, const ShaRsaTraits& Traits>
void TokShaRsaPkcs<Base, Traits>::VerifyInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter,
                                             zrck::TokPublicKey& key)
{
    FreeResources();
    keys_.BindPublic(*this, parameter, key);
    hasher_.Begin();
}

template <class Base, const ShaRsaTraits& Traits>
void TokShaRsaPkcs<Base, Traits>::FinishBlock(zrck::MechanismSession& session, const tru::Buffer* data,
                                              uint32_t blockLength, tru::BufferDynamic& block)
{
    tru::BufferDynamic hash;
    hasher_.Finish(data, hash);
    tru::BufferDynamic digestInfo;
    Traits.prepareDigestInfo(hash, digestInfo);
    zrck::TokRsaUtl::DoPkcs1Padding(session, zrck::TokRsaUtl::BLOCK_TYPE_SIGNATURE, digestInfo, blockLength, block);
}

template <class Base, const ShaRsaTraits& Traits>
bool TokShaRsaPkcs<Base, Traits>::SignFinished(zrck::MechanismSession& session, const tru::Buffer* data,
                                               unsigned char* out, unsigned long* outLen)
{
    const uint32_t k = RsaKeyBinding::BlockLength(keys_.Private().GetModulusBits());
    bool result = false;
    if (AnswerLengthOnly(k, out, outLen, result)) return result;
    vdk::SafeBuffer block;
    FinishBlock(session, data, k, block);
    tru::BufferDynamic signature;
    keys_.PrivateStorage().GenerateSignatureM(keys_.KeySlot(), block, signature);
    return PlaceResult(signature, out, outLen);
}

template <class Base, const ShaRsaTraits& Traits>
bool TokShaRsaPkcs<Base, Traits>::VerifyFinished(zrck::MechanismSession& session, const tru::Buffer* data,
                                                 const tru::Buffer& signature)
{
    const CK_ULONG bits = keys_.Public().GetModulusBits();
    const EParamSet paramSet = TokRsaPublicKey::ConvertBitsToParamset(bits);
    tru::BufferDynamic blob;
    keys_.PublicBlob(blob);
    RsaKeyBinding::RequireLength(RsaKeyBinding::Input::Signature, signature, static_cast<uint32_t>(bits / 8));
    vdk::SafeBuffer expected;
    FinishBlock(session, data, static_cast<uint32_t>(bits / 8), expected);
    return keys_.PublicStorage().VerifySignatureM(blob, paramSet, expected, signature);
}

template <class Base, const ShaRsaTraits& Traits>
bool TokShaRsaPkcs<Base, Traits>::Sign(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                                       unsigned long* outLen)
{
    return SignFinished(session, &data, out, outLen);
}

template <class Base, const ShaRsaTraits& Traits>
bool TokShaRsaPkcs<Base, Traits>::SignFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen)
{
    return SignFinished(session, nullptr, out, outLen);
}

template <class Base, const ShaRsaTraits& Traits>
void TokShaRsaPkcs<Base, Traits>::SignUpdate(zrck::MechanismSession&, const tru::Buffer& data)
{
    hasher_.Update(data);
}

template <class Base, const ShaRsaTraits& Traits>
void TokShaRsaPkcs<Base, Traits>::VerifyUpdate(zrck::MechanismSession&, const tru::Buffer& data)
{
    hasher_.Update(data);
}

template <class Base, const ShaRsaTraits& Traits>
bool TokShaRsaPkcs<Base, Traits>::Verify(zrck::MechanismSession& session, const tru::Buffer& data,
                                         const tru::Buffer& signature)
{
    return VerifyFinished(session, &data, signature);
}

template <class Base, const ShaRsaTraits& Traits>
bool TokShaRsaPkcs<Base, Traits>::VerifyFinal(zrck::MechanismSession& session, const tru::Buffer& signature)
{
    return VerifyFinished(session, nullptr, signature);
}

template <class Base, const ShaRsaTraits& Traits>
void TokShaRsaPkcs<Base, Traits>::FreeResources()
{
    keys_.Forget();
    hasher_.Reset();
}

template <class Base, const ShaRsaTraits& Traits>
zrck::TokMechanism* TokShaRsaPkcs<Base, Traits>::Clone() const
{
    auto* clone = new TokShaRsaPkcs<Base, Traits>();
    clone->AssignAttributes(*this);
    return clone;
}

template class TokShaRsaPkcs<zrck::TokSha1RsaPkcsMechanism, kSha1RsaTraits>;
template class TokShaRsaPkcs<zrck::TokSha224RsaPkcsMechanism, kSha224RsaTraits>;
template class TokShaRsaPkcs<zrck::TokSha256RsaPkcsMechanism, kSha256RsaTraits>;
template class TokShaRsaPkcs<zrck::TokSha384RsaPkcsMechanism, kSha384RsaTraits>;
template class TokShaRsaPkcs<zrck::TokSha512RsaPkcsMechanism, kSha512RsaTraits>;

}  // namespace qel

#include "swcrypto/sha_mechanisms.h"

#include "ckbase/exception.h"
#include "support/serialization.h"
#include "support/vdk_exception.h"

namespace mbt {

namespace {

template <class Hasher, const char* Name>
AHasher* MakeNamed()
{
    return new Hasher(Name);
}
AHasher* MakeSha1() { return new TokSha1Hasher(); }

constexpr char kSha224[] = "SHA224";
constexpr char kSha256[] = "SHA256";
constexpr char kSha384[] = "SHA384";
constexpr char kSha512[] = "SHA512";

}  // namespace

template <class Base>
ShaDigestMechanism<Base>::ShaDigestMechanism(CK_MECHANISM_TYPE type, HasherFactory factory, uint32_t digestLength)
    : factory_(factory), digestLength_(digestLength)
{
    this->SetMechanismType(type);
    this->SetFlags(CKF_DIGEST);
}

template <class Base>
ShaDigestMechanism<Base>::~ShaDigestMechanism()
{
    FreeResources();
}

template <class Base>
void ShaDigestMechanism<Base>::FreeResources()
{
    if (hasher_) hasher_->Reset();
}

template <class Base>
AHasher& ShaDigestMechanism<Base>::Started()
{
    FreeResources();
    if (!hasher_) hasher_.reset(factory_());
    hasher_->Start();
    return *hasher_;
}

template <class Base>
void ShaDigestMechanism<Base>::DigestInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter)
{
    this->EnsureParameterEmpty(parameter);
    Started();
}

template <class Base>
bool ShaDigestMechanism<Base>::Finish(unsigned char* out, unsigned long* outLen, const tru::Buffer* data)
{
    if (out == nullptr) {
        *outLen = digestLength_;
        return true;
    }
    if (*outLen < digestLength_) {
        *outLen = digestLength_;
        return false;
    }
    if (!hasher_) throw zrck::Exception(CKR_GENERAL_ERROR);
    if (data != nullptr) hasher_->Update(*data);
    hasher_->Finish(out);
    *outLen = digestLength_;
    return true;
}

template <class Base>
bool ShaDigestMechanism<Base>::Digest(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                      unsigned long* outLen)
{
    return Finish(out, outLen, &data);
}

template <class Base>
bool ShaDigestMechanism<Base>::DigestFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen)
{
    return Finish(out, outLen, nullptr);
}

template <class Base>
void ShaDigestMechanism<Base>::DigestUpdate(zrck::MechanismSession&, const tru::Buffer& data)
{
    if (!hasher_) throw zrck::Exception(CKR_GENERAL_ERROR);
    hasher_->Update(data);
}

template <class Base>
void ShaDigestMechanism<Base>::GetMechanismSessionState(tru::BufferDynamic& state)
{
    if (!hasher_) throw zrck::Exception(CKR_GENERAL_ERROR);
    vdk::OutputBuffer writer(vdk::Math::HOST, state);
    writer.WriteShortPacket(hasher_->GetContext());
    writer.Shrink();
}

template <class Base>
void ShaDigestMechanism<Base>::SetMechanismSessionState(zrck::MechanismSession&, zrck::CryptoStateEnum,
                                                        const tru::Buffer& state, zrck::TokKey* key)
{
    if (key != nullptr) throw zrck::Exception(CKR_KEY_NOT_NEEDED);
    AHasher& hasher = Started();
    tru::Buffer saved;
    try {
        vdk::InputBuffer reader(vdk::Math::HOST, state);
        // A view of the packet: the reader refuses a body shorter than its length field.
        saved = reader.ReadShortPacket();
    } catch (const vdk::Exception&) {
        throw zrck::Exception(CKR_SAVED_STATE_INVALID);
    }
    hasher.RestoreContext(saved);
}

template class ShaDigestMechanism<zrck::TokSha1Mechanism>;
template class ShaDigestMechanism<zrck::TokSha224Mechanism>;
template class ShaDigestMechanism<zrck::TokSha256Mechanism>;
template class ShaDigestMechanism<zrck::TokSha384Mechanism>;
template class ShaDigestMechanism<zrck::TokSha512Mechanism>;

TokSha1Mechanism::TokSha1Mechanism()
    : ShaDigestMechanism(CKM_SHA_1, &MakeSha1, TokSha1Hasher::SHA1_DIGEST_BYTES_LENGTH)
{
}
TokSha224Mechanism::TokSha224Mechanism()
    : ShaDigestMechanism(CKM_SHA224, &MakeNamed<TokSha256Hasher, kSha224>, TokSha256Hasher::SHA224_DIGEST_BYTES_LENGTH)
{
}
TokSha256Mechanism::TokSha256Mechanism()
    : ShaDigestMechanism(CKM_SHA256, &MakeNamed<TokSha256Hasher, kSha256>, TokSha256Hasher::SHA256_DIGEST_BYTES_LENGTH)
{
}
TokSha384Mechanism::TokSha384Mechanism()
    : ShaDigestMechanism(CKM_SHA384, &MakeNamed<TokSha512Hasher, kSha384>, TokSha512Hasher::SHA384_DIGEST_BYTES_LENGTH)
{
}
TokSha512Mechanism::TokSha512Mechanism()
    : ShaDigestMechanism(CKM_SHA512, &MakeNamed<TokSha512Hasher, kSha512>, TokSha512Hasher::SHA512_DIGEST_BYTES_LENGTH)
{
}

}  // namespace mbt

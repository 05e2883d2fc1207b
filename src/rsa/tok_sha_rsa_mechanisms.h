// SHA-1 to SHA-512 with RSA PKCS#1 v1.5 and keys kept on the token: the host hashes the data,
// wraps the hash in its DigestInfo and builds the block; the token signs it with the key in its
// key slot, or compares a signature with the expected block. Single- and multi-part.
#pragma once

#include "objects/tok_rsa_mechanisms.h"
#include "rsa/rsa_key_binding.h"
#include "support/noncopyable.h"
#include "swcrypto/sha_hashers.h"

namespace qel {

// What tells the five members apart.
struct ShaRsaTraits {
    CK_MECHANISM_TYPE type;
    const mbt::ShaHasherKind& hasher;
    void (*prepareDigestInfo)(const tru::Buffer& hash, tru::BufferDynamic& output);
};

extern const ShaRsaTraits kSha1RsaTraits;
extern const ShaRsaTraits kSha224RsaTraits;
extern const ShaRsaTraits kSha256RsaTraits;
extern const ShaRsaTraits kSha384RsaTraits;
extern const ShaRsaTraits kSha512RsaTraits;

template <class Base, const ShaRsaTraits& Traits>
class TokShaRsaPkcs : public Base, private vdk::Noncopyable {
public:
    using Base::SignInit;
    using Base::VerifyInit;

    TokShaRsaPkcs();
    ~TokShaRsaPkcs() override;

    CK_ULONG GetMinKeySize() const override { return RsaKeyBinding::MinKeySize(*this); }
    CK_ULONG GetMaxKeySize() const override { return RsaKeyBinding::MaxKeySize(*this); }
    // Binding starts a new hash, whatever an earlier operation left.
    void SignInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                  zrck::TokPrivateKey& key) override;
    // A length query or a short buffer is answered before the data is hashed.
    bool Sign(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override;
    void SignUpdate(zrck::MechanismSession& session, const tru::Buffer& data) override;
    bool SignFinal(zrck::MechanismSession& session, unsigned char* out, unsigned long* outLen) override;
    void VerifyInit(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                    zrck::TokPublicKey& key) override;
    bool Verify(zrck::MechanismSession& session, const tru::Buffer& data, const tru::Buffer& signature) override;
    void VerifyUpdate(zrck::MechanismSession& session, const tru::Buffer& data) override;
    bool VerifyFinal(zrck::MechanismSession& session, const tru::Buffer& signature) override;
    void FreeResources() override;
    zrck::TokMechanism* Clone() const override;

    uint32_t GetDigestLength() const { return Traits.hasher.digestLength; }

private:
    // The block type 1 of the DigestInfo of the finished hash.
    void FinishBlock(zrck::MechanismSession& session, const tru::Buffer* data, uint32_t blockLength,
                     tru::BufferDynamic& block);
    bool SignFinished(zrck::MechanismSession& session, const tru::Buffer* data, unsigned char* out,
                      unsigned long* outLen);
    bool VerifyFinished(zrck::MechanismSession& session, const tru::Buffer* data, const tru::Buffer& signature);

    RsaKeyBinding keys_;
    mbt::OperationHasher hasher_{Traits.hasher};
};

using TokSha1RsaPkcsMechanism = TokShaRsaPkcs<zrck::TokSha1RsaPkcsMechanism, kSha1RsaTraits>;
using TokSha224RsaPkcsMechanism = TokShaRsaPkcs<zrck::TokSha224RsaPkcsMechanism, kSha224RsaTraits>;
using TokSha256RsaPkcsMechanism = TokShaRsaPkcs<zrck::TokSha256RsaPkcsMechanism, kSha256RsaTraits>;
using TokSha384RsaPkcsMechanism = TokShaRsaPkcs<zrck::TokSha384RsaPkcsMechanism, kSha384RsaTraits>;
using TokSha512RsaPkcsMechanism = TokShaRsaPkcs<zrck::TokSha512RsaPkcsMechanism, kSha512RsaTraits>;

}  // namespace qel

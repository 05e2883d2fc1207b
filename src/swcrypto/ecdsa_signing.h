// ECDSA signing and verification around an engine that makes and checks the signatures (the
// host with the EC utility, or the token with a key in its key slot): CKM_ECDSA over the
// caller's value, and CKM_ECDSA_SHA1 to CKM_ECDSA_SHA512, which hash the data on the host first,
// in one part or several. Signatures cross the interface as r||s, each half as long as the
// curve's order.
#pragma once

#include "ckbase/exception.h"
#include "objects/tok_curve_keys.h"
#include "objects/operation_keys.h"
#include "objects/tok_ecdsa_mechanisms.h"
#include "swcrypto/sha_hashers.h"
#include "tru2/buffer.h"

#include <functional>

namespace mbt {

class TokECDsaUtl;

// Only uncompressed points are handled: CKF_EC_UNCOMPRESS, never CKF_EC_COMPRESS.
constexpr CK_FLAGS kECDsaCurveFlags = CKF_EC_F_P | (1UL << 21) /* CKF_EC_F_2M */ | CKF_EC_NAMEDCURVE |
                                      CKF_EC_UNCOMPRESS;

// Sets the key sizes every EC mechanism reports: the smallest and largest curve of the EC
// library (192 and 521).
void SetECDsaKeySizes(zrck::TokMechanism& mechanism);

// Where signatures are made and checked.
class ECDsaEngine {
public:
    virtual ~ECDsaEngine() = default;
    // The r||s length of the key's curve, after refusing a key this engine cannot sign with.
    virtual unsigned long SignatureSize(zrck::TokCurvePrivateKey& key) = 0;
    // r||s of the value, each half as long as the curve's order.
    virtual void Sign(zrck::TokCurvePrivateKey& key, const tru::Buffer& value, tru::BufferDynamic& signature) = 0;
    // False for a signature that does not verify; r||s of another length than the curve's is
    // CKR_SIGNATURE_LEN_RANGE, refused before anything is computed or sent.
    virtual bool Verify(zrck::TokCurvePublicKey& key, const tru::Buffer& value, const tru::Buffer& signature) = 0;
};

// What the host engine draws on: the EC utility (its token gives the nonces) and the check of a
// signing key before anything is signed.
class HostECDsaSource {
public:
    virtual ~HostECDsaSource() = default;
    virtual TokECDsaUtl& GetECDsaUtl() = 0;
    virtual void CheckSigningKey(const zrck::TokCurvePrivateKey&) {}
};

// The host as engine: the EC utility with the private value and the point in memory.
class HostECDsa : public ECDsaEngine {
public:
    explicit HostECDsa(HostECDsaSource& source) : source_(source) {}

    // CKR_KEY_SIZE_RANGE for a key without private value.
    unsigned long SignatureSize(zrck::TokCurvePrivateKey& key) override;
    void Sign(zrck::TokCurvePrivateKey& key, const tru::Buffer& value, tru::BufferDynamic& signature) override;
    bool Verify(zrck::TokCurvePublicKey& key, const tru::Buffer& value, const tru::Buffer& signature) override;

private:
    HostECDsaSource& source_;
};

// The EC key of one ECDSA operation (ECDSA takes no mechanism parameter) and the mechanism
// call convention around an engine.
class ECDsaOperation : public zrck::OperationKeys<zrck::TokCurvePublicKey, zrck::TokCurvePrivateKey> {
public:
    // The value to sign, made only once the caller's buffer holds the signature; it may be
    // built in the scratch buffer given.
    using Value = std::function<const tru::Buffer&(tru::BufferDynamic& scratch)>;

    ECDsaOperation() : OperationKeys(CKK_EC) {}

    // A length query or a short buffer is answered (with the curve's signature length) before
    // the value is made; true when done or only the length was asked.
    bool Sign(ECDsaEngine& engine, const Value& value, unsigned char* out, unsigned long* outLen);
};

// CKM_ECDSA: signs the caller's value (at most 128 bytes) as given; one part only.
template <class Base>
class ECDsaValueMechanism : public Base {
public:
    static constexpr uint32_t kMaxValue = 128;

    using Base::SignInit;
    using Base::VerifyInit;

    ECDsaValueMechanism()
    {
        this->SetMechanismType(CKM_ECDSA);
        SetECDsaKeySizes(*this);
    }

    void SignInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter, zrck::TokPrivateKey& key) override
    {
        FreeResources();
        operation_.BindPrivate(*this, parameter, key);
    }
    bool Sign(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override
    {
        operation_.Private();
        if (data.Size() > kMaxValue) throw zrck::Exception(CKR_DATA_LEN_RANGE);
        return operation_.Sign(Engine(), [&data](tru::BufferDynamic&) -> const tru::Buffer& { return data; }, out,
                               outLen);
    }
    void VerifyInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter, zrck::TokPublicKey& key) override
    {
        FreeResources();
        operation_.BindPublic(*this, parameter, key);
    }
    bool Verify(zrck::MechanismSession&, const tru::Buffer& data, const tru::Buffer& signature) override
    {
        return Engine().Verify(operation_.Public(), data, signature);
    }
    void FreeResources() override { operation_.Forget(); }

protected:
    virtual ECDsaEngine& Engine() = 0;

private:
    ECDsaOperation operation_;
};

// CKM_ECDSA_SHAn: the host hashes the data, in one part or several, and the digest is signed
// or verified whole. A length query or a short buffer leaves the digest open.
template <class Base, CK_MECHANISM_TYPE Type, const ShaHasherKind& Kind>
class ECDsaShaMechanism : public Base {
public:
    using Base::SignInit;
    using Base::VerifyInit;

    ECDsaShaMechanism()
    {
        this->SetMechanismType(Type);
        SetECDsaKeySizes(*this);
    }
    ~ECDsaShaMechanism() override { ECDsaShaMechanism::FreeResources(); }

    // Each operation starts a new digest.
    void SignInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter, zrck::TokPrivateKey& key) override
    {
        FreeResources();
        operation_.BindPrivate(*this, parameter, key);
        hasher_.Begin();
    }
    bool Sign(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out, unsigned long* outLen) override
    {
        return SignDigest(&data, out, outLen);
    }
    void SignUpdate(zrck::MechanismSession&, const tru::Buffer& data) override { hasher_.Update(data); }
    bool SignFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen) override
    {
        return SignDigest(nullptr, out, outLen);
    }
    void VerifyInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter, zrck::TokPublicKey& key) override
    {
        FreeResources();
        operation_.BindPublic(*this, parameter, key);
        hasher_.Begin();
    }
    bool Verify(zrck::MechanismSession&, const tru::Buffer& data, const tru::Buffer& signature) override
    {
        return VerifyDigest(&data, signature);
    }
    void VerifyUpdate(zrck::MechanismSession&, const tru::Buffer& data) override { hasher_.Update(data); }
    bool VerifyFinal(zrck::MechanismSession&, const tru::Buffer& signature) override
    {
        return VerifyDigest(nullptr, signature);
    }
    void FreeResources() override
    {
        operation_.Forget();
        hasher_.Reset();
    }

    uint32_t GetDigestLength() const { return Kind.digestLength; }

protected:
    virtual ECDsaEngine& Engine() = 0;

private:
    bool SignDigest(const tru::Buffer* data, unsigned char* out, unsigned long* outLen)
    {
        return operation_.Sign(
            Engine(),
            [this, data](tru::BufferDynamic& digest) -> const tru::Buffer& {
                hasher_.Finish(data, digest);
                return digest;
            },
            out, outLen);
    }
    bool VerifyDigest(const tru::Buffer* data, const tru::Buffer& signature)
    {
        zrck::TokCurvePublicKey& key = operation_.Public();
        tru::BufferDynamic digest;
        hasher_.Finish(data, digest);
        return Engine().Verify(key, digest, signature);
    }

    ECDsaOperation operation_;
    OperationHasher hasher_{Kind};
};

// A signature mechanism of the family Base whose signatures an engine of class EngineOf makes,
// built on the mechanism itself.
template <class Base, class EngineOf, CK_FLAGS Flags>
class SignedBy : public Base {
public:
    SignedBy() { this->SetFlags(Flags); }

protected:
    ECDsaEngine& Engine() override { return engine_; }

private:
    EngineOf engine_{*this};
};

template <class Base>
class WithHostSource : public Base, public HostECDsaSource {};

template <class Base>
using OnHost = SignedBy<WithHostSource<Base>, HostECDsa, CKF_SIGN | CKF_VERIFY | kECDsaCurveFlags>;

// ECDSA computed on the host. Abstract: a subclass gives GetECDsaUtl (the token whose random
// generator gives the nonces) and Clone; no token offers these mechanisms.
using TokECDsaSignMechanism = OnHost<ECDsaValueMechanism<zrck::TokECDsaSignMechanism>>;

template <class Base, CK_MECHANISM_TYPE Type, const ShaHasherKind& Kind>
using HostECDsaSha = OnHost<ECDsaShaMechanism<Base, Type, Kind>>;

using TokECDsaSignWithSha1Mechanism = HostECDsaSha<zrck::TokECDsaSignWithSha1Mechanism, CKM_ECDSA_SHA1, kSha1HasherKind>;
using TokECDsaSignWithSha224Mechanism =
    HostECDsaSha<zrck::TokECDsaSignWithSha224Mechanism, CKM_ECDSA_SHA224, kSha224HasherKind>;
using TokECDsaSignWithSha256Mechanism =
    HostECDsaSha<zrck::TokECDsaSignWithSha256Mechanism, CKM_ECDSA_SHA256, kSha256HasherKind>;
using TokECDsaSignWithSha384Mechanism =
    HostECDsaSha<zrck::TokECDsaSignWithSha384Mechanism, CKM_ECDSA_SHA384, kSha384HasherKind>;
using TokECDsaSignWithSha512Mechanism =
    HostECDsaSha<zrck::TokECDsaSignWithSha512Mechanism, CKM_ECDSA_SHA512, kSha512HasherKind>;

} // namespace mbt

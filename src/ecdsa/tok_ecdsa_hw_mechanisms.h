// ECDSA on the device: CKM_ECDSA signs the caller's value with a key in a device key slot and
// has the token check signatures against a public point; CKM_ECDSA_SHA1 to CKM_ECDSA_SHA512
// hash the data on the host and do the same with the digest; CKM_EC_KEY_PAIR_GEN has the token
// generate a pair on P-192, P-256 or P-521. Signatures cross the interface as r||s, each half
// as long as the curve's order; the token speaks DER.
#pragma once

#include "ecdsa/ecdsa_token_utl.h"
#include "objects/tok_key_pair_gen_mechanisms.h"
#include "support/noncopyable.h"
#include "swcrypto/ecdsa_signing.h"
#include "swcrypto/token_mechanism.h"

#include <memory>

namespace qel {

// The token as engine: it signs with the key's device key slot and checks r||s against a
// public point. A mechanism or key without token is CKR_FUNCTION_FAILED; the token checks only
// P-192, P-256 and P-521 points (CKR_ATTRIBUTE_VALUE_INVALID).
class DeviceECDsa : public mbt::ECDsaEngine {
public:
    explicit DeviceECDsa(const zrck::TokMechanism& mechanism) : mechanism_(mechanism) {}

    unsigned long SignatureSize(zrck::TokCurvePrivateKey& key) override;
    void Sign(zrck::TokCurvePrivateKey& key, const tru::Buffer& value, tru::BufferDynamic& signature) override;
    bool Verify(zrck::TokCurvePublicKey& key, const tru::Buffer& value, const tru::Buffer& signature) override;

private:
    void RequireToken() const;

    const zrck::TokMechanism& mechanism_;
};

// A signature mechanism whose signatures the device makes.
template <class Base>
using OnDevice = mbt::SignedBy<Base, DeviceECDsa, CKF_HW | CKF_SIGN | CKF_VERIFY | mbt::kECDsaCurveFlags>;

class TokECDsaHWSignMechanism
    : public TokenMechanism<TokECDsaHWSignMechanism, OnDevice<mbt::ECDsaValueMechanism<zrck::TokECDsaSignMechanism>>> {
};

template <class Base, CK_MECHANISM_TYPE Type, const mbt::ShaHasherKind& Kind>
using DeviceECDsaSha = OnDevice<mbt::ECDsaShaMechanism<Base, Type, Kind>>;

// CKM_ECDSA_SHAn on the device; Name is the class name.
template <class Base, CK_MECHANISM_TYPE Type, const mbt::ShaHasherKind& Kind, const char* Name>
class TokECDsaHWSignWithSha
    : public TokenMechanism<TokECDsaHWSignWithSha<Base, Type, Kind, Name>, DeviceECDsaSha<Base, Type, Kind>> {
public:
    const char* GetObjectClassName() const override { return Name; }
};

inline constexpr char kECDsaHWSha1Name[] = "TokECDsaHWSignWithSha1Mechanism";
inline constexpr char kECDsaHWSha224Name[] = "TokECDsaHWSignWithSha224Mechanism";
inline constexpr char kECDsaHWSha256Name[] = "TokECDsaHWSignWithSha256Mechanism";
inline constexpr char kECDsaHWSha384Name[] = "TokECDsaHWSignWithSha384Mechanism";
inline constexpr char kECDsaHWSha512Name[] = "TokECDsaHWSignWithSha512Mechanism";

using TokECDsaHWSignWithSha1Mechanism =
    TokECDsaHWSignWithSha<zrck::TokECDsaSignWithSha1Mechanism, CKM_ECDSA_SHA1, mbt::kSha1HasherKind, kECDsaHWSha1Name>;
using TokECDsaHWSignWithSha224Mechanism = TokECDsaHWSignWithSha<zrck::TokECDsaSignWithSha224Mechanism, CKM_ECDSA_SHA224,
                                                                mbt::kSha224HasherKind, kECDsaHWSha224Name>;
using TokECDsaHWSignWithSha256Mechanism = TokECDsaHWSignWithSha<zrck::TokECDsaSignWithSha256Mechanism, CKM_ECDSA_SHA256,
                                                                mbt::kSha256HasherKind, kECDsaHWSha256Name>;
using TokECDsaHWSignWithSha384Mechanism = TokECDsaHWSignWithSha<zrck::TokECDsaSignWithSha384Mechanism, CKM_ECDSA_SHA384,
                                                                mbt::kSha384HasherKind, kECDsaHWSha384Name>;
using TokECDsaHWSignWithSha512Mechanism = TokECDsaHWSignWithSha<zrck::TokECDsaSignWithSha512Mechanism, CKM_ECDSA_SHA512,
                                                                mbt::kSha512HasherKind, kECDsaHWSha512Name>;

class TokECDsaHWKeyPairGenMechanism : public zrck::TokECDsaKeyPairGenMechanism, private vdk::Noncopyable {
public:
    TokECDsaHWKeyPairGenMechanism();

    KeyPair GenerateKeyPair(zrck::MechanismSession& session, const zrck::MechanismParameter& parameter,
                            zrck::AttributeTemplate& publicAttributes,
                            zrck::AttributeTemplate& privateAttributes) override;
    void FreeResources() override {}
    zrck::TokMechanism* Clone() const override;
    KeyPointer CreatePublicKey() override;
    KeyPointer CreatePrivateKey() override;
    TokECDsaUtl& GetECDsaUtl() { return utl_.Get(*this); }

private:
    MechanismECDsaUtl utl_;
};

} // namespace qel

// ECDSA computed on the host and bound to a token: CKM_EC_KEY_PAIR_GEN, CKM_ECDSA and
// CKM_ECDSA_SHA1 to CKM_ECDSA_SHA512 on any named curve of the EC utility, the token's random
// generator giving key material and nonces. No token offers them (the token's table lists the device mechanisms only); a copy is
// made only by Clone of an existing one.
#pragma once

#include "ecdsa/ecdsa_token_utl.h"
#include "swcrypto/ecdsa_key_pair_gen.h"
#include "swcrypto/ecdsa_signing.h"
#include "swcrypto/token_mechanism.h"

namespace qel {

// A signing key must belong to a token (CKR_FUNCTION_FAILED); a mechanism without token is
// CKR_FUNCTION_FAILED wherever the EC utility is needed.
template <class Derived, class HostBase>
class TokenHostECDsa : public TokenMechanism<Derived, HostBase> {
public:
    mbt::TokECDsaUtl& GetECDsaUtl() override { return utl_.Get(*this); }
    void CheckSigningKey(const zrck::TokCurvePrivateKey& key) override
    {
        if (key.GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    }

private:
    MechanismECDsaUtl utl_;
};

class TokECDsaSignMechanism : public TokenHostECDsa<TokECDsaSignMechanism, mbt::TokECDsaSignMechanism> {};

template <class Base, CK_MECHANISM_TYPE Type, const mbt::ShaHasherKind& Kind>
class TokECDsaSignWithSha : public TokenHostECDsa<TokECDsaSignWithSha<Base, Type, Kind>, mbt::HostECDsaSha<Base, Type, Kind>> {
};

using TokECDsaSignWithSha1Mechanism =
    TokECDsaSignWithSha<zrck::TokECDsaSignWithSha1Mechanism, CKM_ECDSA_SHA1, mbt::kSha1HasherKind>;
using TokECDsaSignWithSha224Mechanism =
    TokECDsaSignWithSha<zrck::TokECDsaSignWithSha224Mechanism, CKM_ECDSA_SHA224, mbt::kSha224HasherKind>;
using TokECDsaSignWithSha256Mechanism =
    TokECDsaSignWithSha<zrck::TokECDsaSignWithSha256Mechanism, CKM_ECDSA_SHA256, mbt::kSha256HasherKind>;
using TokECDsaSignWithSha384Mechanism =
    TokECDsaSignWithSha<zrck::TokECDsaSignWithSha384Mechanism, CKM_ECDSA_SHA384, mbt::kSha384HasherKind>;
using TokECDsaSignWithSha512Mechanism =
    TokECDsaSignWithSha<zrck::TokECDsaSignWithSha512Mechanism, CKM_ECDSA_SHA512, mbt::kSha512HasherKind>;

// Makes the keys the token only keeps (the private value in a data file): the private key
// must be a private token object (CKR_ATTRIBUTE_VALUE_INVALID), the session read-write whatever
// the templates say (CKR_SESSION_READ_ONLY).
class TokECDsaKeyPairGenMechanism
    : public TokenMechanism<TokECDsaKeyPairGenMechanism, mbt::TokECDsaKeyPairGenMechanism> {
public:
    mbt::TokECDsaUtl& GetECDsaUtl() override { return utl_.Get(*this); }
    KeyPointer CreatePublicKey() override;
    KeyPointer CreatePrivateKey() override;

protected:
    zrck::ObjectToken& CheckRequest(zrck::MechanismSession& session, const zrck::CurveTemplateFacts& publicFacts,
                              const zrck::CurveTemplateFacts& privateFacts, bool privateTemplateGiven) override;

private:
    MechanismECDsaUtl utl_;
};

} // namespace qel

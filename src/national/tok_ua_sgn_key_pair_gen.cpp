#include "national/tok_ua_sgn_key_pair_gen.h"

#include "ckbase/exception.h"
#include "cryptoki/names/ck_names.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/token.h"
#include "driver/template_value_detach.h"
#include "driver/token_storage.h"
#include "driver/curve_key_pair.h"
#include "national/tok_ua_sgn_domain_params.h"
#include "national/tok_ua_sgn_keys.h"
#include "national/tok_ua_sgn_mechanisms.h"
#include "national/ua_sgn_util.h"
#include "national/ua_token.h"

#include <cstring>

namespace qel {

namespace {

constexpr CK_FLAGS kKeyPairGenFlags =
    CKF_HW | CKF_GENERATE_KEY_PAIR | kCkfEcF2m | kCkfEcParameters | CKF_EC_NAMEDCURVE | CKF_EC_COMPRESS;

using TemplateFacts = CurveTemplateFacts;

tru::Buffer ValueOf(const zrck::Attribute& entry)
{
    return tru::Buffer(entry.GetValue(), static_cast<uint32_t>(entry.GetLength()));
}

// The curve both templates agree on; with none named, the token's default set with DKE1.
tru::Buffer ChooseCurve(const TemplateFacts& publicFacts, const TemplateFacts& privateFacts, EParamSet defaultSet)
{
    if (publicFacts.ecParams == nullptr && privateFacts.ecParams == nullptr) {
        const tru::Buffer* block = UASgnParamsetBlock(defaultSet);
        if (block == nullptr) throw zrck::Exception(CKR_TEMPLATE_INCOMPLETE);
        return *block;
    }
    if (publicFacts.ecParams == nullptr) return ValueOf(*privateFacts.ecParams);
    if (privateFacts.ecParams == nullptr) return ValueOf(*publicFacts.ecParams);
    const tru::Buffer pub = ValueOf(*publicFacts.ecParams);
    const tru::Buffer priv = ValueOf(*privateFacts.ecParams);
    if (pub.Size() != priv.Size() || (pub.Size() != 0 && std::memcmp(pub.Data(), priv.Data(), pub.Size()) != 0)) {
        throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT);
    }
    return pub;
}

} // namespace

TokUASgnKeyPairGenMechanism::TokUASgnKeyPairGenMechanism()
{
    SetMechanismType(CKM_DSTU4145_KEY_PAIR_GEN);
    SetUASgnKeySizes(*this);
    SetFlags(kKeyPairGenFlags);
}

zrck::TokMechanism::KeyPair TokUASgnKeyPairGenMechanism::GenerateKeyPair(zrck::MechanismSession& session,
                                                                         const zrck::MechanismParameter& parameter,
                                                                         zrck::AttributeTemplate& publicAttributes,
                                                                         zrck::AttributeTemplate& privateAttributes)
{
    if (GetMechanismType() != CKM_DSTU4145_KEY_PAIR_GEN) throw zrck::Exception(CKR_MECHANISM_INVALID);
    EnsureParameterEmpty(parameter);
    const TemplateFacts publicFacts = WalkPublicCurveTemplate(publicAttributes, CKK_DSTU4145, CKA_EC_POINT);
    const TemplateFacts privateFacts = WalkPrivateCurveTemplate(privateAttributes, CKK_DSTU4145, CKA_VALUE);
    if (!privateFacts.token || !privateFacts.isPrivate) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    if (publicFacts.isPrivate) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    if (session.IsReadOnly()) throw zrck::Exception(CKR_SESSION_READ_ONLY);
    zrck::ObjectToken* token = session.GetOwnerToken();
    if (token == nullptr) throw zrck::Exception(CKR_DEVICE_REMOVED);
    if (!token->IsLogged()) throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
    const UAToken services = UAToken::Of(token);
    // The curve is copied: the template entries are replaced below.
    const tru::BufferDynamic curve(ChooseCurve(publicFacts, privateFacts, services.GetDefaultUAParamset()));
    tru::BufferDynamic sbox;
    const EParamSet paramSet = UASgnUtl::ParseECParams(curve, sbox, services.GetDefaultUAParamset());

    tru::BufferDynamic point;
    GeneratedPairFiles files;
    services.GetUAStorage().GenerateKeyPairM(paramSet, TokenObject, publicFacts.token ? TokenObject : NotKeptObject,
                                             point, files.keySlot, files.publicObjectFile,
                                             files.privateAttributeFile, files.publicAttributeFile);
    UASgnUtl::AddECPointAsnTag(point);
    return BuildGeneratedCurvePair(session, GetTokenPtr() != nullptr ? GetTokenPtr() : token,
                                   services.GetUAStorage(), files, CKK_DSTU4145, CKM_DSTU4145_KEY_PAIR_GEN, curve,
                                   point, publicFacts.token, publicAttributes, privateAttributes, CreatePrivateKey(),
                                   CreatePublicKey());
}

zrck::TokMechanism* TokUASgnKeyPairGenMechanism::Clone() const
{
    auto* clone = new TokUASgnKeyPairGenMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

zrck::TokMechanism::KeyPointer TokUASgnKeyPairGenMechanism::CreatePublicKey()
{
    return KeyPointer(new TokUASgnPublicKey());
}

zrck::TokMechanism::KeyPointer TokUASgnKeyPairGenMechanism::CreatePrivateKey()
{
    return KeyPointer(new TokUASgnPrivateKey());
}

} // namespace qel

// ECDSA computed on the host: CKM_ECDSA and CKM_ECDSA_SHA1 to CKM_ECDSA_SHA512 through small
// concrete classes whose EC utility draws from a seeded generator; OpenSSL checks every
// signature from the public point.
#include "swcrypto/ecdsa_signing.h"

#include "evp_helpers.h"
#include "fake_random_utl.h"
#include "null_session.h"
#include "objects/class_fakes.h"
#include "swcrypto/tok_ecdsa_utl.h"
#include "swcrypto_test_util.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <vector>

namespace {

using tokensim::crypto::testing::Digest;

using Bytes = std::vector<uint8_t>;
using swtest::CodeOf;

Bytes Of(const tru::Buffer& b) { return Bytes(b.Data(), b.Data() + b.Size()); }
tru::Buffer View(const Bytes& b) { return tru::Buffer(b.data(), static_cast<uint32_t>(b.size())); }

// The abstract host mechanism Host with a seeded random source.
template <class Host>
class Seeded : public Host {
public:
    swtest::FakeRandomUtl utl{11};
    mbt::TokECDsaUtl& GetECDsaUtl() override { return utl; }
    zrck::TokMechanism* Clone() const override { return nullptr; }
};

struct HostCurve {
    const char* name;
    const tru::Buffer* oid;
    const char* group;  // OpenSSL's name
    unsigned long signSize;
};

const HostCurve kCurves[] = {
    {"secp192r1", &mbt::TokECDsaUtl::SECP192R1_OID, "P-192", 48},
    {"secp256r1", &mbt::TokECDsaUtl::SECP256R1_OID, "P-256", 64},
    {"secp521r1", &mbt::TokECDsaUtl::SECP521R1_OID, "P-521", 132},
    {"brainpoolP384r1", &mbt::TokECDsaUtl::BP384R1_OID, "brainpoolP384r1", 96},
    {"secp256k1", &mbt::TokECDsaUtl::SECP256K1_OID, "secp256k1", 64},
};

struct ShaMember {
    const char* digest;  // OpenSSL's name
    std::unique_ptr<zrck::TokMechanism> (*make)();
    CK_MECHANISM_TYPE type;
};

template <class Host>
std::unique_ptr<zrck::TokMechanism> Make()
{
    return std::unique_ptr<zrck::TokMechanism>(new Seeded<Host>());
}

const ShaMember kShaMembers[] = {
    {"SHA1", &Make<mbt::TokECDsaSignWithSha1Mechanism>, CKM_ECDSA_SHA1},
    {"SHA224", &Make<mbt::TokECDsaSignWithSha224Mechanism>, CKM_ECDSA_SHA224},
    {"SHA256", &Make<mbt::TokECDsaSignWithSha256Mechanism>, CKM_ECDSA_SHA256},
    {"SHA384", &Make<mbt::TokECDsaSignWithSha384Mechanism>, CKM_ECDSA_SHA384},
    {"SHA512", &Make<mbt::TokECDsaSignWithSha512Mechanism>, CKM_ECDSA_SHA512},
};

class HostEcdsa : public ::testing::TestWithParam<HostCurve> {
protected:
    void SetUp() override
    {
        swtest::FakeRandomUtl utl(static_cast<unsigned>(GetParam().signSize));
        tru::BufferDynamic d;
        tru::BufferDynamic q;
        utl.GenKeyPair(*GetParam().oid, d, q);
        point = Of(q);
        privateKey.SetValue(d);
        privateKey.SetECParams(*GetParam().oid);
        mbt::TokECDsaUtl::EncodeDerPublicKey(q);
        publicKey.SetECPoint(q);
        publicKey.SetECParams(*GetParam().oid);
    }

    zrck::MechanismParameter Parameter(const zrck::TokMechanism& mechanism)
    {
        return zrck::MechanismParameter(mechanism.GetMechanismType(), tru::Buffer());
    }

    // Signs in one call after a length query.
    Bytes SignOnce(zrck::TokMechanism& mechanism, const Bytes& data)
    {
        mechanism.SignInit(session, Parameter(mechanism), privateKey);
        unsigned long length = 0;
        EXPECT_TRUE(mechanism.Sign(session, View(data), nullptr, &length));
        EXPECT_EQ(length, GetParam().signSize);
        Bytes signature(length);
        EXPECT_TRUE(mechanism.Sign(session, View(data), signature.data(), &length));
        EXPECT_EQ(length, GetParam().signSize) << "r and s are each as long as the curve";
        return signature;
    }

    bool OpenSslVerifies(const Bytes& digest, const Bytes& signature)
    {
        return tokensim::crypto::testing::EcdsaRawVerifies(GetParam().group, point, digest, signature);
    }

    swtest::NullSession session;
    zrtest::FakeECDsaPrivateKey privateKey;
    zrtest::FakeECDsaPublicKey publicKey;
    Bytes point;
};

TEST_P(HostEcdsa, EcdsaSignsTheValueAsGivenUpTo128Bytes)
{
    Seeded<mbt::TokECDsaSignMechanism> mechanism;
    const Bytes value = Digest("SHA256", Bytes{'h', 'o', 's', 't'});
    const Bytes first = SignOnce(mechanism, value);
    EXPECT_TRUE(OpenSslVerifies(value, first));
    const Bytes second = SignOnce(mechanism, value);
    EXPECT_NE(first, second) << "randomised: each signature draws its own nonce";

    mechanism.VerifyInit(session, Parameter(mechanism), publicKey);
    EXPECT_TRUE(mechanism.Verify(session, View(value), View(second)));
    Bytes changed = first;
    changed[changed.size() / 2] ^= 0x04;
    EXPECT_FALSE(mechanism.Verify(session, View(value), View(changed)));
    for (const Bytes& wrong : {Bytes(first.begin(), first.end() - 1), Bytes(first.begin() + 1, first.end() - 1),
                               Bytes(first.size() + 2, 0x01)}) {
        mechanism.VerifyInit(session, Parameter(mechanism), publicKey);
        EXPECT_EQ(CodeOf([&] { mechanism.Verify(session, View(value), View(wrong)); }), CKR_SIGNATURE_LEN_RANGE)
            << "r||s of " << wrong.size() << " bytes for a curve whose r||s has " << first.size();
    }

    const Bytes longest(128, 0x33);
    EXPECT_TRUE(OpenSslVerifies(longest, SignOnce(mechanism, longest)));
    mechanism.SignInit(session, Parameter(mechanism), privateKey);
    unsigned long length = 0;
    EXPECT_EQ(CodeOf([&] { mechanism.Sign(session, View(Bytes(129, 0x33)), nullptr, &length); }),
              CKR_DATA_LEN_RANGE);
}

TEST_P(HostEcdsa, ShaMechanismsSignInOneOrManyPartsAndKeepTheDigestOpenOverALengthQuery)
{
    Bytes message(1000);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 13);
    const Bytes head(message.begin(), message.begin() + 1);
    const Bytes tail(message.begin() + 1, message.end());
    for (const ShaMember& member : kShaMembers) {
        SCOPED_TRACE(member.digest);
        std::unique_ptr<zrck::TokMechanism> mechanism = member.make();
        EXPECT_EQ(mechanism->GetMechanismType(), member.type);
        const Bytes digest = Digest(member.digest, message);
        const Bytes onePart = SignOnce(*mechanism, message);
        EXPECT_TRUE(OpenSslVerifies(digest, onePart));

        mechanism->SignInit(session, Parameter(*mechanism), privateKey);
        mechanism->SignUpdate(session, View(head));
        unsigned long length = 0;
        EXPECT_TRUE(mechanism->SignFinal(session, nullptr, &length));
        Bytes multiPart(length - 1);
        length = multiPart.size();
        EXPECT_FALSE(mechanism->SignFinal(session, multiPart.data(), &length)) << "short buffer";
        EXPECT_EQ(length, GetParam().signSize);
        mechanism->SignUpdate(session, View(tail));
        multiPart.resize(length);
        EXPECT_TRUE(mechanism->SignFinal(session, multiPart.data(), &length));
        EXPECT_TRUE(OpenSslVerifies(digest, multiPart)) << "the digest covers every part";

        mechanism->VerifyInit(session, Parameter(*mechanism), publicKey);
        mechanism->VerifyUpdate(session, View(head));
        mechanism->VerifyUpdate(session, View(tail));
        EXPECT_TRUE(mechanism->VerifyFinal(session, View(onePart)));
        mechanism->VerifyInit(session, Parameter(*mechanism), publicKey);
        EXPECT_TRUE(mechanism->Verify(session, View(message), View(multiPart)));
        Bytes changed = multiPart;
        changed.back() ^= 0x01;
        mechanism->VerifyInit(session, Parameter(*mechanism), publicKey);
        EXPECT_FALSE(mechanism->Verify(session, View(message), View(changed)));
    }
}

INSTANTIATE_TEST_SUITE_P(NamedCurves, HostEcdsa, ::testing::ValuesIn(kCurves),
                         [](const ::testing::TestParamInfo<HostCurve>& info) { return std::string(info.param.name); });

using HostEcdsaRefusals = HostEcdsa;

TEST_P(HostEcdsaRefusals, KeysParametersAndCallsOutOfPlace)
{
    Seeded<mbt::TokECDsaSignWithSha256Mechanism> sha;
    Seeded<mbt::TokECDsaSignMechanism> ecdsa;
    const Bytes data(20, 0x01);
    unsigned long length = 0;
    const Bytes parameterBytes = {0x01};
    zrtest::FakeRsaPublicKey rsaKey;
    zrtest::FakeECDsaPrivateKey noValue;
    noValue.SetECParams(*GetParam().oid);
    const struct {
        const char* name;
        std::function<void()> call;
        CK_RV expected;
    } rows[] = {
        {"parameter bytes",
         [&] { sha.SignInit(session, zrck::MechanismParameter(CKM_ECDSA_SHA256, View(parameterBytes)), privateKey); },
         CKR_MECHANISM_PARAM_INVALID},
        {"not an EC key", [&] { sha.VerifyInit(session, Parameter(sha), rsaKey); }, CKR_KEY_TYPE_INCONSISTENT},
        {"update before any Init", [&] { Seeded<mbt::TokECDsaSignWithSha1Mechanism>().SignUpdate(session, View(data)); },
         CKR_GENERAL_ERROR},
        {"no private value",
         [&] {
             ecdsa.SignInit(session, Parameter(ecdsa), noValue);
             ecdsa.Sign(session, View(data), nullptr, &length);
         },
         CKR_KEY_SIZE_RANGE},
        {"ECDSA in parts",
         [&] {
             ecdsa.SignInit(session, Parameter(ecdsa), privateKey);
             ecdsa.SignUpdate(session, View(data));
         },
         CKR_MECHANISM_INVALID},
        {"failing random source",
         [&] {
             ecdsa.utl.fail = true;
             SignOnce(ecdsa, data);
         },
         CKR_DEVICE_REMOVED},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CodeOf(row.call), row.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(OneCurve, HostEcdsaRefusals, ::testing::Values(kCurves[1]),
                         [](const ::testing::TestParamInfo<HostCurve>& info) { return std::string(info.param.name); });

TEST(HostEcdsaInfo, EveryHostMechanismReportsTheCurveSizesAndUncompressedPoints)
{
    std::vector<std::unique_ptr<zrck::TokMechanism>> mechanisms;
    mechanisms.push_back(Make<mbt::TokECDsaSignMechanism>());
    for (const ShaMember& member : kShaMembers) mechanisms.push_back(member.make());
    for (const auto& mechanism : mechanisms) {
        CK_MECHANISM_INFO info{};
        mechanism->FillMechanismInfo(&info);
        EXPECT_EQ(info.ulMinKeySize, 192u);
        EXPECT_EQ(info.ulMaxKeySize, 521u);
        EXPECT_EQ(info.flags, CKF_SIGN | CKF_VERIFY | mbt::kECDsaCurveFlags) << mechanism->GetObjectClassName();
        EXPECT_EQ(info.flags & (CKF_HW | CKF_EC_COMPRESS), 0u);
    }
}

}  // namespace

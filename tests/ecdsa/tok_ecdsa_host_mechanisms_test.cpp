// The host-computed ECDSA mechanisms bound to a token: what they do without one, and their
// copies for a session.
#include "ecdsa/tok_ecdsa_host_mechanisms.h"

#include "cryptoki/memory_token.h"
#include "ecdsa/tok_ecdsa_stored_keys.h"
#include "key_pair_request.h"
#include "null_session.h"
#include "objects/template_builder.h"
#include "objects/class_fakes.h"
#include "swcrypto_test_util.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using swtest::CodeOf;

struct Member {
    CK_MECHANISM_TYPE type;
    const char* className;
    std::unique_ptr<zrck::TokMechanism> (*make)();
};

template <class Mechanism>
std::unique_ptr<zrck::TokMechanism> Make()
{
    return std::unique_ptr<zrck::TokMechanism>(new Mechanism());
}

const Member kMembers[] = {
    {CKM_ECDSA, "TokECDsaSignMechanism", &Make<qel::TokECDsaSignMechanism>},
    {CKM_ECDSA_SHA1, "TokECDsaSignWithSha1Mechanism", &Make<qel::TokECDsaSignWithSha1Mechanism>},
    {CKM_ECDSA_SHA224, "TokECDsaSignWithSha224Mechanism", &Make<qel::TokECDsaSignWithSha224Mechanism>},
    {CKM_ECDSA_SHA256, "TokECDsaSignWithSha256Mechanism", &Make<qel::TokECDsaSignWithSha256Mechanism>},
    {CKM_ECDSA_SHA384, "TokECDsaSignWithSha384Mechanism", &Make<qel::TokECDsaSignWithSha384Mechanism>},
    {CKM_ECDSA_SHA512, "TokECDsaSignWithSha512Mechanism", &Make<qel::TokECDsaSignWithSha512Mechanism>},
};

TEST(TokenHostEcdsa, ClonesAreIdleCopiesOfTheSameClass)
{
    for (const Member& member : kMembers) {
        SCOPED_TRACE(member.className);
        std::unique_ptr<zrck::TokMechanism> mechanism = member.make();
        mechanism->SetMinKeySize(200);
        std::unique_ptr<zrck::TokMechanism> clone(mechanism->Clone());
        EXPECT_EQ(std::string(clone->GetObjectClassName()), member.className);
        EXPECT_EQ(typeid(*clone), typeid(*mechanism));
        EXPECT_EQ(clone->GetMechanismType(), member.type);
        EXPECT_EQ(clone->GetFlags(), CKF_SIGN | CKF_VERIFY | mbt::kECDsaCurveFlags) << "no CKF_HW: the host computes";
        EXPECT_EQ(clone->GetMinKeySize(), 200u);
        EXPECT_EQ(clone->GetMaxKeySize(), 521u);
    }
}

TEST(TokenHostEcdsa, WithoutTokenThereIsNoRandomSourceAndNothingIsSigned)
{
    swtest::NullSession session;
    zrtest::FakeECDsaPrivateKey privateKey;
    privateKey.SetECParams(mbt::TokECDsaUtl::SECP256K1_OID);
    const uint8_t value[32] = {0x01};
    privateKey.SetValue(tru::Buffer(value, sizeof value));
    zrtest::FakeECDsaPublicKey publicKey;
    publicKey.SetECParams(mbt::TokECDsaUtl::SECP256K1_OID);
    for (const Member& member : kMembers) {
        SCOPED_TRACE(member.className);
        std::unique_ptr<zrck::TokMechanism> mechanism = member.make();
        const zrck::MechanismParameter parameter(member.type, tru::Buffer());
        const tru::Buffer data(value, sizeof value);
        unsigned long length = 0;
        mechanism->SignInit(session, parameter, privateKey);
        EXPECT_EQ(CodeOf([&] { mechanism->Sign(session, data, nullptr, &length); }), CKR_FUNCTION_FAILED);
        mechanism->VerifyInit(session, parameter, publicKey);
        EXPECT_EQ(CodeOf([&] { mechanism->Verify(session, data, tru::Buffer(value, sizeof value)); }),
                  CKR_FUNCTION_FAILED);
    }
}

}  // namespace

namespace {

class TokenHostPairGeneration : public ::testing::Test {
protected:
    void SetUp() override
    {
        token.logged = true;
        session.SetReadOnly(false);
        mechanism.SetTokenPtr(&token);
    }

    CK_RV Generate(zrtest::Attrs& pub, zrtest::Attrs& priv, zrck::TokMechanism::KeyPair* pair = nullptr)
    {
        return swtest::GeneratePair(mechanism, session, pub, priv, pair);
    }

    zrtest::MemoryToken token;
    zrtest::MemorySession session{token};
    qel::TokECDsaKeyPairGenMechanism mechanism;
};

TEST_F(TokenHostPairGeneration, MakesKeptKeysOnAnyNamedCurveWithTheTokensRandomBytes)
{
    const tru::Buffer& curve = mbt::TokECDsaUtl::BP384R1_OID;
    zrtest::Attrs pub;
    pub.Raw(CKA_EC_PARAMS, curve.Data(), curve.Size()).Bool(CKA_TOKEN, false);
    zrtest::Attrs priv;
    zrck::TokMechanism::KeyPair pair;
    ASSERT_EQ(Generate(pub, priv, &pair), CKR_OK);
    EXPECT_GT(token.randomDraws, 0u) << "the token's generator gives the key material";
    auto* privateKey = dynamic_cast<qel::TokECDsaPrivateKey*>(pair.second.get());
    auto* publicKey = dynamic_cast<qel::TokECDsaPublicKey*>(pair.first.get());
    ASSERT_NE(privateKey, nullptr);
    ASSERT_NE(publicKey, nullptr);
    // Their values are kept for the token's files; what they hold is the host generation's.
    EXPECT_EQ(privateKey->GetTokenPtr(), &token);
    EXPECT_EQ(privateKey->GetLocal(), CK_TRUE);
    EXPECT_EQ(publicKey->GetKeyGenMechanism(), CKM_EC_KEY_PAIR_GEN);

    std::unique_ptr<zrck::TokMechanism> clone(mechanism.Clone());
    EXPECT_EQ(clone->GetFlags(), CKF_GENERATE_KEY_PAIR | mbt::kECDsaCurveFlags);
    EXPECT_EQ(clone->GetTokenPtr(), &token);
}

TEST_F(TokenHostPairGeneration, ThePrivateKeyMustBeAPrivateTokenObjectInAReadWriteSession)
{
    const tru::Buffer& curve = mbt::TokECDsaUtl::SECP256R1_OID;
    // Each row: CKA_TOKEN of the public and of the private template, a read-only session.
    const struct {
        CK_RV expected;
        const char* name;
        bool tokenFlags[2];
        bool readOnly;
    } rows[] = {
        {CKR_ATTRIBUTE_VALUE_INVALID, "session private key", {true, false}, false},
        {CKR_SESSION_READ_ONLY, "read-only session, session public key", {false, true}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        zrtest::Attrs pub;
        pub.Raw(CKA_EC_PARAMS, curve.Data(), curve.Size()).Bool(CKA_TOKEN, row.tokenFlags[0]);
        zrtest::Attrs priv;
        priv.Bool(CKA_TOKEN, row.tokenFlags[1]);
        session.SetReadOnly(row.readOnly);
        EXPECT_EQ(Generate(pub, priv), row.expected);
    }
    EXPECT_EQ(token.randomDraws, 0u);
}

}  // namespace

// CKM_EC_KEY_PAIR_GEN computed on the host, through a small concrete class with a seeded random
// source and in-memory keys: the request rules, the completed templates and keys that sign.
#include "swcrypto/ecdsa_key_pair_gen.h"

#include "cryptoki/memory_token.h"
#include "evp_helpers.h"
#include "fake_random_utl.h"
#include "key_pair_request.h"
#include "objects/class_fakes.h"
#include "objects/template_builder.h"
#include "swcrypto/ecdsa_signing.h"
#include "swcrypto/tok_ecdsa_utl.h"
#include "swcrypto_test_util.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using swtest::CodeOf;
using zrtest::Attrs;

Bytes Of(const tru::Buffer& b) { return Bytes(b.Data(), b.Data() + b.Size()); }

class SeededPairGen : public mbt::TokECDsaKeyPairGenMechanism {
public:
    swtest::FakeRandomUtl utl{23};
    mbt::TokECDsaUtl& GetECDsaUtl() override { return utl; }
    KeyPointer CreatePublicKey() override { return KeyPointer(new zrtest::FakeECDsaPublicKey()); }
    KeyPointer CreatePrivateKey() override { return KeyPointer(new zrtest::FakeECDsaPrivateKey()); }
    zrck::TokMechanism* Clone() const override { return nullptr; }
};

class SeededSign : public mbt::TokECDsaSignMechanism {
public:
    swtest::FakeRandomUtl utl{29};
    mbt::TokECDsaUtl& GetECDsaUtl() override { return utl; }
    zrck::TokMechanism* Clone() const override { return nullptr; }
};

Bytes Oid(const tru::Buffer& oid) { return Of(oid); }

class HostPairGeneration : public ::testing::Test {
protected:
    void SetUp() override
    {
        token.logged = true;
        session.SetReadOnly(false);
    }

    CK_RV Generate(Attrs& pub, Attrs& priv, zrck::TokMechanism::KeyPair* pair = nullptr,
                   CK_MECHANISM_TYPE type = CKM_EC_KEY_PAIR_GEN)
    {
        return swtest::GeneratePair(mechanism, session, pub, priv, pair, type);
    }

    zrtest::MemoryToken token;
    zrtest::MemorySession session{token};
    SeededPairGen mechanism;
};

TEST_F(HostPairGeneration, AnyNamedCurveGivesKeysThatSignAndOpenSslAgrees)
{
    const struct {
        const tru::Buffer* oid;
        const char* group;
    } curves[] = {{&mbt::TokECDsaUtl::SECP256R1_OID, "P-256"},
                  {&mbt::TokECDsaUtl::BP384R1_OID, "brainpoolP384r1"},
                  {&mbt::TokECDsaUtl::SECP256K1_OID, "secp256k1"}};
    for (const auto& curve : curves) {
        SCOPED_TRACE(curve.group);
        Attrs pub;
        pub.Data(CKA_EC_PARAMS, Oid(*curve.oid));
        Attrs priv;  // empty: a private token key
        zrck::TokMechanism::KeyPair pair;
        ASSERT_EQ(Generate(pub, priv, &pair), CKR_OK);
        auto& publicKey = dynamic_cast<zrtest::FakeECDsaPublicKey&>(*pair.first);
        auto& privateKey = dynamic_cast<zrtest::FakeECDsaPrivateKey&>(*pair.second);
        EXPECT_EQ(Of(publicKey.GetECParams()), Oid(*curve.oid));
        EXPECT_EQ(Of(privateKey.GetECParams()), Oid(*curve.oid));
        for (zrck::TokKey* key : {static_cast<zrck::TokKey*>(&publicKey), static_cast<zrck::TokKey*>(&privateKey)}) {
            EXPECT_EQ(key->GetLocal(), CK_TRUE);
            EXPECT_EQ(key->GetKeyGenMechanism(), CKM_EC_KEY_PAIR_GEN);
        }
        EXPECT_NE(privateKey.GetValue().Data()[0], 0) << "the private value is a minimal integer";

        tru::BufferDynamic point;
        mbt::TokECDsaUtl::DecodeDerPublicKey(publicKey.GetECPoint(), point);
        SeededSign sign;
        const Bytes digest(32, 0x42);
        sign.SignInit(session, zrck::MechanismParameter(CKM_ECDSA, tru::Buffer()), privateKey);
        Bytes signature(132);
        unsigned long length = signature.size();
        ASSERT_TRUE(sign.Sign(session, tru::Buffer(digest.data(), 32), signature.data(), &length));
        signature.resize(length);
        EXPECT_TRUE(tokensim::crypto::testing::EcdsaRawVerifies(curve.group, Of(point), digest, signature));
    }
}

TEST_F(HostPairGeneration, RequestsThatBreakTheRulesAreRefused)
{
    const Bytes p256 = Oid(mbt::TokECDsaUtl::SECP256R1_OID);
    const struct {
        const char* name;
        void (*publicTemplate)(Attrs&, const Bytes&);
        void (*privateTemplate)(Attrs&, const Bytes&);
        bool readOnly;
        bool logged;
        CK_RV expected;
    } rows[] = {
        {"curve only in the private template", [](Attrs&, const Bytes&) {},
         [](Attrs& a, const Bytes& c) { a.Data(CKA_EC_PARAMS, c); }, false, true, CKR_TEMPLATE_INCOMPLETE},
        {"curve the utility lacks", [](Attrs& a, const Bytes&) { a.Data(CKA_EC_PARAMS, {0x06, 0x03, 0x2B, 0x81, 0x04}); },
         [](Attrs&, const Bytes&) {}, false, true, CKR_ATTRIBUTE_VALUE_INVALID},
        {"private class in the public template",
         [](Attrs& a, const Bytes& c) { a.Data(CKA_EC_PARAMS, c).ULong(CKA_CLASS, CKO_PRIVATE_KEY); },
         [](Attrs&, const Bytes&) {}, false, true, CKR_TEMPLATE_INCONSISTENT},
        {"public class in the private template", [](Attrs& a, const Bytes& c) { a.Data(CKA_EC_PARAMS, c); },
         [](Attrs& a, const Bytes&) { a.ULong(CKA_CLASS, CKO_PUBLIC_KEY); }, false, true, CKR_ATTRIBUTE_VALUE_INVALID},
        {"private key not private", [](Attrs& a, const Bytes& c) { a.Data(CKA_EC_PARAMS, c); },
         [](Attrs& a, const Bytes&) { a.Bool(CKA_PRIVATE, false); }, false, true, CKR_ATTRIBUTE_VALUE_INVALID},
        {"private public key", [](Attrs& a, const Bytes& c) { a.Data(CKA_EC_PARAMS, c).Bool(CKA_PRIVATE, true); },
         [](Attrs&, const Bytes&) {}, false, true, CKR_ATTRIBUTE_VALUE_INVALID},
        {"token keys in a read-only session", [](Attrs& a, const Bytes& c) { a.Data(CKA_EC_PARAMS, c); },
         [](Attrs&, const Bytes&) {}, true, true, CKR_SESSION_READ_ONLY},
        {"session keys, nobody logged in",
         [](Attrs& a, const Bytes& c) { a.Data(CKA_EC_PARAMS, c).Bool(CKA_TOKEN, false); },
         [](Attrs& a, const Bytes&) { a.Bool(CKA_TOKEN, false); }, true, false, CKR_USER_NOT_LOGGED_IN},
        {"session keys in a read-only session",
         [](Attrs& a, const Bytes& c) { a.Data(CKA_EC_PARAMS, c).Bool(CKA_TOKEN, false); },
         [](Attrs& a, const Bytes&) { a.Bool(CKA_TOKEN, false); }, true, true, CKR_OK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Attrs pub;
        Attrs priv;
        row.publicTemplate(pub, p256);
        row.privateTemplate(priv, p256);
        session.SetReadOnly(row.readOnly);
        token.logged = row.logged;
        const unsigned long draws = mechanism.utl.calls;
        EXPECT_EQ(Generate(pub, priv), row.expected);
        if (row.expected != CKR_OK) {
            EXPECT_EQ(mechanism.utl.calls, draws) << "nothing generated";
        }
    }
    Attrs pub;
    pub.Data(CKA_EC_PARAMS, p256);
    Attrs priv;
    session.SetReadOnly(false);
    EXPECT_EQ(Generate(pub, priv, nullptr, CKM_ECDSA), CKR_MECHANISM_INVALID);
}

TEST_F(HostPairGeneration, CompletedTemplatesNoLongerPointAtTheGenerationsValues)
{
    Attrs pub;
    pub.Data(CKA_EC_PARAMS, Oid(mbt::TokECDsaUtl::SECP192R1_OID));
    Attrs priv;
    priv.Data(CKA_VALUE, {0x01});
    auto publicTemplate = pub.Make();
    auto privateTemplate = priv.Make();
    mechanism.GenerateKeyPair(session, zrck::MechanismParameter(CKM_EC_KEY_PAIR_GEN, tru::Buffer()), *publicTemplate,
                              *privateTemplate);
    for (auto* attributes : {publicTemplate.get(), privateTemplate.get()}) {
        for (CK_ATTRIBUTE_TYPE type : {CKA_EC_PARAMS, CKA_EC_POINT, CKA_VALUE}) {
            const zrck::Attribute* entry = attributes->GetAttributeIfExists(type);
            if (entry != nullptr) {
                EXPECT_EQ(entry->GetRecord()->pValue, nullptr) << type;
            }
        }
    }
}

TEST(HostPairGenerationInfo, ReportsTheCurveSizesAndUncompressedPoints)
{
    SeededPairGen mechanism;
    CK_MECHANISM_INFO info{};
    mechanism.FillMechanismInfo(&info);
    EXPECT_EQ(info.ulMinKeySize, 192u);
    EXPECT_EQ(info.ulMaxKeySize, 521u);
    EXPECT_EQ(info.flags, CKF_GENERATE_KEY_PAIR | mbt::kECDsaCurveFlags);
}

}  // namespace

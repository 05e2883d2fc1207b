// GOST 28147-89 key wrap: round trips, the 44-byte format's checks and template rules.
#include <gtest/gtest.h>

#include <algorithm>

#include "gost_test_token.h"
#include "national/tok_ua_gost_wrap_mechanism.h"
#include "objects/tok_ua_gost_objects.h"

using namespace gost_test;
using zrtest::CodeOf;

namespace {

std::string ULongBytes(CK_ULONG value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); }

struct WrapFixture : ::testing::Test {
    GostTestToken token;
    GostTestSession session{token};
    qel::TokUAGostWrapMechanism wrap;
    const zrck::MechanismParameter noParameter{CKM_GOST28147_WRAP, tru::Buffer()};
    std::unique_ptr<qel::TokUAGostSecretKey> kek = KekWithSBox(DerOid(5));
    std::unique_ptr<qel::TokUAGostSecretKey> cek = CreateKey(token, std::string(32, '\xC3'));

    std::unique_ptr<qel::TokUAGostSecretKey> KekWithSBox(const std::string& sBox)
    {
        zrtest::Records records = GostKeyTemplate(KeyValue0To31());
        records.Raw(CKA_GOST_SBOXES, sBox);
        return CreateKey(token, records);
    }

    std::vector<uint8_t> Wrap(qel::TokUAGostSecretKey& wrapping, qel::TokUAGostSecretKey& key)
    {
        std::vector<uint8_t> blob(44);
        unsigned long length = blob.size();
        EXPECT_TRUE(wrap.WrapKey(session, noParameter, &wrapping, key, blob.data(), &length));
        EXPECT_EQ(length, 44u);
        return blob;
    }

    zrck::TokMechanism::KeyPointer Unwrap(const std::vector<uint8_t>& blob, zrtest::Records& records)
    {
        zrck::AttributeTemplate attributes(records.Array(), records.Count());
        return wrap.UnwrapKey(session, noParameter, kek.get(), tru::Buffer(blob.data(), uint32_t(blob.size())),
                              attributes);
    }

    CK_RV UnwrapCode(const std::vector<uint8_t>& blob)
    {
        zrtest::Records records;
        return CodeOf([&] { Unwrap(blob, records); });
    }
};

TEST_F(WrapFixture, RoundTripWithAFreshIvEachTime)
{
    const std::vector<uint8_t> first = Wrap(*kek, *cek);
    const std::vector<uint8_t> second = Wrap(*kek, *cek);
    EXPECT_NE(first, second);
    for (const std::vector<uint8_t>* blob : {&first, &second}) {
        zrtest::Records records;
        zrck::TokMechanism::KeyPointer object = Unwrap(*blob, records);
        auto& key = dynamic_cast<qel::TokUAGostSecretKey&>(*object);
        EXPECT_EQ(key.GetClass(), CKO_SECRET_KEY);
        EXPECT_EQ(key.GetKeyType(), CKK_GOST28147_NAT);
        EXPECT_EQ(Bytes(Vec(key.GetValue())), std::string(32, '\xC3'));
        EXPECT_EQ(Vec(key.GetSBox()), Vec(kek->GetSBox()));
    }
}

// The blob taken apart with the bare routines: CFB under the fixed IV 4A DD A2 2C 79 E8 21 05,
// byte reversal, the random IV first, then CFB of the key and its 4-byte MAC.
TEST_F(WrapFixture, BlobHasTheDocumentedLayout)
{
    std::unique_ptr<qel::TokUAGostSecretKey> dke1Kek = CreateKey(token, KeyValue0To31());
    const unsigned long draw = token.draws + 1;
    const std::vector<uint8_t> blob = Wrap(*dke1Kek, *cek);

    const Dke1Key routineKey;
    auto cfbDecrypt = [&](const std::vector<uint8_t>& ivBytes, const uint8_t* in, size_t length) {
        uint32_t iv[2];
        std::memcpy(iv, ivBytes.data(), 8);
        g28147_cfb_ctx ctx;
        g28147_cfb_init_ext(&ctx, 0, routineKey.key, iv, routineKey.kext.data());
        std::vector<uint8_t> out(length);
        g28147_cfb_update(&ctx, in, out.data(), uint32_t(length));
        return out;
    };
    std::vector<uint8_t> t2 = cfbDecrypt(Hex("4ADDA22C79E82105"), blob.data(), blob.size());
    std::reverse(t2.begin(), t2.end());
    const std::vector<uint8_t> iv(t2.begin(), t2.begin() + 8);
    for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(iv[i], uint8_t(draw * 31 + i));
    const std::vector<uint8_t> wk = cfbDecrypt(iv, t2.data() + 8, 36);
    EXPECT_EQ(std::vector<uint8_t>(wk.begin(), wk.begin() + 32), std::vector<uint8_t>(32, 0xC3));

    g28147_hmac_ctx mac;
    g28147_hmac_init_ext(&mac, routineKey.key, routineKey.kext.data());
    g28147_hmac_update(&mac, wk.data(), 32);
    uint32_t n1 = 0;
    ASSERT_NE(g28147_hmac_final(&mac, &n1), 0);
    const uint8_t icv[4] = {uint8_t(n1), uint8_t(n1 >> 8), uint8_t(n1 >> 16), uint8_t(n1 >> 24)};
    EXPECT_EQ(std::vector<uint8_t>(wk.begin() + 32, wk.end()), std::vector<uint8_t>(icv, icv + 4));
}

TEST_F(WrapFixture, LengthQueryAndShortBuffer)
{
    const unsigned long drawsBefore = token.draws;
    unsigned long length = 0;
    EXPECT_TRUE(wrap.WrapKey(session, noParameter, kek.get(), *cek, nullptr, &length));
    EXPECT_EQ(length, 44u);
    std::vector<uint8_t> blob(44, 0xEE);
    length = 43;
    EXPECT_FALSE(wrap.WrapKey(session, noParameter, kek.get(), *cek, blob.data(), &length));
    EXPECT_EQ(length, 44u);
    EXPECT_EQ(blob, std::vector<uint8_t>(44, 0xEE));
    EXPECT_EQ(token.draws, drawsBefore) << "no IV drawn for a length answer";
}

TEST_F(WrapFixture, AnyChangedBitOrWrongLengthIsRefused)
{
    const std::vector<uint8_t> blob = Wrap(*kek, *cek);
    for (size_t bit = 0; bit < blob.size() * 8; ++bit) {
        std::vector<uint8_t> changed = blob;
        changed[bit / 8] ^= uint8_t(1u << (bit % 8));
        EXPECT_EQ(UnwrapCode(changed), CKR_SIGNATURE_INVALID) << bit;
    }
    std::vector<uint8_t> longer = blob;
    longer.push_back(0);
    EXPECT_EQ(UnwrapCode(longer), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(UnwrapCode(std::vector<uint8_t>(blob.begin(), blob.end() - 1)), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(UnwrapCode({}), CKR_DATA_LEN_RANGE);

    // Under another key (here the same value with another S-box) the check value fails.
    std::unique_ptr<qel::TokUAGostSecretKey> otherSBox = KekWithSBox(DerOid(6));
    const std::vector<uint8_t> foreign = Wrap(*otherSBox, *cek);
    EXPECT_EQ(UnwrapCode(foreign), CKR_SIGNATURE_INVALID);
}

TEST_F(WrapFixture, UnwrapTemplateRules)
{
    const std::vector<uint8_t> blob = Wrap(*kek, *cek);
    const struct {
        const char* name;
        CK_ATTRIBUTE_TYPE type;
        std::string value;
        CK_RV expected;
    } cases[] = {
        {"DES3 key type", CKA_KEY_TYPE, ULongBytes(CKK_DES3), CKR_KEY_NOT_WRAPPABLE},
        {"private key class", CKA_CLASS, ULongBytes(CKO_PRIVATE_KEY), CKR_TEMPLATE_INCONSISTENT},
        {"class of 4 bytes", CKA_CLASS, std::string(4, '\0'), CKR_ATTRIBUTE_VALUE_INVALID},
        {"key type of 2 bytes", CKA_KEY_TYPE, std::string(2, '\0'), CKR_ATTRIBUTE_VALUE_INVALID},
        {"value length", CKA_VALUE_LEN, ULongBytes(32), CKR_ATTRIBUTE_READ_ONLY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zrtest::Records records;
        records.Raw(c.type, c.value);
        EXPECT_EQ(CodeOf([&] { Unwrap(blob, records); }), c.expected);
    }
    // A label and an explicit S-box of the caller are kept; the value entry is ours and let go.
    zrtest::Records records;
    records.Raw(CKA_LABEL, "unwrapped").Raw(CKA_GOST_SBOXES, DerOid(5));
    zrck::AttributeTemplate attributes(records.Array(), records.Count());
    zrck::TokMechanism::KeyPointer object =
        wrap.UnwrapKey(session, noParameter, kek.get(), tru::Buffer(blob.data(), 44), attributes);
    auto& key = dynamic_cast<qel::TokUAGostSecretKey&>(*object);
    EXPECT_EQ(Bytes(Vec(key.GetLabel())), "unwrapped");
    EXPECT_EQ(attributes.GetAttributeIfExists(CKA_VALUE)->GetRecord()->pValue, nullptr);
}

// A secret key of another type, enough for the key-type checks.
class OtherSecretKey : public qel::TokUAGostSecretKey {
public:
    CK_KEY_TYPE GetKeyType() const override { return CKK_DES3; }
};

TEST_F(WrapFixture, KeyAndParameterChecks)
{
    OtherSecretKey des3;
    unsigned long length = 44;
    std::vector<uint8_t> blob(44);
    EXPECT_EQ(CodeOf([&] { wrap.WrapKey(session, noParameter, &des3, *cek, blob.data(), &length); }),
              CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(CodeOf([&] { wrap.WrapKey(session, noParameter, kek.get(), des3, blob.data(), &length); }),
              CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(CodeOf([&] { wrap.WrapKey(session, noParameter, nullptr, *cek, blob.data(), &length); }),
              CKR_KEY_HANDLE_INVALID);
    const uint8_t parameterByte = 0;
    const zrck::MechanismParameter parameter(CKM_GOST28147_WRAP, tru::Buffer(&parameterByte, 1));
    EXPECT_EQ(CodeOf([&] { wrap.WrapKey(session, parameter, kek.get(), *cek, blob.data(), &length); }),
              CKR_MECHANISM_PARAM_INVALID);
    zrtest::Records records;
    zrck::AttributeTemplate attributes(records.Array(), records.Count());
    EXPECT_EQ(CodeOf([&] { wrap.UnwrapKey(session, noParameter, nullptr, tru::Buffer(blob.data(), 44), attributes); }),
              CKR_KEY_HANDLE_INVALID);
}

}  // namespace

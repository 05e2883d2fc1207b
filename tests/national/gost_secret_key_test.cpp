// GOST secret keys, S-box domain parameters and key generation over the in-memory token.
#include <gtest/gtest.h>

#include "gost_test_token.h"
#include "national/tok_ua_gost_key_gen_mechanism.h"

using namespace gost_test;
using zrtest::CodeOf;

namespace {

const std::string kCustomOid("\x06\x03\x2A\x03\x04", 5);  // 1.2.3.4

std::string ULongBytes(CK_ULONG value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); }

std::string Dke(unsigned n) { return Der(n).substr(2); }

struct KeyFixture : ::testing::Test {
    GostTestToken token;
    GostTestSession session{token};

    std::string EncryptBlock(qel::TokUAGostSecretKey& key) { return gost_test::EncryptBlock(session, key); }

    std::unique_ptr<qel::TokUAGostSecretKey> KeyWithSBox(const std::string& sBox)
    {
        zrtest::Records records = GostKeyTemplate(KeyValue0To31());
        records.Raw(CKA_GOST_SBOXES, sBox);
        return CreateKey(token, records);
    }

    void CreateDomainParams(const std::string& id, const std::string& sBox)
    {
        zrtest::Records records;
        records.ULong(CKA_CLASS, CKO_DOMAIN_PARAMETERS).ULong(CKA_KEY_TYPE, CKK_GOST28147_NAT);
        records.Raw(CKA_ID, id).Raw(CKA_GOST_SBOXES, sBox);
        Create(token, records);
    }
};

TEST_F(KeyFixture, CreationRefusesBadValuesAndSBoxes)
{
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "\x30\x80";
    const struct {
        const char* name;
        std::string value;
        CK_ATTRIBUTE_TYPE extraType;
        std::string extra;
        CK_RV expected;
    } cases[] = {
        {"16-byte value", std::string(16, 'k'), 0, "", CKR_ATTRIBUTE_VALUE_INVALID},
        {"33-byte value", std::string(33, 'k'), 0, "", CKR_ATTRIBUTE_VALUE_INVALID},
        {"value length given", KeyValue0To31(), CKA_VALUE_LEN, std::string(sizeof(CK_ULONG), '\0'),
         CKR_ATTRIBUTE_READ_ONLY},
        {"S-box garbage", KeyValue0To31(), CKA_GOST_SBOXES, "\xFF\x01", CKR_ATTRIBUTE_VALUE_INVALID},
        {"S-box truncated", KeyValue0To31(), CKA_GOST_SBOXES, Der(1).substr(0, 30), CKR_ATTRIBUTE_VALUE_INVALID},
        {"S-box trailing byte", KeyValue0To31(), CKA_GOST_SBOXES, Der(1) + "x", CKR_ATTRIBUTE_VALUE_INVALID},
        {"S-box length past the end", KeyValue0To31(), CKA_GOST_SBOXES, std::string("\x04\x84\xFF\xFF\xFF\xF0", 6),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"S-box deep nesting", KeyValue0To31(), CKA_GOST_SBOXES, deep, CKR_ATTRIBUTE_VALUE_INVALID},
        {"S-box identifier registered nowhere", KeyValue0To31(), CKA_GOST_SBOXES, kCustomOid,
         CKR_ATTRIBUTE_VALUE_INVALID},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zrtest::Records records = GostKeyTemplate(c.value);
        if (c.extraType != 0) records.Raw(c.extraType, c.extra);
        EXPECT_EQ(CodeOf([&] { CreateKey(token, records); }), c.expected);
    }
    token.nationalSupported = false;
    EXPECT_EQ(CodeOf([&] { CreateKey(token, KeyValue0To31()); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(CodeOf([&] { CreateDomainParams(kCustomOid, Der(3)); }), CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST_F(KeyFixture, SBoxChoices)
{
    std::unique_ptr<qel::TokUAGostSecretKey> plain = CreateKey(token, KeyValue0To31());
    EXPECT_EQ(Bytes(Vec(plain->GetSBox())), Der(1));
    EXPECT_EQ(Bytes(Vec(plain->GetSBoxValue())), Dke(1));
    EXPECT_EQ(EncryptBlock(*plain), "E393A17DF2B6DE6F");

    std::unique_ptr<qel::TokUAGostSecretKey> byId = KeyWithSBox(DerOid(4));
    EXPECT_EQ(Bytes(Vec(byId->GetSBox())), DerOid(4));
    EXPECT_EQ(Bytes(Vec(byId->GetSBoxValue())), Dke(4));
    EXPECT_EQ(EncryptBlock(*byId), EncryptBlock(*KeyWithSBox(Der(4))));
    EXPECT_NE(EncryptBlock(*byId), EncryptBlock(*plain));

    CreateDomainParams(kCustomOid, Der(7));
    std::unique_ptr<qel::TokUAGostSecretKey> byParams = KeyWithSBox(kCustomOid);
    EXPECT_EQ(Bytes(Vec(byParams->GetSBox())), kCustomOid);
    EXPECT_EQ(Bytes(Vec(byParams->GetSBoxValue())), Dke(7));
}

TEST_F(KeyFixture, ValueAndSBoxAreReadOnlyOnceCreated)
{
    std::unique_ptr<qel::TokUAGostSecretKey> key = CreateKey(token, KeyValue0To31());
    const std::string before = EncryptBlock(*key);
    const struct {
        CK_ATTRIBUTE_TYPE type;
        std::string value;
    } changes[] = {
        {CKA_VALUE, std::string(32, 'n')},
        {CKA_GOST_SBOXES, DerOid(5)},
        {CKA_VALUE_LEN, std::string(sizeof(CK_ULONG), '\0')},
    };
    for (const auto& change : changes) {
        zrtest::Records records;
        records.Raw(change.type, change.value);
        zrck::AttributeTemplate attributes(records.Array(), records.Count());
        EXPECT_EQ(key->UpdateAttributes(attributes), CKR_ATTRIBUTE_READ_ONLY) << change.type;
    }
    EXPECT_EQ(EncryptBlock(*key), before);
    EXPECT_EQ(Bytes(Vec(key->GetSBox())), Der(1));
}

TEST_F(KeyFixture, OneWayFlags)
{
    std::unique_ptr<qel::TokUAGostSecretKey> key = CreateKey(token, KeyValue0To31());
    key->SetIsSensitive(CK_TRUE);
    EXPECT_EQ(CodeOf([&] { key->SetIsSensitive(CK_FALSE); }), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(key->GetIsSensitive(), CK_TRUE);

    std::unique_ptr<qel::TokUAGostSecretKey> other = CreateKey(token, KeyValue0To31());
    other->SetIsAlwaysSensitive(CK_TRUE);
    EXPECT_EQ(other->GetIsSensitive(), CK_TRUE);
    other->SetCouldWrapOnlyWithTrusted(CK_FALSE);
    EXPECT_EQ(other->GetCouldWrapOnlyWithTrusted(), CK_TRUE);
    EXPECT_EQ(CodeOf([&] { other->GetCheckValue(); }), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_TRUE(other->IsMechanismAllowed(CKM_GOST28147_WRAP));
    EXPECT_FALSE(other->IsMechanismAllowed(CKM_GOST34311));
    EXPECT_EQ(other->GetAllowedMechanisms().Size(), 5 * sizeof(CK_MECHANISM_TYPE));
}

TEST_F(KeyFixture, CopyIsANewObjectWithTheSameValueAndSBox)
{
    std::unique_ptr<qel::TokUAGostSecretKey> key = KeyWithSBox(DerOid(6));
    key->SetLifeTime(zrck::TokObject::LIFETIME_TOKEN);
    key->SetObjectFile(130);
    key->SetAttributeFile(131);
    key->SetLabel(tru::Buffer("lbl", 3));
    std::unique_ptr<zrck::TokObject> copyObject(key->GenerateCopy());
    auto& copy = dynamic_cast<qel::TokUAGostSecretKey&>(*copyObject);
    EXPECT_EQ(EncryptBlock(copy), EncryptBlock(*key));
    EXPECT_EQ(Vec(copy.GetSBox()), Vec(key->GetSBox()));
    EXPECT_EQ(Bytes(Vec(copy.GetLabel())), "lbl");
    EXPECT_EQ(copy.GetLifeTime(), zrck::TokObject::LIFETIME_TOKEN);
    // Storing the copy must not overwrite the source's files.
    EXPECT_EQ(copy.GetObjectFile(), 0);
    EXPECT_EQ(copy.GetAttributeFile(), 0);
    EXPECT_EQ(copy.GetCopyMode(), unsigned(zrck::TokStorageObject::COPY_MODE));
}

TEST_F(KeyFixture, DomainParamsCheckTheirDerAndRegister)
{
    EXPECT_EQ(CodeOf([&] { CreateDomainParams(std::string("\x04\x01\x00", 3), Der(2)); }),
              CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(CodeOf([&] { CreateDomainParams(kCustomOid + std::string(1, '\0'), Der(2)); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(CodeOf([&] { CreateDomainParams(kCustomOid, DerOid(2)); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_TRUE(token.params.empty());

    qel::TokUAGostDomainParams params;
    params.SetID(tru::Buffer(kCustomOid.data(), uint32_t(kCustomOid.size())));
    EXPECT_EQ(params.GenerateCopy(), nullptr);
    EXPECT_EQ(CodeOf([&] { params.SetCopyable(true); }), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(params.GetLocal(), CK_TRUE);

    CreateDomainParams(kCustomOid, Der(2));
    EXPECT_EQ(token.params.count({kCustomOid, CKK_GOST28147_NAT}), 1u);
}

// ---- Key generation ----

struct KeyGenFixture : KeyFixture {
    qel::TokUAGostKeyGenMechanism mechanism;
    const zrck::MechanismParameter parameter{CKM_GOST28147_KEY_GEN_NAT, tru::Buffer()};

    KeyGenFixture() { mechanism.SetTokenPtr(&token); }

    zrck::TokMechanism::KeyPointer Generate(zrtest::Records& records)
    {
        zrck::AttributeTemplate attributes(records.Array(), records.Count());
        return mechanism.GenerateKey(session, parameter, attributes);
    }
};

TEST_F(KeyGenFixture, GeneratedKeyIsLocalWithDefaultUsage)
{
    token.zeroDraws = 3;  // all-zero values are drawn again
    zrtest::Records records;
    records.Raw(CKA_GOST_SBOXES, DerOid(3)).Raw(CKA_LABEL, "gen");
    zrck::TokMechanism::KeyPointer object = Generate(records);
    auto& key = dynamic_cast<qel::TokUAGostSecretKey&>(*object);
    EXPECT_EQ(token.draws, 4u);
    EXPECT_EQ(key.GetLocal(), CK_TRUE);
    EXPECT_EQ(key.GetKeyGenMechanism(), CKM_GOST28147_KEY_GEN_NAT);
    EXPECT_EQ(Bytes(Vec(key.GetSBoxValue())), Dke(3));
    EXPECT_EQ(key.GetValue().Size(), 32u);
    EXPECT_NE(Bytes(Vec(key.GetValue())), std::string(32, '\0'));
    for (CK_BBOOL usage : {key.GetCouldEncrypt(), key.GetCouldDecrypt(), key.GetCouldWrap(), key.GetCouldUnwrap(),
                           key.GetCouldSign(), key.GetCouldVerify()}) {
        EXPECT_EQ(usage, CK_TRUE);
    }
    EXPECT_NE(key.GetGenerationDate()->year[0], ' ');
    // The caller's template no longer points at the wiped value.
    const zrck::Attribute* value = nullptr;
    {
        zrck::AttributeTemplate attributes(records.Array(), records.Count());
        object = mechanism.GenerateKey(session, parameter, attributes);
        value = attributes.GetAttributeIfExists(CKA_VALUE);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->GetRecord()->pValue, nullptr);
    }
}

TEST_F(KeyGenFixture, TemplateAndParameterErrors)
{
    const struct {
        const char* name;
        CK_ATTRIBUTE_TYPE type;
        std::string value;
        CK_RV expected;
    } cases[] = {
        {"value given", CKA_VALUE, std::string(32, 'v'), CKR_ATTRIBUTE_TYPE_INVALID},
        {"DES3 key type", CKA_KEY_TYPE, ULongBytes(CKK_DES3),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"data class", CKA_CLASS, ULongBytes(CKO_DATA),
         CKR_TEMPLATE_INCONSISTENT},
        {"short class", CKA_CLASS, std::string(2, '\0'), CKR_ATTRIBUTE_VALUE_INVALID},
        {"token flag of 2 bytes", CKA_TOKEN, std::string(2, '\1'), CKR_ATTRIBUTE_VALUE_INVALID},
        {"value length", CKA_VALUE_LEN, std::string(sizeof(CK_ULONG), '\0'), CKR_ATTRIBUTE_READ_ONLY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zrtest::Records records;
        records.Raw(c.type, c.value);
        EXPECT_EQ(CodeOf([&] { Generate(records); }), c.expected);
    }
    zrtest::Records empty;
    zrck::AttributeTemplate attributes(empty.Array(), empty.Count());
    EXPECT_EQ(CodeOf([&] { mechanism.GenerateKey(session, zrck::MechanismParameter(CKM_GOST28147_ECB_NAT, tru::Buffer()),
                                                 attributes); }),
              CKR_MECHANISM_INVALID);
    const uint8_t junk = 0;
    EXPECT_EQ(CodeOf([&] { mechanism.GenerateKey(session, zrck::MechanismParameter(CKM_GOST28147_KEY_GEN_NAT,
                                                                                   tru::Buffer(&junk, 1)),
                                                 attributes); }),
              CKR_MECHANISM_PARAM_INVALID);
}

TEST_F(KeyGenFixture, ATokenThatOnlyGivesZerosFails)
{
    token.zeroDraws = ~0UL;
    zrtest::Records records;
    EXPECT_EQ(CodeOf([&] { Generate(records); }), CKR_FUNCTION_FAILED);
    EXPECT_EQ(token.draws, qel::TokUAGostKeyGenMechanism::kMaxRandomDraws);
}

TEST_F(KeyFixture, RefreshTakesOverATwinOnlyWhenUnlocked)
{
    std::unique_ptr<qel::TokUAGostSecretKey> key = CreateKey(token, KeyValue0To31());
    std::unique_ptr<qel::TokUAGostSecretKey> twin = KeyWithSBox(DerOid(9));
    twin->SetCouldDerive(CK_TRUE);
    twin->SetModifiable(false);
    EXPECT_FALSE(key->RefreshFrom(*twin)) << "a new object is locked until its slot indexes it";
    EXPECT_EQ(Bytes(Vec(key->GetSBox())), Der(1));

    key->SetRefreshLock(false);
    EXPECT_TRUE(key->RefreshFrom(*twin)) << "the S-box changed";
    EXPECT_EQ(Bytes(Vec(key->GetSBoxValue())), Dke(9));
    EXPECT_EQ(key->GetCouldDerive(), CK_TRUE);
    EXPECT_EQ(key->IsModifiable(), CK_FALSE);
    twin->SetModifiable(true);
    twin->SetCouldDerive(CK_FALSE);
    EXPECT_FALSE(key->RefreshFrom(*twin)) << "flags alone are no change";
    EXPECT_EQ(key->IsModifiable(), CK_FALSE) << "never made modifiable again";
    EXPECT_EQ(key->GetCouldDerive(), CK_FALSE);
}

}  // namespace

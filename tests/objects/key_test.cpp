// Key base rules on a generic secret key.
#include <gtest/gtest.h>

#include "fake_objects.h"
#include "object_test_util.h"
#include "objects/tok_mechanism.h"

namespace {

using zrck::AttributeTemplate;
using zrtest::CodeOf;
using zrtest::FakeSecretKey;
using zrtest::Records;

TEST(KeyTest, ReadingKeyLevelAttributes) {
    FakeSecretKey key;
    Records records;
    records.Out(CKA_KEY_GEN_MECHANISM, sizeof(CK_ULONG)).Out(CKA_START_DATE, 8).Out(CKA_KEY_TYPE, sizeof(CK_ULONG))
        .Out(CKA_WRAP_TEMPLATE, 4);
    CK_ATTRIBUTE* array = records.Array();
    AttributeTemplate attributes(array, records.Count());
    EXPECT_EQ(CKR_ATTRIBUTE_TYPE_INVALID, key.GetAttributes(attributes));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, *static_cast<CK_ULONG*>(array[0].pValue));  // not a local key
    EXPECT_EQ(0u, array[1].ulValueLen);                                             // no start date
    EXPECT_EQ(CKK_GENERIC_SECRET, *static_cast<CK_ULONG*>(array[2].pValue));
}

TEST(KeyTest, SensitiveValueIsNotRevealed) {
    FakeSecretKey key;
    key.SetValue(tru::Buffer("secret", 6));
    Records records;
    records.Out(CKA_VALUE, 16);
    CK_ATTRIBUTE* array = records.Array();
    AttributeTemplate open(array, 1);
    EXPECT_EQ(CKR_OK, key.GetAttributes(open));
    EXPECT_EQ("secret", records.ValueOf(0));
    key.SetIsSensitive(CK_TRUE);
    array = records.Array();
    AttributeTemplate hidden(array, 1);
    EXPECT_EQ(CKR_ATTRIBUTE_SENSITIVE, key.GetAttributes(hidden));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, array[0].ulValueLen);
}

struct KeyUpdateCase {
    std::function<void(Records&)> build;
    CK_RV expected;
    CK_BBOOL signAfter;
    const char* name;
};

class KeyUpdateTest : public ::testing::TestWithParam<KeyUpdateCase> {};

TEST_P(KeyUpdateTest, Rules) {
    FakeSecretKey key;
    key.SetCouldSign(CK_TRUE);
    Records records;
    GetParam().build(records);
    AttributeTemplate attributes(records.Array(), records.Count());
    // Refusals are returned; values of the wrong format are thrown.
    CK_RV returned = CKR_OK;
    const CK_RV thrown = CodeOf([&] { returned = key.UpdateAttributes(attributes); });
    EXPECT_EQ(GetParam().expected, thrown != CKR_OK ? thrown : returned);
    EXPECT_EQ(GetParam().signAfter, key.GetCouldSign());
}

INSTANTIATE_TEST_SUITE_P(
    Key, KeyUpdateTest,
    ::testing::Values(
        KeyUpdateCase{[](Records& r) { r.Bool(CKA_SENSITIVE, true).Bool(CKA_SIGN, false); }, CKR_OK, CK_FALSE,
                      "SensitiveOnlyToTrue"},
        KeyUpdateCase{[](Records& r) { r.Bool(CKA_EXTRACTABLE, true).Bool(CKA_SIGN, false); },
                      CKR_ATTRIBUTE_VALUE_INVALID, CK_FALSE, "ExtractableNeverBackToTrue"},
        KeyUpdateCase{[](Records& r) { r.Bool(CKA_SENSITIVE, false); }, CKR_ATTRIBUTE_VALUE_INVALID, CK_TRUE,
                      "SensitiveToFalse"},
        KeyUpdateCase{[](Records& r) { r.Bool(CKA_DERIVE, true); }, CKR_ATTRIBUTE_READ_ONLY, CK_TRUE, "Derive"},
        KeyUpdateCase{[](Records& r) { r.ULong(CKA_KEY_TYPE, CKK_AES); }, CKR_ATTRIBUTE_READ_ONLY, CK_TRUE, "KeyType"},
        KeyUpdateCase{[](Records& r) { r.Raw(CKA_WRAP_TEMPLATE, ""); }, CKR_ATTRIBUTE_READ_ONLY, CK_TRUE,
                      "WrapTemplate"},
        KeyUpdateCase{[](Records& r) { r.Raw(CKA_START_DATE, "2021"); }, CKR_ATTRIBUTE_VALUE_INVALID, CK_TRUE,
                      "DateOfWrongLength"}),
    [](const ::testing::TestParamInfo<KeyUpdateCase>& info) { return std::string(info.param.name); });

TEST(KeyTest, CreationDefaultsAndRefusals) {
    FakeSecretKey plain;
    Records basic;
    basic.ULong(CKA_CLASS, CKO_SECRET_KEY).ULong(CKA_KEY_TYPE, CKK_GENERIC_SECRET).Raw(CKA_VALUE, "k");
    AttributeTemplate basicTemplate(basic.Array(), basic.Count());
    EXPECT_TRUE(zrck::TokGenericSecretKey::ClassCouldBeCreated(basicTemplate));
    plain.InitializeWithAttributes(nullptr, basicTemplate);
    EXPECT_EQ(CK_TRUE, plain.GetCouldSign());       // usage defaults
    EXPECT_EQ(CK_TRUE, plain.GetIsSensitive());     // sensitivity default
    for (CK_ATTRIBUTE_TYPE type : {CKA_LOCAL, CKA_KEY_GEN_MECHANISM, CKA_ALLOWED_MECHANISMS}) {
        FakeSecretKey key;
        Records records;
        records.ULong(type, 0);
        AttributeTemplate attributes(records.Array(), 1);
        EXPECT_EQ(CKR_ATTRIBUTE_READ_ONLY, CodeOf([&] { key.InitializeWithAttributes(nullptr, attributes); })) << type;
    }
    for (CK_ATTRIBUTE_TYPE type : {CKA_WRAP_TEMPLATE, CKA_ZR_KEY_GENERATION_DATE}) {
        FakeSecretKey key;
        Records records;
        records.Raw(type, "x");
        AttributeTemplate attributes(records.Array(), 1);
        EXPECT_EQ(CKR_ATTRIBUTE_TYPE_INVALID, CodeOf([&] { key.InitializeWithAttributes(nullptr, attributes); }))
            << type;
    }
}

TEST(KeyTest, Matching) {
    FakeSecretKey key;
    key.SetValueLen(16);
    auto matches = [&](Records& records) {
        AttributeTemplate search(records.Array(), records.Count());
        return key.IsObjectMeetConditions(search);
    };
    Records byLength, byTemplate, byGenMechanism;
    byLength.ULong(CKA_CLASS, CKO_SECRET_KEY).ULong(CKA_VALUE_LEN, 16);
    byTemplate.Raw(CKA_WRAP_TEMPLATE, "");
    byGenMechanism.ULong(CKA_KEY_GEN_MECHANISM, 0);
    EXPECT_TRUE(matches(byLength));
    EXPECT_FALSE(matches(byTemplate));
    EXPECT_FALSE(matches(byGenMechanism));  // a key that is not local never matches
}

TEST(KeyTest, GenericSecretKeySizes) {
    FakeSecretKey key;
    EXPECT_FALSE(key.IsKeySizeAcceptable(0));
    EXPECT_TRUE(key.IsKeySizeAcceptable(1));
    EXPECT_TRUE(key.IsKeySizeAcceptable(2097152));
    EXPECT_FALSE(key.IsKeySizeAcceptable(2097153));
}

}  // namespace

namespace {

using zrtest::FakePrivateKey;
using zrtest::FakePublicKey;

template <class Key>
CK_RV Update(Key& key, Records& records) {
    AttributeTemplate attributes(records.Array(), records.Count());
    return key.UpdateAttributes(attributes);
}

TEST(PrivateKeyTest, OneWayAttributesAndTheRestOfTheTemplate) {
    FakePrivateKey key;
    key.SetCouldSign(CK_TRUE);
    key.SetCouldDecrypt(CK_TRUE);
    Records allowed, wrongWay, trusted, fixed;
    allowed.Bool(CKA_SENSITIVE, true).Bool(CKA_DECRYPT, false);
    EXPECT_EQ(CKR_OK, Update(key, allowed));
    EXPECT_EQ(CK_TRUE, key.GetIsSensitive());
    EXPECT_EQ(CK_FALSE, key.GetCouldDecrypt());
    wrongWay.Bool(CKA_EXTRACTABLE, true).Bool(CKA_SIGN, false);
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, Update(key, wrongWay));
    EXPECT_EQ(CK_FALSE, key.GetCouldSign());
    trusted.Bool(CKA_WRAP_WITH_TRUSTED, false);
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, Update(key, trusted));
    fixed.Bool(CKA_ALWAYS_AUTHENTICATE, true);
    EXPECT_EQ(CKR_ATTRIBUTE_READ_ONLY, Update(key, fixed));
}

TEST(PrivateKeyTest, AlwaysAuthenticateOnlyForPrivateObjects) {
    FakePrivateKey key;
    key.SetNeedAlwaysAuthenticate(CK_TRUE);
    auto read = [&] {
        CK_BBOOL value = 9;
        CK_ATTRIBUTE record = {CKA_ALWAYS_AUTHENTICATE, &value, 1};
        AttributeTemplate attributes(&record, 1);
        EXPECT_EQ(CKR_OK, key.GetAttributes(attributes));
        return value;
    };
    EXPECT_EQ(CK_FALSE, read());
    key.SetVisibility(zrck::TokObject::VISIBILITY_PRIVATE);
    EXPECT_EQ(CK_TRUE, read());
}

TEST(PublicKeyTest, UpdateRules) {
    FakePublicKey key;
    Records encrypt, wrapTemplate, trusted;
    encrypt.Bool(CKA_ENCRYPT, true);
    EXPECT_EQ(CKR_OK, Update(key, encrypt));
    EXPECT_EQ(CK_TRUE, key.GetCouldEncrypt());
    wrapTemplate.Raw(CKA_WRAP_TEMPLATE, "");
    EXPECT_EQ(CKR_ATTRIBUTE_TYPE_INVALID, Update(key, wrapTemplate));
    trusted.Bool(CKA_TRUSTED, true);
    EXPECT_EQ(CKR_ATTRIBUTE_READ_ONLY, Update(key, trusted));
    EXPECT_EQ(CK_TRUE, key.GetIsExtractable());
}

struct DerivedCase {
    CK_BBOOL baseAlwaysSensitive, baseNeverExtractable, derivedSensitive, derivedExtractable;
    CK_BBOOL alwaysSensitive, neverExtractable;
    const char* name;
};

class DerivedSensitivityTest : public ::testing::TestWithParam<DerivedCase> {};

TEST_P(DerivedSensitivityTest, FollowsTheBaseKey) {
    const DerivedCase& c = GetParam();
    FakePrivateKey base;
    FakeSecretKey derived;
    base.SetIsAlwaysSensitive(c.baseAlwaysSensitive);
    base.SetIsNeverExtractable(c.baseNeverExtractable);
    derived.SetIsSensitive(c.derivedSensitive);
    derived.SetIsExtractable(c.derivedExtractable);
    zrck::TokMechanism::FillDerivedSensitivities(base, derived);
    EXPECT_EQ(c.alwaysSensitive, derived.GetIsAlwaysSensitive());
    EXPECT_EQ(c.neverExtractable, derived.GetIsNeverExtractable());
}

INSTANTIATE_TEST_SUITE_P(
    Mechanism, DerivedSensitivityTest,
    ::testing::Values(DerivedCase{CK_TRUE, CK_TRUE, CK_TRUE, CK_FALSE, CK_TRUE, CK_TRUE, "KeptFromAProtectedBase"},
                      DerivedCase{CK_FALSE, CK_FALSE, CK_TRUE, CK_FALSE, CK_FALSE, CK_FALSE, "LostWithAnExposedBase"},
                      DerivedCase{CK_TRUE, CK_TRUE, CK_FALSE, CK_TRUE, CK_FALSE, CK_FALSE, "LostWithAnExposedKey"}),
    [](const ::testing::TestParamInfo<DerivedCase>& info) { return std::string(info.param.name); });

}  // namespace

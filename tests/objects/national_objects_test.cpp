// Attribute rules of GOST 28147-89 and DSTU 4145 objects, domain parameters and hardware features.
#include <gtest/gtest.h>

#include "class_fakes.h"
#include "class_test_util.h"
#include "objects/tok_hw_feature.h"

namespace {

using namespace zrtest;

const Bytes kSBox(66, 0x04);

TEST(GostSecretKey, ValueLengthIsFixedAt32) {
    FakeGostSecretKey refused;
    Attrs withLength;
    withLength.Data(CKA_VALUE, Bytes(32, 1)).ULong(CKA_VALUE_LEN, 32);
    EXPECT_EQ(Create(refused, withLength), CKR_ATTRIBUTE_READ_ONLY);
    for (size_t length : {size_t(0), size_t(16), size_t(33)}) {
        FakeGostSecretKey shortKey;
        Attrs wrongValue;
        wrongValue.Data(CKA_VALUE, Bytes(length, 1));
        EXPECT_EQ(Create(shortKey, wrongValue), CKR_ATTRIBUTE_VALUE_INVALID) << length;
    }

    FakeGostSecretKey key;
    Attrs create;
    create.Data(CKA_VALUE, Bytes(32, 1)).Data(CKA_GOST_SBOXES, kSBox).Bool(CKA_EXTRACTABLE, true);
    ASSERT_EQ(Create(key, create), CKR_OK);
    EXPECT_EQ(key.usageDefaultsAdded, 1);
    Attrs read;
    read.Out(CKA_VALUE_LEN).Out(CKA_VALUE, 31);
    EXPECT_EQ(Read(key, read), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(read.ULongOf(0), 32u);
    EXPECT_EQ(read[1].ulValueLen, 32u);
}

TEST(GostSecretKey, AlwaysSensitiveKeyRefusesItsValue) {
    FakeGostSecretKey key;
    Attrs create;
    create.Data(CKA_VALUE, Bytes(32, 1)).Bool(CKA_EXTRACTABLE, true).Bool(CKA_SENSITIVE, false)
        .Bool(CKA_ALWAYS_SENSITIVE, true);
    ASSERT_EQ(Create(key, create), CKR_OK);
    Attrs read;
    read.Out(CKA_VALUE).Out(CKA_GOST_SBOXES);
    EXPECT_EQ(Read(key, read), CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(read[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(read[1].ulValueLen, 0u);
}

TEST(GostSecretKey, SearchAndFixedValues) {
    FakeGostSecretKey key;
    Attrs create;
    create.Data(CKA_VALUE, Bytes(32, 1)).Data(CKA_GOST_SBOXES, kSBox).Text(CKA_LABEL, "old");
    ASSERT_EQ(Create(key, create), CKR_OK);

    struct Case {
        const char* name;
        std::function<void(Attrs&)> fill;
        bool match;
    } searches[] = {
        {"length 32", [](Attrs& a) { a.ULong(CKA_KEY_TYPE, CKK_GOST28147_NAT).ULong(CKA_VALUE_LEN, 32); }, true},
        {"length 16", [](Attrs& a) { a.ULong(CKA_KEY_TYPE, CKK_GOST28147_NAT).ULong(CKA_VALUE_LEN, 16); }, false},
        {"value", [](Attrs& a) { a.Data(CKA_VALUE, Bytes(32, 1)); }, false},
        {"S-box", [](Attrs& a) { a.Data(CKA_GOST_SBOXES, kSBox); }, true},
        {"other S-box", [](Attrs& a) { a.Data(CKA_GOST_SBOXES, Bytes(66, 0x05)); }, false},
    };
    for (const Case& c : searches) {
        SCOPED_TRACE(c.name);
        Attrs search;
        c.fill(search);
        EXPECT_EQ(Matches(key, search), c.match);
    }

    for (CK_ATTRIBUTE_TYPE fixed : {CKA_VALUE, CKA_GOST_SBOXES}) {
        Attrs update;
        update.Text(CKA_LABEL, "new").Data(fixed, Bytes(32, 2));
        EXPECT_EQ(Update(key, update), CKR_ATTRIBUTE_READ_ONLY);
        EXPECT_EQ(key.GetLabel().ToString(), "old");
        EXPECT_EQ(key.GetValue().Data()[0], 1);
    }
}

TEST(GostDomainParams, IdAndSBoxChangeAndMatch) {
    FakeGostDomainParams params;
    Attrs create;
    create.Text(CKA_ID, "dke1").Data(CKA_GOST_SBOXES, kSBox);
    ASSERT_EQ(Create(params, create), CKR_OK);
    Attrs update;
    update.Text(CKA_ID, "dke2").Text(CKA_LABEL, "l");
    EXPECT_EQ(Update(params, update), CKR_OK);
    EXPECT_EQ(params.GetID().ToString(), "dke2");

    Attrs match;
    match.ULong(CKA_CLASS, CKO_DOMAIN_PARAMETERS).ULong(CKA_KEY_TYPE, CKK_GOST28147_NAT).Text(CKA_ID, "dke2");
    EXPECT_TRUE(Matches(params, match));
    Attrs foreign;
    foreign.Text(CKA_EC_PARAMS, "");
    EXPECT_FALSE(Matches(params, foreign));
}

TEST(DomainParams, KeyTypeAndLocalAreFixedAndLocalReadsAsOneByte) {
    FakeUASgnDomainParams params;
    params.SetECParams(tru::Buffer("curve", 5));
    for (CK_ATTRIBUTE_TYPE fixed : {CKA_LOCAL, CKA_KEY_TYPE, CKA_EC_PARAMS}) {
        Attrs update;
        update.Text(CKA_LABEL, "new").Bool(fixed, true);
        EXPECT_EQ(Update(params, update), CKR_ATTRIBUTE_READ_ONLY) << fixed;
        EXPECT_EQ(params.GetLabel().Size(), 0u);
    }
    Attrs read;
    read.Out(CKA_LOCAL, 0).Query(CKA_EC_PARAMS).Out(CKA_KEY_TYPE);
    EXPECT_EQ(Read(params, read), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(read[0].ulValueLen, 1u);
    EXPECT_EQ(read[1].ulValueLen, 5u);
    EXPECT_EQ(read.ULongOf(2), CKK_DSTU4145);

    Attrs localCreate;
    localCreate.Bool(CKA_LOCAL, true);
    FakeUASgnDomainParams created;
    EXPECT_EQ(Create(created, localCreate), CKR_ATTRIBUTE_READ_ONLY);
}

Attrs& DstuPublicTemplate(Attrs& attrs) { return attrs.Text(CKA_EC_PARAMS, "curve").Text(CKA_EC_POINT, "point"); }

TEST(UASgnPublicKey, CreationNeedsParametersThenPoint) {
    struct Case {
        const char* name;
        std::function<void(Attrs&)> fill;
        CK_RV rv;
        const char* message;
    } cases[] = {
        {"both", [](Attrs& a) { DstuPublicTemplate(a); }, CKR_OK, ""},
        {"no point", [](Attrs& a) { a.Text(CKA_EC_PARAMS, "curve"); }, CKR_TEMPLATE_INCOMPLETE,
         "TokUASgnPublicKey: CKA_EC_POINT not set"},
        {"neither", [](Attrs&) {}, CKR_TEMPLATE_INCOMPLETE, "TokUASgnPublicKey: CKA_EC_PARAMS not set"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUASgnPublicKey key;
        Attrs attrs;
        c.fill(attrs);
        auto tmpl = attrs.Make();
        std::string message;
        CK_RV rv = CKR_OK;
        try {
            key.InitializeWithAttributes(nullptr, *tmpl);
        } catch (const zrck::Exception& e) {
            rv = e.GetCode();
            message = e.what();
        }
        EXPECT_EQ(rv, c.rv);
        EXPECT_EQ(message, c.message);
        if (rv == CKR_OK) {
            EXPECT_EQ(key.GetCouldVerify(), CK_TRUE);
        }
    }
}

TEST(UASgnPublicKey, CurveAndPointAreFixedAndSearched) {
    FakeUASgnPublicKey key;
    Attrs create;
    DstuPublicTemplate(create).Bool(CKA_VERIFY, false);
    ASSERT_EQ(Create(key, create), CKR_OK);
    EXPECT_EQ(key.GetCouldVerify(), CK_FALSE);
    Attrs update;
    update.Text(CKA_EC_POINT, "other").Bool(CKA_VERIFY, true);
    EXPECT_EQ(Update(key, update), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(key.GetECPoint().ToString(), "point");
    EXPECT_EQ(key.GetCouldVerify(), CK_FALSE);

    Attrs byPoint;
    byPoint.ULong(CKA_KEY_TYPE, CKK_DSTU4145).Text(CKA_EC_POINT, "point").Text(CKA_EC_PARAMS, "curve");
    EXPECT_TRUE(Matches(key, byPoint));
    Attrs byValue;
    byValue.Text(CKA_VALUE, "");
    EXPECT_FALSE(Matches(key, byValue));
}

TEST(UASgnPrivateKey, CreationDefaultsAndRequiredParameters) {
    struct Case {
        const char* name;
        std::function<void(Attrs&)> fill;
        CK_RV rv;
        CK_BBOOL sign;
    } cases[] = {
        {"no usage", [](Attrs& a) { a.Text(CKA_EC_PARAMS, "curve"); }, CKR_OK, CK_TRUE},
        {"sign false", [](Attrs& a) { a.Text(CKA_EC_PARAMS, "curve").Bool(CKA_SIGN, false); }, CKR_OK, CK_FALSE},
        {"no parameters", [](Attrs& a) { a.Bool(CKA_SIGN, true); }, CKR_TEMPLATE_INCOMPLETE, CK_TRUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUASgnPrivateKey key;
        Attrs attrs;
        c.fill(attrs);
        EXPECT_EQ(Create(key, attrs), c.rv);
        if (c.rv != CKR_OK) continue;
        EXPECT_EQ(key.GetCouldSign(), c.sign);
        // CKA_SIGN is always in the template after set-up, so no usage defaults are added.
        EXPECT_EQ(key.usageDefaultsAdded, 0);
        EXPECT_EQ(key.sensitiveDefaultsAdded, 1);
    }
}

TEST(UASgnPrivateKey, ValueReadFailuresMarkOnlyTheirEntry) {
    struct Case {
        const char* name;
        bool sensitive;
        CK_RV rv;
    } cases[] = {
        {"sensitive key", true, CKR_ATTRIBUTE_SENSITIVE},
        // The device-held value cannot be read; the entry says so and the walk goes on.
        {"revealable key", false, CKR_KEY_UNEXTRACTABLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUASgnPrivateKey key;
        Attrs create;
        create.Text(CKA_EC_PARAMS, "curve").Bool(CKA_SENSITIVE, c.sensitive).Bool(CKA_EXTRACTABLE, true);
        ASSERT_EQ(Create(key, create), CKR_OK);
        Attrs read;
        read.Out(CKA_VALUE).Out(CKA_EC_PARAMS).Out(CKA_SIGN);
        EXPECT_EQ(Read(key, read), c.rv);
        EXPECT_EQ(read[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
        EXPECT_EQ(read.ValueOf(1), B("curve"));
        EXPECT_EQ(read.ValueOf(2), Bytes{CK_TRUE});
    }
}

TEST(UASgnPrivateKey, UpdateAndSearch) {
    FakeUASgnPrivateKey key;
    Attrs create;
    create.Text(CKA_EC_PARAMS, "curve").Text(CKA_LABEL, "old");
    ASSERT_EQ(Create(key, create), CKR_OK);
    Attrs update;
    update.Text(CKA_LABEL, "new").Text(CKA_EC_PARAMS, "other");
    EXPECT_EQ(Update(key, update), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(key.GetLabel().ToString(), "old");

    Attrs byValue;
    byValue.ULong(CKA_CLASS, CKO_PRIVATE_KEY).Text(CKA_VALUE, "x");
    EXPECT_FALSE(Matches(key, byValue));
    Attrs byParams;
    byParams.ULong(CKA_KEY_TYPE, CKK_DSTU4145).Text(CKA_EC_PARAMS, "curve");
    EXPECT_TRUE(Matches(key, byParams));
}

class FakeHWFeature : public zrck::TokHWFeature {
public:
    CK_HW_FEATURE_TYPE GetFeatureType() const override { return CKH_ZR_SO_PROPERTIES; }
    ObjectLifeTimeEnum GetLifeTime() const override { return LIFETIME_FIXED; }
    ObjectVisibilityEnum GetVisibility() const override { return VISIBILITY_PUBLIC; }
    void SetVisibility(ObjectVisibilityEnum) override {}
    CK_RV GetAttributes(zrck::AttributeTemplate&) override { return CKR_OK; }
    CK_RV UpdateAttributes(zrck::AttributeTemplate&) override { return CKR_OK; }
    void SetupAttributes(zrck::ObjectToken*, zrck::AttributeTemplate&) override {}
    const char* GetObjectClassName() const override { return "FakeHWFeature"; }
};

TEST(HWFeature, SearchCopyAndCreation) {
    FakeHWFeature feature;
    Attrs byType;
    byType.ULong(CKA_CLASS, CKO_HW_FEATURE).ULong(CKA_HW_FEATURE_TYPE, CKH_ZR_SO_PROPERTIES);
    EXPECT_TRUE(Matches(feature, byType));
    Attrs otherType;
    otherType.ULong(CKA_HW_FEATURE_TYPE, CKH_MONOTONIC_COUNTER);
    EXPECT_FALSE(Matches(feature, otherType));
    Attrs withLabel;
    withLabel.ULong(CKA_CLASS, CKO_HW_FEATURE).Text(CKA_LABEL, "anything");
    EXPECT_TRUE(Matches(feature, withLabel));
    Attrs narrowType;
    NarrowULong(narrowType.ULong(CKA_CLASS, CKO_HW_FEATURE), CKA_HW_FEATURE_TYPE, 1);
    EXPECT_EQ(MatchCode(feature, narrowType), CKR_ATTRIBUTE_VALUE_INVALID);

    EXPECT_EQ(CodeOf([&] { feature.GenerateCopy(); }), CKR_OBJECT_HANDLE_INVALID);
    Attrs create;
    create.ULong(CKA_HW_FEATURE_TYPE, CKH_ZR_SO_PROPERTIES);
    auto tmpl = create.Make();
    EXPECT_EQ(CodeOf([&] { feature.InitializeWithAttributes(nullptr, *tmpl); }), CKR_GENERAL_ERROR);
    EXPECT_FALSE(zrck::TokStorageObject::IsTokStorageObject(&feature));
}

}  // namespace

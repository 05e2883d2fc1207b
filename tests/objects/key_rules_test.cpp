// Attribute rules of RSA, EC and Triple-DES keys.
#include <gtest/gtest.h>

#include "class_fakes.h"
#include "class_test_util.h"

namespace {

using namespace zrtest;

Bytes Modulus128() {
    Bytes modulus(128, 0x5A);
    modulus[0] = 0xC3;
    return modulus;
}

Attrs& RsaPrivateTemplate(Attrs& attrs) {
    return attrs.ULong(CKA_CLASS, CKO_PRIVATE_KEY)
        .ULong(CKA_KEY_TYPE, CKK_RSA)
        .Data(CKA_MODULUS, Modulus128())
        .Data(CKA_PUBLIC_EXPONENT, {0x01, 0x00, 0x01})
        .Text(CKA_PRIVATE_EXPONENT, "d")
        .Text(CKA_PRIME_1, "p");
}

Attrs& RsaPublicTemplate(Attrs& attrs, const Bytes& modulus) {
    return attrs.ULong(CKA_CLASS, CKO_PUBLIC_KEY)
        .ULong(CKA_KEY_TYPE, CKK_RSA)
        .Data(CKA_MODULUS, modulus)
        .Data(CKA_PUBLIC_EXPONENT, {0x01, 0x00, 0x01});
}

TEST(KeyCreationTests, EachClassAcceptsItsClassAndKeyType) {
    using Test = bool (*)(const zrck::AttributeTemplate&);
    struct Case {
        const char* name;
        Test test;
        CK_OBJECT_CLASS objectClass;
        CK_KEY_TYPE keyType;
    } cases[] = {
        {"RSA private", zrck::TokRsaPrivateKey::ClassCouldBeCreated, CKO_PRIVATE_KEY, CKK_RSA},
        {"RSA public", zrck::TokRsaPublicKey::ClassCouldBeCreated, CKO_PUBLIC_KEY, CKK_RSA},
        {"EC private", zrck::TokECDsaPrivateKey::ClassCouldBeCreated, CKO_PRIVATE_KEY, CKK_EC},
        {"EC public", zrck::TokECDsaPublicKey::ClassCouldBeCreated, CKO_PUBLIC_KEY, CKK_EC},
        {"Triple-DES", zrck::TokDES3SecretKey::ClassCouldBeCreated, CKO_SECRET_KEY, CKK_DES3},
        {"GOST 28147-89", zrck::TokUAGostSecretKey::ClassCouldBeCreated, CKO_SECRET_KEY, CKK_GOST28147_NAT},
        {"GOST domain parameters", zrck::TokUAGostDomainParams::ClassCouldBeCreated, CKO_DOMAIN_PARAMETERS,
         CKK_GOST28147_NAT},
        {"DSTU 4145 private", zrck::TokUASgnPrivateKey::ClassCouldBeCreated, CKO_PRIVATE_KEY, CKK_DSTU4145},
        {"DSTU 4145 public", zrck::TokUASgnPublicKey::ClassCouldBeCreated, CKO_PUBLIC_KEY, CKK_DSTU4145},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Attrs exact, otherType, noType, otherClass, narrowType;
        exact.ULong(CKA_CLASS, c.objectClass).ULong(CKA_KEY_TYPE, c.keyType);
        otherType.ULong(CKA_CLASS, c.objectClass).ULong(CKA_KEY_TYPE, CKK_GENERIC_SECRET);
        noType.ULong(CKA_CLASS, c.objectClass);
        otherClass.ULong(CKA_CLASS, CKO_DATA).ULong(CKA_KEY_TYPE, c.keyType);
        NarrowULong(narrowType.ULong(CKA_CLASS, c.objectClass), CKA_KEY_TYPE, static_cast<uint32_t>(c.keyType));
        EXPECT_TRUE(c.test(*exact.Make()));
        EXPECT_FALSE(c.test(*otherType.Make()));
        EXPECT_FALSE(c.test(*noType.Make()));
        EXPECT_FALSE(c.test(*otherClass.Make()));
        EXPECT_EQ(CodeOf([&] { c.test(*narrowType.Make()); }), CKR_ATTRIBUTE_VALUE_INVALID);
    }
    Attrs dstuParams;
    dstuParams.ULong(CKA_CLASS, CKO_DOMAIN_PARAMETERS).ULong(CKA_KEY_TYPE, CKK_DSTU4145);
    EXPECT_FALSE(zrck::TokUASgnDomainParams::ClassCouldBeCreated(*dstuParams.Make()));
}

TEST(RsaPrivateKey, CreationRules) {
    struct Case {
        const char* name;
        std::function<void(Attrs&)> fill;
        CK_RV rv;
    } cases[] = {
        {"complete", [](Attrs& a) { RsaPrivateTemplate(a); }, CKR_OK},
        {"bit count given", [](Attrs& a) { RsaPrivateTemplate(a).ULong(CKA_MODULUS_BITS, 1024); },
         CKR_TEMPLATE_INCONSISTENT},
        {"no private exponent", [](Attrs& a) { a.Data(CKA_MODULUS, Modulus128()); }, CKR_TEMPLATE_INCOMPLETE},
        {"no modulus", [](Attrs& a) { a.Text(CKA_PRIVATE_EXPONENT, "d"); }, CKR_TEMPLATE_INCOMPLETE},
        {"local flag given", [](Attrs& a) { RsaPrivateTemplate(a).Bool(CKA_LOCAL, true); }, CKR_ATTRIBUTE_READ_ONLY},
        {"wrap template given", [](Attrs& a) { RsaPrivateTemplate(a).Text(CKA_UNWRAP_TEMPLATE, ""); },
         CKR_ATTRIBUTE_TYPE_INVALID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRsaPrivateKey key;
        Attrs attrs;
        c.fill(attrs);
        EXPECT_EQ(Create(key, attrs), c.rv);
    }
}

TEST(RsaPrivateKey, UsageDefaultsFillOnlyWhatTheTemplateLacks) {
    struct Case {
        const char* name;
        bool giveSignFalse;
    } cases[] = {{"no usage", false}, {"sign false", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRsaPrivateKey key;
        Attrs attrs;
        RsaPrivateTemplate(attrs);
        if (c.giveSignFalse) attrs.Bool(CKA_SIGN, false);
        ASSERT_EQ(Create(key, attrs), CKR_OK);
        EXPECT_EQ(key.GetCouldSign(), c.giveSignFalse ? CK_FALSE : CK_TRUE);
        EXPECT_EQ(key.GetCouldDecrypt(), CK_TRUE);
        EXPECT_EQ(key.GetCouldSignRecover(), CK_TRUE);
        EXPECT_EQ(key.sensitiveDefaultsAdded, 1);
        EXPECT_EQ(key.GetModulusBits(), 1024u);
    }
}

TEST(RsaPublicKey, ModulusBitsFollowTheModulusValue) {
    struct Case {
        const char* name;
        Bytes modulus;
        CK_ULONG bits;
    } cases[] = {
        {"128 bytes", Modulus128(), 1024},
        {"leading zero byte",
         [] {
             Bytes m = Modulus128();
             m.insert(m.begin(), 0x00);
             return m;
         }(),
         1024},
        {"top byte 0x01",
         [] {
             Bytes m = Modulus128();
             m[0] = 0x01;
             return m;
         }(),
         1017},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRsaPublicKey key;
        Attrs attrs;
        RsaPublicTemplate(attrs, c.modulus);
        ASSERT_EQ(Create(key, attrs), CKR_OK);
        Attrs read;
        read.Out(CKA_MODULUS_BITS).Out(CKA_ENCRYPT).Out(CKA_VERIFY_RECOVER);
        EXPECT_EQ(Read(key, read), CKR_OK);
        EXPECT_EQ(read.ULongOf(0), c.bits);
        EXPECT_EQ(read.ValueOf(1), Bytes{CK_TRUE});
        EXPECT_EQ(read.ValueOf(2), Bytes{CK_TRUE});
    }
}

TEST(RsaKeys, ComponentsAreFixedAndUpdatesAllOrNothing) {
    struct Case {
        const char* name;
        bool publicKey;
        std::function<void(Attrs&)> fill;
        CK_RV rv;
        bool labelChanged;
    } cases[] = {
        {"public modulus", true, [](Attrs& a) { a.Text(CKA_LABEL, "new").Data(CKA_MODULUS, Modulus128()); },
         CKR_ATTRIBUTE_READ_ONLY, false},
        {"public exponent", true, [](Attrs& a) { a.Text(CKA_LABEL, "new").Data(CKA_PUBLIC_EXPONENT, {3}); },
         CKR_ATTRIBUTE_READ_ONLY, false},
        {"public modulus bits", true, [](Attrs& a) { a.ULong(CKA_MODULUS_BITS, 2048); }, CKR_ATTRIBUTE_READ_ONLY,
         false},
        {"public usage and label", true, [](Attrs& a) { a.Text(CKA_LABEL, "new").Bool(CKA_WRAP, true); }, CKR_OK, true},
        {"public wrap template", true, [](Attrs& a) { a.Text(CKA_LABEL, "new").Text(CKA_WRAP_TEMPLATE, ""); },
         CKR_ATTRIBUTE_TYPE_INVALID, false},
        {"private modulus", false, [](Attrs& a) { a.Text(CKA_LABEL, "new").Data(CKA_MODULUS, Modulus128()); },
         CKR_ATTRIBUTE_READ_ONLY, false},
        {"private derive", false, [](Attrs& a) { a.Text(CKA_LABEL, "new").Bool(CKA_DERIVE, true); },
         CKR_ATTRIBUTE_READ_ONLY, false},
        {"sensitive on and decrypt off", false,
         [](Attrs& a) { a.Text(CKA_LABEL, "new").Bool(CKA_SENSITIVE, true).Bool(CKA_DECRYPT, false); }, CKR_OK, true},
        {"extractable back on", false,
         [](Attrs& a) { a.Text(CKA_LABEL, "new").Bool(CKA_EXTRACTABLE, true).Bool(CKA_SIGN, false); },
         CKR_ATTRIBUTE_VALUE_INVALID, false},
        {"key type", false, [](Attrs& a) { a.ULong(CKA_KEY_TYPE, CKK_RSA); }, CKR_ATTRIBUTE_READ_ONLY, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRsaPublicKey publicKey;
        FakeRsaPrivateKey privateKey;
        zrck::TokKey& key = c.publicKey ? static_cast<zrck::TokKey&>(publicKey) : privateKey;
        Attrs create;
        if (c.publicKey) {
            RsaPublicTemplate(create, Modulus128()).Text(CKA_LABEL, "old");
        } else {
            RsaPrivateTemplate(create).Text(CKA_LABEL, "old").Bool(CKA_EXTRACTABLE, true);
        }
        ASSERT_EQ(Create(key, create), CKR_OK);
        Attrs update;
        c.fill(update);
        EXPECT_EQ(Update(key, update), c.rv);
        EXPECT_EQ(key.GetLabel().ToString(), c.labelChanged ? "new" : "old");
        if (!c.publicKey) {
            // Nothing of a refused template is applied.
            EXPECT_EQ(privateKey.GetCouldSign(), CK_TRUE);
            EXPECT_EQ(privateKey.GetIsExtractable(), CK_TRUE);
        }
        EXPECT_EQ(publicKey.GetPublicExponent().Size(), c.publicKey ? 3u : 0u);
    }
}

TEST(RsaPrivateKey, PrivateComponentsAreRevealedOnlyForAnUnprotectedKey) {
    struct Case {
        const char* name;
        CK_ATTRIBUTE_TYPE flag;
        CK_BBOOL value;
        CK_RV rv;
    } cases[] = {
        {"unprotected", CKA_LABEL, CK_FALSE, CKR_OK},
        {"sensitive", CKA_SENSITIVE, CK_TRUE, CKR_ATTRIBUTE_SENSITIVE},
        {"always sensitive", CKA_ALWAYS_SENSITIVE, CK_TRUE, CKR_ATTRIBUTE_SENSITIVE},
        {"not extractable", CKA_EXTRACTABLE, CK_FALSE, CKR_ATTRIBUTE_SENSITIVE},
        {"never extractable", CKA_NEVER_EXTRACTABLE, CK_TRUE, CKR_ATTRIBUTE_SENSITIVE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRsaPrivateKey key;
        Attrs create;
        RsaPrivateTemplate(create).Bool(CKA_EXTRACTABLE, true).Bool(CKA_SENSITIVE, false);
        ASSERT_EQ(Create(key, create), CKR_OK);
        key.store.SetFlag(c.flag, c.value);
        Attrs read;
        read.Out(CKA_PRIME_1).Out(CKA_MODULUS, 200).Out(CKA_KEY_GEN_MECHANISM).Out(CKA_UNWRAP_TEMPLATE);
        EXPECT_EQ(Read(key, read), c.rv == CKR_OK ? CKR_ATTRIBUTE_TYPE_INVALID : c.rv);
        EXPECT_EQ(read[0].ulValueLen, c.rv == CKR_OK ? 1u : CK_UNAVAILABLE_INFORMATION);
        EXPECT_EQ(read.ValueOf(1), Modulus128());
        // Not generated on the token: no key generation mechanism.
        EXPECT_EQ(read.ULongOf(2), CK_UNAVAILABLE_INFORMATION);
        // A refused entry never keeps the caller's length.
        EXPECT_EQ(read[3].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    }
}

TEST(RsaKeys, SearchRules) {
    FakeRsaPrivateKey privateKey;
    Attrs create;
    RsaPrivateTemplate(create);
    ASSERT_EQ(Create(privateKey, create), CKR_OK);

    Attrs byBits;
    byBits.ULong(CKA_KEY_TYPE, CKK_RSA).ULong(CKA_MODULUS_BITS, 1024).Bool(CKA_SIGN, true);
    EXPECT_TRUE(Matches(privateKey, byBits));
    Attrs otherBits;
    otherBits.ULong(CKA_KEY_TYPE, CKK_RSA).ULong(CKA_MODULUS_BITS, 2048);
    EXPECT_FALSE(Matches(privateKey, otherBits));
    Attrs byPrime;
    byPrime.ULong(CKA_CLASS, CKO_PRIVATE_KEY).Text(CKA_PRIME_1, "p");
    EXPECT_FALSE(Matches(privateKey, byPrime));
    Attrs narrowBits;
    NarrowULong(narrowBits, CKA_MODULUS_BITS, 1024);
    EXPECT_EQ(MatchCode(privateKey, narrowBits), CKR_ATTRIBUTE_VALUE_INVALID);

    FakeRsaPublicKey publicKey;
    Attrs createPublic;
    RsaPublicTemplate(createPublic, Modulus128());
    ASSERT_EQ(Create(publicKey, createPublic), CKR_OK);
    Attrs byTrust;
    byTrust.ULong(CKA_CLASS, CKO_PUBLIC_KEY).Bool(CKA_TRUSTED, false).Data(CKA_MODULUS, Modulus128());
    EXPECT_TRUE(Matches(publicKey, byTrust));
    Attrs byForeign;
    byForeign.ULong(CKA_CLASS, CKO_PUBLIC_KEY).Text(CKA_EC_POINT, "");
    EXPECT_FALSE(Matches(publicKey, byForeign));
}

TEST(ECDsaKeys, CreationUpdateAndSearch) {
    FakeECDsaPublicKey noPoint;
    Attrs withoutPoint;
    withoutPoint.Text(CKA_EC_PARAMS, "curve");
    EXPECT_EQ(Create(noPoint, withoutPoint), CKR_TEMPLATE_INCOMPLETE);

    FakeECDsaPublicKey publicKey;
    Attrs pointOnly;
    pointOnly.Text(CKA_EC_POINT, "point").Text(CKA_LABEL, "old");
    ASSERT_EQ(Create(publicKey, pointOnly), CKR_OK);
    EXPECT_EQ(publicKey.usageDefaultsAdded, 1);
    for (CK_ATTRIBUTE_TYPE fixed : {CKA_EC_POINT, CKA_EC_PARAMS}) {
        Attrs update;
        update.Text(CKA_LABEL, "new").Text(fixed, "other");
        EXPECT_EQ(Update(publicKey, update), CKR_ATTRIBUTE_READ_ONLY);
        EXPECT_EQ(publicKey.GetLabel().ToString(), "old");
    }

    FakeECDsaPrivateKey privateKey;
    Attrs create;
    create.Text(CKA_EC_PARAMS, "curve").Text(CKA_VALUE, "scalar").Bool(CKA_SIGN, true);
    ASSERT_EQ(Create(privateKey, create), CKR_OK);
    EXPECT_EQ(privateKey.usageDefaultsAdded, 0);
    EXPECT_EQ(privateKey.sensitiveDefaultsAdded, 1);
    Attrs byValue;
    byValue.Text(CKA_VALUE, "scalar");
    EXPECT_FALSE(Matches(privateKey, byValue));
    Attrs byParams;
    byParams.ULong(CKA_KEY_TYPE, CKK_EC).Text(CKA_EC_PARAMS, "curve");
    EXPECT_TRUE(Matches(privateKey, byParams));
    Attrs updateValue;
    updateValue.Text(CKA_VALUE, "other");
    EXPECT_EQ(Update(privateKey, updateValue), CKR_ATTRIBUTE_READ_ONLY);
}

TEST(DES3SecretKey, ValueMustBe24BytesAndStaysHidden) {
    struct Case {
        size_t length;
        CK_RV rv;
    } cases[] = {{24, CKR_OK},
                 {16, CKR_ATTRIBUTE_VALUE_INVALID},
                 {32, CKR_ATTRIBUTE_VALUE_INVALID},
                 {0, CKR_ATTRIBUTE_VALUE_INVALID}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        FakeDES3SecretKey key;
        Attrs create;
        create.Data(CKA_VALUE, Bytes(c.length, 0x11));
        EXPECT_EQ(Create(key, create), c.rv);
    }

    FakeDES3SecretKey key;
    Attrs create;
    create.Data(CKA_VALUE, Bytes(24, 0x11)).Bool(CKA_EXTRACTABLE, true).Bool(CKA_SENSITIVE, false);
    ASSERT_EQ(Create(key, create), CKR_OK);
    Attrs read;
    read.Out(CKA_VALUE).Out(CKA_ZR_KEY_GENERATION_DATE).Out(CKA_KEY_TYPE);
    EXPECT_EQ(Read(key, read), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(read.ValueOf(0), Bytes(24, 0x11));
    EXPECT_EQ(read[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(read.ULongOf(2), CKK_DES3);

    Attrs byValue;
    byValue.Data(CKA_VALUE, Bytes(24, 0x11));
    EXPECT_FALSE(Matches(key, byValue));
    Attrs byUsage;
    byUsage.ULong(CKA_KEY_TYPE, CKK_DES3).Bool(CKA_SENSITIVE, false);
    EXPECT_TRUE(Matches(key, byUsage));
    Attrs wrapTemplate;
    wrapTemplate.Text(CKA_WRAP_TEMPLATE, "");
    EXPECT_FALSE(Matches(key, wrapTemplate));
}

// A sensitive key stays sensitive. Clearing the flag of a Triple-DES key is an attempt on a
// read-only attribute; every other key class keeps the general answer.
TEST(SensitiveKeys, ClearingSensitiveIsReadOnlyForTripleDesAndInvalidForOthers) {
    FakeDES3SecretKey des3;
    FakeGostSecretKey gost;
    FakeRsaPrivateKey rsa;
    struct Case {
        const char* name;
        zrck::TokKey& key;
        std::function<void(Attrs&)> fill;
        CK_RV rv;
    } cases[] = {
        {"Triple-DES", des3, [](Attrs& a) { a.Data(CKA_VALUE, Bytes(24, 0x11)); }, CKR_ATTRIBUTE_READ_ONLY},
        {"GOST 28147-89", gost, [](Attrs& a) { a.Data(CKA_VALUE, Bytes(32, 1)); }, CKR_ATTRIBUTE_VALUE_INVALID},
        {"RSA private", rsa, [](Attrs& a) { RsaPrivateTemplate(a); }, CKR_ATTRIBUTE_VALUE_INVALID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Attrs create;
        c.fill(create);
        create.Text(CKA_LABEL, "old").Bool(CKA_SENSITIVE, true);
        ASSERT_EQ(Create(c.key, create), CKR_OK);
        Attrs clear;
        clear.Text(CKA_LABEL, "new").Bool(CKA_SENSITIVE, false);
        EXPECT_EQ(Update(c.key, clear), c.rv);
        Attrs again;
        again.Bool(CKA_SENSITIVE, true);
        EXPECT_EQ(Update(c.key, again), CKR_OK);
        Attrs read;
        read.Out(CKA_SENSITIVE).Out(CKA_LABEL);
        EXPECT_EQ(Read(c.key, read), CKR_OK);
        EXPECT_EQ(read.ValueOf(0), Bytes{CK_TRUE});
        EXPECT_EQ(read.ValueOf(1), Bytes({'o', 'l', 'd'})) << "nothing of a refused template is applied";
    }
}

}  // namespace

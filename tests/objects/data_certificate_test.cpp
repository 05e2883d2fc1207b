// Attribute rules of data objects and X.509 certificates.
#include <gtest/gtest.h>

#include "class_fakes.h"
#include "class_test_util.h"

namespace {

using namespace zrtest;

std::string Text(const tru::Buffer& buffer) { return buffer.ToString(); }

TEST(DataObject, CreationTestLooksAtTheClassOnly) {
    struct Case {
        const char* name;
        std::function<void(Attrs&)> fill;
        CK_RV rv;
        bool created;
    } cases[] = {
        {"no class", [](Attrs&) {}, CKR_OK, false},
        {"data", [](Attrs& a) { a.ULong(CKA_CLASS, CKO_DATA); }, CKR_OK, true},
        {"certificate", [](Attrs& a) { a.ULong(CKA_CLASS, CKO_CERTIFICATE); }, CKR_OK, false},
        {"narrow class", [](Attrs& a) { NarrowULong(a, CKA_CLASS, CKO_DATA); }, CKR_ATTRIBUTE_VALUE_INVALID, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Attrs attrs;
        c.fill(attrs);
        auto tmpl = attrs.Make();
        bool created = false;
        EXPECT_EQ(CodeOf([&] { created = zrck::TokData::ClassCouldBeCreated(*tmpl); }), c.rv);
        EXPECT_EQ(created, c.created);
    }
}

TEST(DataObject, CreatedFromClassAloneReadsAnEmptyValue) {
    FakeData data;
    Attrs create;
    create.ULong(CKA_CLASS, CKO_DATA);
    ASSERT_EQ(Create(data, create), CKR_OK);

    Attrs read;
    read.Out(CKA_VALUE).Out(CKA_CLASS).Out(CKA_KEY_TYPE).Out(CKA_LABEL);
    EXPECT_EQ(Read(data, read), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(read[0].ulValueLen, 0u);
    EXPECT_EQ(read.ULongOf(1), CKO_DATA);
    EXPECT_EQ(read[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(read[3].ulValueLen, 0u);
}

TEST(DataObject, CreationRefusesTypesOfOtherClasses) {
    FakeData data;
    Attrs create;
    create.ULong(CKA_CLASS, CKO_DATA).Bool(CKA_SIGN, true);
    EXPECT_EQ(Create(data, create), CKR_ATTRIBUTE_TYPE_INVALID);
}

TEST(DataObject, UpdateIsAllOrNothing) {
    struct Case {
        const char* name;
        bool withToken;
        CK_RV rv;
        const char* labelAfter;
    } cases[] = {
        {"value and label", false, CKR_OK, "new"},
        {"value, label and a read-only token flag", true, CKR_ATTRIBUTE_READ_ONLY, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeData data;
        Attrs create;
        create.ULong(CKA_CLASS, CKO_DATA).Text(CKA_LABEL, "old").Text(CKA_VALUE, "v1");
        ASSERT_EQ(Create(data, create), CKR_OK);
        Attrs update;
        update.Text(CKA_VALUE, "v2").Text(CKA_LABEL, "new");
        if (c.withToken) update.Bool(CKA_TOKEN, true);
        EXPECT_EQ(Update(data, update), c.rv);
        EXPECT_EQ(Text(data.GetLabel()), c.labelAfter);
        EXPECT_EQ(Text(data.GetValue()), c.rv == CKR_OK ? "v2" : "v1");
    }
}

TEST(DataObject, SearchComparesOwnTypesAndRejectsForeignOnes) {
    FakeData empty;
    FakeData named;
    Attrs create;
    create.ULong(CKA_CLASS, CKO_DATA).Text(CKA_APPLICATION, "app");
    ASSERT_EQ(Create(named, create), CKR_OK);

    Attrs emptyApplication;
    emptyApplication.Text(CKA_APPLICATION, "");
    EXPECT_TRUE(Matches(empty, emptyApplication));
    EXPECT_FALSE(Matches(named, emptyApplication));

    Attrs withKeyType;
    withKeyType.ULong(CKA_CLASS, CKO_DATA).ULong(CKA_KEY_TYPE, CKK_RSA);
    EXPECT_FALSE(Matches(empty, withKeyType));

    Attrs byApplication;
    byApplication.ULong(CKA_CLASS, CKO_DATA).Text(CKA_APPLICATION, "app").Bool(CKA_TOKEN, false);
    EXPECT_TRUE(Matches(named, byApplication));
}

TEST(DataObject, StorageFlagsChangeOnlyWhileCopying) {
    struct Case {
        const char* name;
        bool copying;
        CK_ATTRIBUTE_TYPE type;
        bool value;
        CK_RV rv;
    } cases[] = {
        {"token flag outside a copy", false, CKA_TOKEN, true, CKR_ATTRIBUTE_READ_ONLY},
        {"token flag in a copy", true, CKA_TOKEN, true, CKR_OK},
        {"private flag outside a copy", false, CKA_PRIVATE, true, CKR_ATTRIBUTE_READ_ONLY},
        {"private flag in a copy", true, CKA_PRIVATE, true, CKR_OK},
        {"copyable off", false, CKA_COPYABLE, false, CKR_OK},
        {"copyable on outside a copy", false, CKA_COPYABLE, true, CKR_ATTRIBUTE_READ_ONLY},
        {"copyable on in a copy", true, CKA_COPYABLE, true, CKR_OK},
        {"class", true, CKA_CLASS, true, CKR_ATTRIBUTE_READ_ONLY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeData data;
        data.SetCopyMode(c.copying ? zrck::TokStorageObject::COPY_MODE : 0);
        Attrs update;
        update.Text(CKA_LABEL, "new").Bool(c.type, c.value);
        EXPECT_EQ(Update(data, update), c.rv);
        EXPECT_EQ(Text(data.GetLabel()), c.rv == CKR_OK ? "new" : "");
        if (c.rv == CKR_OK && c.type == CKA_TOKEN) {
            EXPECT_TRUE(data.IsTokenObject());
        }
        if (c.rv == CKR_OK && c.type == CKA_PRIVATE) {
            EXPECT_TRUE(data.IsPrivateObject());
        }
    }
}

// An accessor that fails marks its own entry and the rest of the template is still answered.
class FailingValueData : public FakeData {
public:
    const tru::Buffer& GetValue() const override { throw zrck::Exception(CKR_ATTRIBUTE_SENSITIVE); }
};

TEST(DataObject, FailingAccessorMarksItsEntryAndTheWalkGoesOn) {
    FailingValueData data;
    data.SetLabel(tru::Buffer("lbl", 3));
    Attrs read;
    read.Out(CKA_VALUE).Out(CKA_LABEL);
    EXPECT_EQ(Read(data, read), CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(read[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(read.ValueOf(1), B("lbl"));
}

Attrs& ValidCertificate(Attrs& attrs) {
    return attrs.ULong(CKA_CLASS, CKO_CERTIFICATE)
        .ULong(CKA_CERTIFICATE_TYPE, CKC_X_509)
        .Text(CKA_SUBJECT, "subject")
        .Text(CKA_VALUE, "der");
}

TEST(X509Certificate, CreationTests) {
    struct Case {
        const char* name;
        std::function<void(Attrs&)> fill;
        CK_RV rv;
        bool created;
    } cases[] = {
        {"x509", [](Attrs& a) { a.ULong(CKA_CLASS, CKO_CERTIFICATE).ULong(CKA_CERTIFICATE_TYPE, CKC_X_509); }, CKR_OK,
         true},
        {"no type", [](Attrs& a) { a.ULong(CKA_CLASS, CKO_CERTIFICATE); }, CKR_OK, false},
        {"wtls", [](Attrs& a) { a.ULong(CKA_CLASS, CKO_CERTIFICATE).ULong(CKA_CERTIFICATE_TYPE, CKC_WTLS); }, CKR_OK,
         false},
        {"narrow type",
         [](Attrs& a) { NarrowULong(a.ULong(CKA_CLASS, CKO_CERTIFICATE), CKA_CERTIFICATE_TYPE, CKC_X_509); },
         CKR_ATTRIBUTE_VALUE_INVALID, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Attrs attrs;
        c.fill(attrs);
        auto tmpl = attrs.Make();
        bool created = false;
        EXPECT_EQ(CodeOf([&] { created = zrck::TokX509Certificate::ClassCouldBeCreated(*tmpl); }), c.rv);
        EXPECT_EQ(created, c.created);
    }
    Attrs wtls;
    wtls.ULong(CKA_CLASS, CKO_CERTIFICATE).ULong(CKA_CERTIFICATE_TYPE, CKC_WTLS);
    EXPECT_TRUE(zrck::TokWTLSCertificate::ClassCouldBeCreated(*wtls.Make()));
    EXPECT_FALSE(zrck::TokX509AttrCertificate::ClassCouldBeCreated(*wtls.Make()));
}

TEST(X509Certificate, CreationRules) {
    struct Case {
        const char* name;
        std::function<void(Attrs&)> fill;
        CK_RV rv;
    } cases[] = {
        {"subject and value", [](Attrs& a) { ValidCertificate(a); }, CKR_OK},
        {"no value", [](Attrs& a) { a.ULong(CKA_CLASS, CKO_CERTIFICATE).Text(CKA_SUBJECT, "s"); },
         CKR_TEMPLATE_INCOMPLETE},
        {"no subject", [](Attrs& a) { a.ULong(CKA_CLASS, CKO_CERTIFICATE).Text(CKA_VALUE, "v"); },
         CKR_TEMPLATE_INCOMPLETE},
        {"empty subject", [](Attrs& a) { a.Text(CKA_SUBJECT, "").Text(CKA_VALUE, "v"); }, CKR_TEMPLATE_INCOMPLETE},
        {"trusted without the security officer", [](Attrs& a) { ValidCertificate(a).Bool(CKA_TRUSTED, true); },
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"untrusted", [](Attrs& a) { ValidCertificate(a).Bool(CKA_TRUSTED, false); }, CKR_OK},
        {"narrow category", [](Attrs& a) { NarrowULong(ValidCertificate(a), CKA_CERTIFICATE_CATEGORY, 1); },
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"short date", [](Attrs& a) { ValidCertificate(a).Text(CKA_START_DATE, "2026"); }, CKR_ATTRIBUTE_VALUE_INVALID},
        {"attribute of no level", [](Attrs& a) { ValidCertificate(a).Text(CKA_APPLICATION, "x"); },
         CKR_ATTRIBUTE_TYPE_INVALID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeX509Certificate certificate;
        Attrs attrs;
        c.fill(attrs);
        EXPECT_EQ(Create(certificate, attrs), c.rv);
    }
}

TEST(X509Certificate, UpdateRules) {
    struct Case {
        const char* name;
        bool trusted;
        std::function<void(Attrs&)> fill;
        CK_RV rv;
        bool changed;
    } cases[] = {
        {"issuer, serial, id and label", false,
         [](Attrs& a) {
             a.Text(CKA_ISSUER, "i2").Text(CKA_SERIAL_NUMBER, "n2").Text(CKA_ID, "id2").Text(CKA_LABEL, "l2");
         },
         CKR_OK, true},
        {"id with the fixed subject", false, [](Attrs& a) { a.Text(CKA_ID, "id2").Text(CKA_SUBJECT, "other"); },
         CKR_ATTRIBUTE_READ_ONLY, false},
        {"value", false, [](Attrs& a) { a.Text(CKA_VALUE, "other"); }, CKR_ATTRIBUTE_READ_ONLY, false},
        {"label of a trusted certificate", true, [](Attrs& a) { a.Text(CKA_LABEL, "l2"); }, CKR_ATTRIBUTE_READ_ONLY,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeX509Certificate certificate;
        Attrs create;
        ValidCertificate(create).Text(CKA_ID, "id1").Text(CKA_LABEL, "l1");
        ASSERT_EQ(Create(certificate, create), CKR_OK);
        certificate.SetIsTrusted(c.trusted ? CK_TRUE : CK_FALSE);
        Attrs update;
        c.fill(update);
        EXPECT_EQ(Update(certificate, update), c.rv);
        EXPECT_EQ(Text(certificate.GetKeyID()), c.changed ? "id2" : "id1");
        EXPECT_EQ(Text(certificate.GetLabel()), c.changed ? "l2" : "l1");
        EXPECT_EQ(Text(certificate.GetSubject()), "subject");
    }
}

TEST(X509Certificate, ReadAndSearch) {
    FakeX509Certificate certificate;
    Attrs create;
    ValidCertificate(create);
    ASSERT_EQ(Create(certificate, create), CKR_OK);

    Attrs read;
    read.Out(CKA_CERTIFICATE_TYPE).Out(CKA_APPLICATION).Out(CKA_SUBJECT, 3).Out(CKA_START_DATE).Query(CKA_VALUE);
    EXPECT_EQ(Read(certificate, read), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(read[0].ulValueLen, sizeof(CK_ULONG));
    EXPECT_EQ(read.ULongOf(0), CKC_X_509);
    EXPECT_EQ(read[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(read[2].ulValueLen, 7u);  // short buffer: the needed length
    EXPECT_EQ(read[3].ulValueLen, 0u);  // no start date
    EXPECT_EQ(read[4].ulValueLen, 3u);

    Attrs bySubject;
    bySubject.ULong(CKA_CLASS, CKO_CERTIFICATE).Text(CKA_SUBJECT, "subject").Bool(CKA_TRUSTED, false);
    EXPECT_TRUE(Matches(certificate, bySubject));
    Attrs byApplication;
    byApplication.ULong(CKA_CLASS, CKO_CERTIFICATE).Text(CKA_APPLICATION, "");
    EXPECT_FALSE(Matches(certificate, byApplication));
}

}  // namespace

// Object root and storage object: reading, changing, creating and matching attributes.
#include <gtest/gtest.h>

#include "fake_objects.h"
#include "object_test_util.h"

namespace {

using zrck::AttributeTemplate;
using zrck::TokObject;
using zrtest::CodeOf;
using zrtest::FakeDataObject;
using zrtest::Records;

TEST(StorageObjectTest, OwnerSessionAndUseCount) {
    FakeDataObject object;
    object.SetLifeTime(TokObject::LIFETIME_TOKEN);
    object.SetOwnerSession(5);
    EXPECT_EQ(0u, object.GetOwnerSession());
    object.SetLifeTime(TokObject::LIFETIME_SESSION);
    object.SetOwnerSession(5);
    EXPECT_EQ(5u, object.GetOwnerSession());
    object.Unlock();
    EXPECT_EQ(0u, object.GetLockLevel());
    object.Lock();
    object.Lock();
    EXPECT_TRUE(object.IsLocked(1));
    EXPECT_FALSE(object.IsLocked(2));
}

TEST(StorageObjectTest, ReadingFillsEveryEntryAndReportsTheFirstError) {
    FakeDataObject object;
    Records records;
    records.Out(CKA_CLASS, sizeof(CK_ULONG)).Out(CKA_VALUE, 8).Out(CKA_LABEL, 4).Out(CKA_TOKEN, 1);
    CK_ATTRIBUTE* array = records.Array();
    AttributeTemplate attributes(array, records.Count());
    EXPECT_EQ(CKR_ATTRIBUTE_TYPE_INVALID, object.GetAttributes(attributes));
    EXPECT_EQ(sizeof(CK_ULONG), array[0].ulValueLen);
    EXPECT_EQ(CKO_DATA, *static_cast<CK_ULONG*>(array[0].pValue));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, array[1].ulValueLen);
    EXPECT_EQ(0u, array[2].ulValueLen);  // empty label
    EXPECT_EQ(CK_FALSE, *static_cast<CK_BBOOL*>(array[3].pValue));
}

TEST(StorageObjectTest, LengthQueriesAndShortBuffers) {
    FakeDataObject object;
    CK_ULONG value = 0;
    CK_ATTRIBUTE query[] = {{CKA_CLASS, nullptr, 0}};
    AttributeTemplate queryTemplate(query, 1);
    EXPECT_EQ(CKR_OK, object.GetAttributes(queryTemplate));
    EXPECT_EQ(sizeof(CK_ULONG), query[0].ulValueLen);
    CK_ATTRIBUTE shortBuffer[] = {{CKA_CLASS, &value, 3}};
    AttributeTemplate shortTemplate(shortBuffer, 1);
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, object.GetAttributes(shortTemplate));
    EXPECT_EQ(sizeof(CK_ULONG), shortBuffer[0].ulValueLen);
}

struct UpdateCase {
    bool copyMode;
    std::function<void(Records&)> build;
    CK_RV expected;
    const char* name;
};

class StorageUpdateTest : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(StorageUpdateTest, Rules) {
    FakeDataObject object;
    if (GetParam().copyMode) object.SetCopyMode(zrck::TokStorageObject::COPY_MODE);
    Records records;
    GetParam().build(records);
    AttributeTemplate attributes(records.Array(), records.Count());
    EXPECT_EQ(GetParam().expected, object.UpdateAttributes(attributes));
    for (CK_ULONG i = 0; i < attributes.GetCount(); ++i) EXPECT_EQ(1, attributes[i].mProcessed);
}

INSTANTIATE_TEST_SUITE_P(
    StorageObject, StorageUpdateTest,
    ::testing::Values(
        UpdateCase{false, [](Records& r) { r.Bool(CKA_TOKEN, true); }, CKR_ATTRIBUTE_READ_ONLY, "Token"},
        UpdateCase{false, [](Records& r) { r.Bool(CKA_PRIVATE, false); }, CKR_ATTRIBUTE_READ_ONLY, "Private"},
        UpdateCase{false, [](Records& r) { r.Bool(CKA_COPYABLE, false); }, CKR_OK, "CopyableToFalse"},
        UpdateCase{false, [](Records& r) { r.Bool(CKA_COPYABLE, true); }, CKR_ATTRIBUTE_READ_ONLY, "CopyableToTrue"},
        UpdateCase{false, [](Records& r) { r.Raw(CKA_LABEL, "x").ULong(CKA_CLASS, CKO_DATA); }, CKR_ATTRIBUTE_READ_ONLY,
                   "LabelAndClass"},
        UpdateCase{true, [](Records& r) { r.Bool(CKA_TOKEN, true).Bool(CKA_MODIFIABLE, false).Bool(CKA_COPYABLE, true); },
                   CKR_OK, "CopyMode"}),
    [](const ::testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.name); });

TEST(StorageObjectTest, AllowedEntriesApplyBesideRefusedOnes) {
    FakeDataObject object;
    Records records;
    records.Raw(CKA_LABEL, "new").Bool(CKA_TOKEN, true);
    AttributeTemplate attributes(records.Array(), records.Count());
    EXPECT_EQ(CKR_ATTRIBUTE_READ_ONLY, object.UpdateAttributes(attributes));
    EXPECT_EQ(3u, object.GetLabel().Size());
    EXPECT_FALSE(object.IsTokenObject());
    object.SetCopyMode(zrck::TokStorageObject::COPY_MODE);
    AttributeTemplate again(records.Array(), records.Count());
    EXPECT_EQ(CKR_OK, object.UpdateAttributes(again));
    EXPECT_TRUE(object.IsTokenObject());
}

TEST(StorageObjectTest, Matching) {
    FakeDataObject object;
    auto matches = [&](Records& records) {
        AttributeTemplate search(records.Array(), records.Count());
        return object.IsObjectMeetConditions(search);
    };
    Records emptyLabel, classOnly, tokenTrue, wrongClass, shortClass;
    emptyLabel.Raw(CKA_LABEL, "");
    classOnly.ULong(CKA_CLASS, CKO_DATA).Bool(CKA_PRIVATE, false);
    tokenTrue.Bool(CKA_TOKEN, true);
    wrongClass.ULong(CKA_CLASS, CKO_CERTIFICATE);
    shortClass.Raw(CKA_CLASS, "\x01\x00");
    EXPECT_TRUE(matches(emptyLabel));
    EXPECT_TRUE(matches(classOnly));
    EXPECT_FALSE(matches(tokenTrue));
    EXPECT_FALSE(matches(wrongClass));
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, CodeOf([&] { matches(shortClass); }));
    object.SetLabel(tru::Buffer("a", 1));
    EXPECT_FALSE(matches(emptyLabel));
}

TEST(StorageObjectTest, CreationAppliesStorageAttributesAndRefusesOthers) {
    FakeDataObject object;
    Records good, bad;
    good.ULong(CKA_CLASS, CKO_DATA).Bool(CKA_TOKEN, true).Bool(CKA_PRIVATE, true).Raw(CKA_LABEL, "L");
    AttributeTemplate goodTemplate(good.Array(), good.Count());
    object.InitializeWithAttributes(nullptr, goodTemplate);
    EXPECT_TRUE(object.IsTokenObject());
    EXPECT_TRUE(object.IsPrivateObject());
    bad.Raw(CKA_VALUE, "v");
    AttributeTemplate badTemplate(bad.Array(), bad.Count());
    EXPECT_EQ(CKR_ATTRIBUTE_TYPE_INVALID, CodeOf([&] { object.InitializeWithAttributes(nullptr, badTemplate); }));
    // A value pointer that is null with a length is never read.
    CK_ATTRIBUTE nullLabel[] = {{CKA_LABEL, nullptr, 4}};
    AttributeTemplate nullTemplate(nullLabel, 1);
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, CodeOf([&] { object.InitializeWithAttributes(nullptr, nullTemplate); }));
}

TEST(StorageObjectTest, StorageViewOnlyOfStorageClasses) {
    FakeDataObject data;
    zrtest::ToyMechanism mechanism(CKM_SHA_1, 0, 0, 0);
    EXPECT_EQ(&data, zrck::TokStorageObject::AsTokStorageObject(&data));
    EXPECT_FALSE(zrck::TokStorageObject::IsTokStorageObject(&mechanism));
    // Code 0, which the boundary reports as CKR_GENERAL_ERROR.
    EXPECT_THROW(zrck::TokStorageObject::AsTokStorageObject(&mechanism), zrck::Exception);
}

}  // namespace

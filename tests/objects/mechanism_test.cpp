// The mechanism base: its object face and the defaults of its operation interface.
#include <gtest/gtest.h>

#include "fake_objects.h"
#include "object_test_util.h"
#include "support/mutex.h"

namespace {

using zrck::AttributeTemplate;
using zrtest::CodeOf;
using zrtest::Records;
using zrtest::ToyMechanism;

TEST(MechanismTest, AnswersClassAndTypeOnly) {
    ToyMechanism mechanism(CKM_SHA256, CKF_DIGEST, 0, 0);
    Records records;
    records.Out(CKA_CLASS, sizeof(CK_ULONG)).Out(CKA_MECHANISM_TYPE, 3).Out(CKA_LABEL, 8);
    CK_ATTRIBUTE* array = records.Array();
    AttributeTemplate attributes(array, records.Count());
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, mechanism.GetAttributes(attributes));
    EXPECT_EQ(CKO_MECHANISM, *static_cast<CK_ULONG*>(array[0].pValue));
    EXPECT_EQ(sizeof(CK_ULONG), array[1].ulValueLen);
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, array[2].ulValueLen);
}

TEST(MechanismTest, Matching) {
    ToyMechanism mechanism(CKM_SHA256, CKF_DIGEST, 0, 0);
    auto matches = [&](Records& records) {
        AttributeTemplate search(records.Array(), records.Count());
        return mechanism.IsObjectMeetConditions(search);
    };
    Records none, anyMechanism, thisType, otherType, shortClass;
    anyMechanism.ULong(CKA_CLASS, CKO_MECHANISM);
    thisType.ULong(CKA_CLASS, CKO_MECHANISM).ULong(CKA_MECHANISM_TYPE, CKM_SHA256);
    otherType.ULong(CKA_CLASS, CKO_MECHANISM).ULong(CKA_MECHANISM_TYPE, CKM_SHA_1);
    shortClass.Raw(CKA_CLASS, "\x07\x00");
    EXPECT_FALSE(matches(none));
    EXPECT_TRUE(matches(anyMechanism));
    EXPECT_TRUE(matches(thisType));
    EXPECT_FALSE(matches(otherType));
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, CodeOf([&] { matches(shortClass); }));
}

TEST(MechanismTest, ReadOnlyAndNotCopyable) {
    ToyMechanism mechanism(CKM_SHA256, CKF_DIGEST, 0, 0);
    Records records;
    records.Raw(CKA_LABEL, "x");
    AttributeTemplate attributes(records.Array(), 1);
    EXPECT_EQ(CKR_ATTRIBUTE_READ_ONLY, mechanism.UpdateAttributes(attributes));
    EXPECT_EQ(CKR_OK, mechanism.UpdateAttributes(attributes));  // entries are marked processed
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, CodeOf([&] { mechanism.GenerateCopy(); }));
    EXPECT_EQ(CKR_GENERAL_ERROR, CodeOf([&] { mechanism.InitializeWithAttributes(nullptr, attributes); }));
}

TEST(MechanismTest, UnservedOperationsAndParameters) {
    ToyMechanism mechanism(CKM_SHA256, CKF_DIGEST, 0, 0);
    zrtest::FakeSecretKey key;
    CK_BYTE byte = 0;
    const zrck::MechanismParameter none(CKM_SHA256, tru::Buffer());
    const zrck::MechanismParameter emptyButPresent(CKM_SHA256, tru::Buffer(&byte, 0));
    const zrck::MechanismParameter someBytes(CKM_SHA256, tru::Buffer(&byte, 1));
    vdk::MutexNullFactory::RegisterFactory();
    zrtest::BareSession session;
    EXPECT_EQ(CKR_MECHANISM_INVALID, CodeOf([&] { mechanism.EncryptInit(session, none, key); }));
    EXPECT_EQ(CKR_STATE_UNSAVEABLE, CodeOf([&] {
                  tru::BufferDynamic state;
                  mechanism.GetMechanismSessionState(state);
              }));
    EXPECT_EQ(CKR_OK, CodeOf([&] { mechanism.EnsureParameterEmpty(none); }));
    EXPECT_EQ(CKR_MECHANISM_PARAM_INVALID, CodeOf([&] { mechanism.EnsureParameterEmpty(emptyButPresent); }));
    EXPECT_EQ(CKR_MECHANISM_PARAM_INVALID, CodeOf([&] { mechanism.EnsureParameterEmpty(someBytes); }));
    CK_MECHANISM nullWithLength = {CKM_SHA256, nullptr, 4};
    EXPECT_EQ(CKR_MECHANISM_PARAM_INVALID, CodeOf([&] { zrck::MechanismParameter parameter(nullWithLength); }));
}

TEST(MechanismTest, CloneCarriesDescriptionNotState) {
    ToyMechanism original(CKM_SHA_1_HMAC, CKF_SIGN, 16, 64);
    original.SetHandle(9);
    original.Lock();
    std::unique_ptr<zrck::TokMechanism> clone(original.Clone());
    CK_MECHANISM_INFO info;
    clone->FillMechanismInfo(&info);
    EXPECT_EQ(CKM_SHA_1_HMAC, clone->GetMechanismType());
    EXPECT_EQ(16u, info.ulMinKeySize);
    EXPECT_EQ(64u, info.ulMaxKeySize);
    EXPECT_EQ(static_cast<CK_FLAGS>(CKF_SIGN), info.flags);
    EXPECT_EQ(0u, clone->GetHandle());
    EXPECT_EQ(0u, clone->GetLockLevel());
}

}  // namespace

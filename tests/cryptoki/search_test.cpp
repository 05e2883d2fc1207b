// Object search through the C_ functions: visibility before and after login, batches and
// the search's own state.
#include <algorithm>

#include "object_fixture.h"

namespace {

class SearchTest : public ObjectTest {
protected:
    void SetUp() override {
        ObjectTest::SetUp();
        ASSERT_EQ(CKR_OK, UserLogin(rw));
        publicObject = MustCreate(rw, Data("pub", true, false));
        privateObject = MustCreate(rw, Data("priv", true, true));
        ASSERT_EQ(CKR_OK, p11->C_Logout(rw));
    }
    std::vector<CK_OBJECT_HANDLE> FindData(CK_SESSION_HANDLE session) {
        return Find(session, Template().Ulong(CKA_CLASS, CKO_DATA));
    }
    CK_OBJECT_HANDLE publicObject = 0;
    CK_OBJECT_HANDLE privateObject = 0;
};

TEST_F(SearchTest, OnlyTheUserFindsPrivateObjects) {
    using Handles = std::vector<CK_OBJECT_HANDLE>;
    EXPECT_EQ(Handles{publicObject}, FindData(rw));
    EXPECT_TRUE(Find(rw, Template().Bool(CKA_PRIVATE, true)).empty());
    ASSERT_EQ(CKR_OK, Login(rw, CKU_SO, ZR_FAKE_SO_PIN));
    EXPECT_EQ(Handles{publicObject}, FindData(rw));
    EXPECT_TRUE(Find(rw, Template().Bool(CKA_PRIVATE, true)).empty());
    ASSERT_EQ(CKR_OK, p11->C_Logout(rw));
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    EXPECT_EQ((Handles{publicObject, privateObject}), FindData(rw));
    EXPECT_EQ(Handles{privateObject}, Find(rw, Template().Ulong(CKA_CLASS, CKO_DATA).Bool(CKA_PRIVATE, true)));
    EXPECT_TRUE(Find(rw, Template().Ulong(CKA_CLASS, CKO_DATA).Bool(CKA_TOKEN, false)).empty());
}

TEST_F(SearchTest, BatchesHandEachHandleOnce) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    Template data = Template().Ulong(CKA_CLASS, CKO_DATA);
    ASSERT_EQ(CKR_OK, p11->C_FindObjectsInit(rw, data.Data(), data.Count()));
    // The result is a snapshot: objects made during the search do not join it.
    MustCreate(rw, Data("late", false, false));
    std::vector<CK_OBJECT_HANDLE> seen;
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG count = 0;
    while (p11->C_FindObjects(rw, &handle, 1, &count) == CKR_OK && count == 1) seen.push_back(handle);
    EXPECT_EQ(0u, count);
    EXPECT_EQ((std::vector<CK_OBJECT_HANDLE>{publicObject, privateObject}), seen);
    EXPECT_EQ(CKR_OK, p11->C_FindObjects(rw, &handle, 1, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_FindObjects(rw, &handle, 0, &count));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_FindObjects(rw, nullptr, 1, &count));
    EXPECT_EQ(CKR_OK, p11->C_FindObjectsFinal(rw));
}

TEST_F(SearchTest, SearchStateRules) {
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG count = 0;
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_FindObjects(rw, &handle, 1, &count));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_FindObjectsFinal(rw));
    ASSERT_EQ(CKR_OK, p11->C_FindObjectsInit(rw, nullptr, 0));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, p11->C_FindObjectsInit(rw, nullptr, 0));
    EXPECT_EQ(CKR_OK, p11->C_FindObjectsFinal(rw));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_FindObjectsFinal(rw));
    // A logout ends the search.
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    ASSERT_EQ(CKR_OK, p11->C_FindObjectsInit(rw, nullptr, 0));
    ASSERT_EQ(CKR_OK, p11->C_Logout(rw));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_FindObjects(rw, &handle, 1, &count));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_FindObjectsInit(rw, nullptr, 1));
}

TEST_F(SearchTest, ClassValues) {
    // Unknown classes name no object; a value of the wrong width is refused and leaves no search.
    EXPECT_TRUE(Find(rw, Template().Ulong(CKA_CLASS, CKO_OTP_KEY)).empty());
    EXPECT_TRUE(Find(rw, Template().Ulong(CKA_CLASS, CKO_VENDOR_DEFINED + 5)).empty());
    Template narrow = Template().Bytes(CKA_CLASS, std::string(4, '\0'));
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, p11->C_FindObjectsInit(rw, narrow.Data(), narrow.Count()));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_FindObjectsFinal(rw));
    EXPECT_EQ(9u, Find(rw, Template().Ulong(CKA_CLASS, CKO_MECHANISM)).size());
    EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>{publicObject}, Find(rw, Template()));
}

}  // namespace

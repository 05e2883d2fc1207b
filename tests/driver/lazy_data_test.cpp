// Lazy values without a token: states that must never reach the device.
#include <gtest/gtest.h>

#include "ckbase/exception.h"
#include "driver/lazy_data.h"
#include "driver/token_stored_object.h"

namespace {

tru::Buffer Text(const char* text)
{
    return tru::Buffer(text, static_cast<uint32_t>(std::strlen(text)));
}

TEST(LazyDataStates, UnboundValueNeverNeedsTheToken)
{
    qel::LazyData value;
    EXPECT_TRUE(value.GetData(nullptr).Empty()) << "bound to no file: nothing to read";
    value.SetData(Text("abc"));
    EXPECT_EQ(value.GetData(nullptr).ToString(), "abc");
    value.AssignStorageParams(12);
    EXPECT_EQ(value.GetData(nullptr).ToString(), "abc") << "a set value stays in memory";
}

TEST(LazyDataStates, BoundUnreadValueNeedsAStorage)
{
    qel::LazyData value;
    value.AssignStorageParams(12);
    try {
        value.GetData(nullptr);
        FAIL() << "no exception";
    } catch (const zrck::Exception& e) {
        EXPECT_EQ(e.GetCode(), static_cast<CK_RV>(CKR_FUNCTION_FAILED));
    }
    EXPECT_FALSE(value.IsLoaded());
}

TEST(LazyDataStates, RefreshFromAnUnreadTwinForgetsTheValue)
{
    qel::LazyData twin;
    twin.AssignStorageParams(12);
    qel::LazyData value;
    value.SetData(Text("old"));
    value.RefreshData(twin);
    EXPECT_FALSE(value.IsSet());
    EXPECT_FALSE(value.IsLoaded());
    EXPECT_TRUE(value.GetBuffer().Empty());

    twin.SetData(Text("new"));
    value.RefreshData(twin);
    EXPECT_TRUE(value.IsSet());
    EXPECT_EQ(value.GetBuffer().ToString(), "new");
}

class StoredObject : public qel::TokenStoredOwnedObject {
public:
    void StoreAttributes() override {}
    void ReadAttributes() override {}
    void InitDefaults() override {}
    uint16_t GetTokenIndexType() const override { return 5; }
};

TEST(TokenStoredObjectBase, DefaultsAndStorageId)
{
    StoredObject object;
    EXPECT_TRUE(object.IsModifiableStored());
    EXPECT_TRUE(object.IsCopyableStored());
    EXPECT_TRUE(object.IsRefreshLocked());
    EXPECT_EQ(object.GetStorageSize(nullptr), 0u);
    object.SetObjectFile(130);
    object.SetAttributeFile(131);
    EXPECT_EQ(object.GetStorageID(), 131u << 16 | 130u);
    object.SetStorageID(7);
    EXPECT_EQ(object.GetStorageID(), 7u);
    EXPECT_EQ(object.GetStorageSize(nullptr), 0u);
    StoredObject twin;
    EXPECT_FALSE(object.RefreshFrom(twin));
}

}  // namespace

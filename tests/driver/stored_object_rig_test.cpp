// Stored objects and lazy values against the simulated token.
#include "driver/lazy_data.h"
#include "driver/token_stored_object.h"
#include "storage_rig_fixture.h"

using namespace drivertest;
using qel::TokenStorage;

namespace {

class StoredObject : public qel::TokenStoredOwnedObject {
public:
    void StoreAttributes() override {}
    void ReadAttributes() override {}
    void InitDefaults() override {}
    uint16_t GetTokenIndexType() const override { return qel::DATA; }
};

class StoredObjectRig : public StorageRigTest {
protected:
    void SetUp() override
    {
        StorageRigTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        storage->LoginUserM(Text(kUserPin));
    }
};

TEST_F(StoredObjectRig, StorageSizeCountsFilesAndKeySlots)
{
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        storage->WriteDataFileM(130, tru::Buffer(std::string(16, 'd').data(), 16));  // 20 bytes
        const qel::storage::Attribute attrs[] = {{3, "0123456789012345678901", 22}};  // 30 bytes
        storage->WriteAttributeFile(131, attrs, 1);
    }
    StoredObject object;
    object.SetObjectFile(130);
    object.SetAttributeFile(131);
    EXPECT_EQ(object.GetStorageSize(storage.get()), 82u);
    StoredObject key;
    key.SetObjectFile(181);
    key.SetAttributeFile(131);
    EXPECT_EQ(key.GetStorageSize(storage.get()), 62u);
}

TEST_F(StoredObjectRig, LazyValueIsReadOnceAndCopiesCarryIt)
{
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        storage->WriteDataFileM(3, Text("certificate bytes"));
    }
    Sim().ResetCounters();
    qel::LazyData value;
    value.AssignStorageParams(3);
    EXPECT_EQ(Sim().Counters()["total"], 0u) << "binding reads nothing";
    EXPECT_EQ(value.GetData(storage.get()).ToString(), "certificate bytes");
    const uint64_t reads = Count("ReadFile");
    EXPECT_EQ(reads, 1u);
    value.GetData(storage.get());
    EXPECT_EQ(Count("ReadFile"), reads) << "the second read answers from memory";
    value.AssignStorageParams(3);
    value.GetData(storage.get());
    EXPECT_EQ(Count("ReadFile"), reads + 1) << "rebinding reads again";

    qel::LazyData source;
    source.AssignStorageParams(3);
    qel::LazyData copy;
    copy.CopyData(source, storage.get());
    EXPECT_TRUE(copy.IsSet());
    EXPECT_EQ(copy.GetBuffer().ToString(), "certificate bytes") << "a copy of an unread value loads it first";
}

}  // namespace

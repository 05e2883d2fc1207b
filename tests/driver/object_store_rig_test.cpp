// The on-token object store against the simulated token: file images, free IDs, reservations,
// key slots and roll-back.
#include "driver/store_file.h"
#include "storage_rig_fixture.h"

using namespace drivertest;
using qel::TokenStorage;
namespace storage = qel::storage;

namespace {

class ObjectStoreRig : public StorageRigTest {
protected:
    void SetUp() override
    {
        StorageRigTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        this->storage->LoginUserM(Text(kUserPin));
    }

    // Writes an index image directly (one record per entry, as {type, object, attribute}).
    void WriteIndex(long indexFile, const std::vector<storage::IndexFileRecord>& records)
    {
        std::vector<uint8_t> image(4 + records.size() * 6);
        qel::StoreFile::PutHeader(image.data(), static_cast<uint16_t>(records.size() * 6));
        for (size_t i = 0; i < records.size(); ++i) {
            qel::StoreFile::PutIndexRecord(image.data() + 4 + i * 6, records[i]);
        }
        TokenStorage::BusyGuard guard(*this->storage, "test");
        this->storage->WriteFileD(indexFile, 0, image.data(), static_cast<uint32_t>(image.size()));
    }

    bool FileExists(long fileId)
    {
        TokenStorage::BusyGuard guard(*this->storage, "test");
        return this->storage->IsFileExistsD(fileId);
    }
};

TEST_F(ObjectStoreRig, SmallObjectSetHasExactFileImages)
{
    long pubObj = 0, pubAttr = 0, privObj = 0, privAttr = 0;
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        std::vector<storage::IndexFileRecord> none;
        EXPECT_EQ(storage->ListObjectsM(qel::PublicObject, 0, none), 0u);
        storage->ReserveNewObject(qel::DATA, qel::PublicObject, pubObj, pubAttr);
        storage->ReserveNewObject(qel::CERTIFICATE, qel::PrivateObject, privObj, privAttr);
        EXPECT_EQ(pubObj, 1);
        EXPECT_EQ(pubAttr, 2);
        EXPECT_EQ(privObj, 128);
        EXPECT_EQ(privAttr, 129);
        storage->WriteDataFileM(pubObj, Text("hello"));
        const uint8_t flags[4] = {1, 0, 0, 0};
        const storage::Attribute attrs[] = {{0x8EFF, flags, 4}, {3, "abc", 3}};
        storage->WriteAttributeFile(pubAttr, attrs, 2);
        storage->WriteDataFileM(privObj, tru::Buffer());
        storage->WriteAttributeFile(privAttr, attrs + 1, 1);
        EXPECT_TRUE(storage->CheckAndUpdateRevision());
    }
    EXPECT_EQ(RawFile(0x7E), "02000600050001000200");
    EXPECT_EQ(RawFile(0xB3), "02000600040080008100");
    EXPECT_EQ(RawFile(1), "0200050068656C6C6F");
    EXPECT_EQ(RawFile(2), "02000F00FF8E04000100000003000300616263");
    EXPECT_EQ(RawFile(128), "02000000");
    EXPECT_EQ(RawFile(129), "0200070003000300616263");
    EXPECT_EQ(RawFile(0).size(), 8u);  // the 4-byte revision

    EXPECT_EQ(storage->ReadDataFileM(1)->ToString(), "hello");
    EXPECT_TRUE(storage->ReadDataFileM(128)->Empty());
    EXPECT_CKR(storage->ReadDataFileM(77), CKR_OBJECT_HANDLE_INVALID);  // never an empty value
    std::vector<storage::AttributeBuff> attrs;
    EXPECT_EQ(storage->ReadAttributeFile(2, attrs), 2u);
    EXPECT_EQ(attrs[1].value->ToString(), "abc");
}

TEST_F(ObjectStoreRig, RewritingAnAttributeFileLeavesNoOldBytes)
{
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_SetAttributeValue");
        const storage::Attribute longer[] = {{3, "a long secret label", 19}};
        storage->WriteAttributeFile(5, longer, 1);
        const storage::Attribute shorter[] = {{3, "ab", 2}};
        storage->WriteAttributeFile(5, shorter, 1);
    }
    // Read through a second connection: the first one's transaction has ended.
    EXPECT_EQ(RawFile(5), "02000600030002006162" + std::string(34, '0'));
}

TEST_F(ObjectStoreRig, OversizedValuesAreRefusedBeforeAnythingIsWritten)
{
    TokenStorage::GlobalBusyGuard guard(*storage, "C_SetAttributeValue");
    storage->WriteDataFileM(3, Text("kept"));
    std::vector<uint8_t> big(0x10000, 0x41);
    EXPECT_CKR(storage->WriteDataFileM(3, tru::Buffer(big.data(), 0x10000)), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(storage->ReadDataFileM(3)->ToString(), "kept");
    const storage::Attribute records[] = {{0x11, big.data(), 0xFFFF}};
    EXPECT_CKR(storage->WriteAttributeFile(4, records, 1), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_FALSE(FileExists(4));
}

TEST_F(ObjectStoreRig, IndexRecordsAreReusedFreedAndFiltered)
{
    WriteIndex(0x7E, {{3, 1, 2}, {0, 0, 0}, {5, 5, 6}});
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        std::vector<storage::IndexFileRecord> list;
        EXPECT_EQ(storage->ListObjectsM(qel::PublicObject, 0, list), 2u);
        list.clear();
        EXPECT_EQ(storage->ListObjectsM(qel::PublicObject, 5, list), 1u);

        long obj = 0, attr = 0;
        storage->ReserveNewObject(qel::DATA, qel::PublicObject, obj, attr);
        EXPECT_EQ(obj, 7) << "after the highest ID in use";
        EXPECT_EQ(attr, 8);
        EXPECT_TRUE(storage->CheckAndUpdateRevision());
    }
    EXPECT_EQ(RawFile(0x7E), "02001200030001000200050007000800050005000600") << "the free middle record is reused";
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_DestroyObject");
        storage->DeleteStorageObject(6u << 16 | 5u, true);
        EXPECT_FALSE(storage->DeleteFromIndexFile(0x7E, {5, 5, 6})) << "a second free finds nothing";
        storage->DeleteStorageObject(2u << 16 | 1u, true);
    }
    EXPECT_EQ(RawFile(0x7E), "02000C00000000000000050007000800000000000000")
        << "freeing the last record shrinks the data size; a middle record is only zeroed";
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        long obj = 0, attr = 0;
        storage->ReserveNewObject(qel::DATA, qel::PublicObject, obj, attr);
        EXPECT_EQ(obj, 9) << "IDs this process freed go last";
        EXPECT_EQ(attr, 10);
        storage->CheckAndUpdateRevision();
    }
    EXPECT_EQ(RawFile(0x7E), "02000C00050009000A00050007000800000000000000");
}

TEST_F(ObjectStoreRig, FullRangesAndReservedIds)
{
    std::vector<storage::IndexFileRecord> records;
    for (uint16_t id = 1; id <= 124; id += 2) {
        records.push_back({qel::DATA, id, static_cast<uint16_t>(id + 1)});
    }
    WriteIndex(0x7E, records);
    TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
    EXPECT_EQ(storage->GetFreeFileID(qel::PublicObject), 125);
    long obj = 0, attr = 0;
    EXPECT_CKR(storage->GetFreeFileAttrID(qel::PublicObject, obj, attr), CKR_DEVICE_MEMORY);
    EXPECT_CKR(storage->GetFreeFileAttrID(qel::KeyPairObject, obj, attr), CKR_GENERAL_ERROR);
    EXPECT_CKR(storage->GetFreeFileID(static_cast<qel::EVisibility>(4)), CKR_GENERAL_ERROR);

    // Two reservations before filing never share IDs.
    storage->ReserveNewObject(qel::DATA, qel::PrivateObject, obj, attr);
    long obj2 = 0, attr2 = 0;
    storage->ReserveNewObject(qel::DATA, qel::PrivateObject, obj2, attr2);
    EXPECT_EQ(obj, 128);
    EXPECT_EQ(attr, 129);
    EXPECT_EQ(obj2, 130);
    EXPECT_EQ(attr2, 131);
    long slot = 0, keyAttr = 0;
    storage->ReserveNewKey(qel::UA_SGN_PRIVATE_KEY, slot, keyAttr);
    EXPECT_EQ(slot, 180);
    EXPECT_EQ(keyAttr, 132);
}

TEST_F(ObjectStoreRig, KeyPairGenerationFilesKeysAndRollsBackOnFailure)
{
    tru::BufferDynamic publicKey;
    long slot = 0, pubObj = 0, privAttr = 0, pubAttr = 0;
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_GenerateKeyPair");
        EXPECT_CKR(storage->GenerateKeyPairM(static_cast<EParamSet>(17), TokenObject, TokenObject, publicKey, slot,
                                             pubObj, privAttr, pubAttr),
                   CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(storage->GetIndexCache().ReserveSize(), 0u);

        Sim().ForceStatus(11, 1, "GenerateKey");  // internal error
        EXPECT_CKR(storage->GenerateKeyPairM(DSTU4145_POLYNOMIAL_0, TokenObject, TokenObject, publicKey, slot, pubObj,
                                             privAttr, pubAttr),
                   CKR_DEVICE_ERROR);
        EXPECT_EQ(storage->GetIndexCache().ReserveSize(), 0u);
        EXPECT_FALSE(FileExists(128));
        EXPECT_FALSE(FileExists(1));
        EXPECT_FALSE(FileExists(2));
        EXPECT_FALSE(storage->CheckAndUpdateRevision());
    }
    {
        // A public key marked private goes to the private range and index.
        TokenStorage::GlobalBusyGuard guard(*storage, "C_GenerateKeyPair");
        storage->GenerateKeyPairM(DSTU4145_POLYNOMIAL_0, TokenObject, TokenObject, publicKey, slot, pubObj, privAttr,
                                  pubAttr, qel::PrivateObject);
        // The failed call's slot and files were deleted: they go last.
        EXPECT_EQ(slot, 181);
        EXPECT_EQ(privAttr, 129);
        EXPECT_EQ(pubObj, 130);
        EXPECT_EQ(pubAttr, 131);
        EXPECT_EQ(publicKey.Size(), 21u);  // compressed point of the 163-bit curve
        EXPECT_TRUE(storage->CheckAndUpdateRevision());
    }
    EXPECT_EQ(RawFile(0xB3), "02000C000700B5008100080082008300");
    EXPECT_EQ(RawFile(0x7E), "");
    std::vector<storage::IndexFileRecord> keys;
    EXPECT_EQ(storage->ListObjectsM(qel::KeyPairObject, qel::UA_SGN_PRIVATE_KEY, keys), 1u);
}

TEST_F(ObjectStoreRig, FailedKeyLoadLeavesNothingBehind)
{
    TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
    long slot = 0, attr = 0;
    const uint8_t blob[8] = {};
    EXPECT_CKR(storage->LoadKeyM(GostR3410_2001_ParamSetA, TokenObject, tru::Buffer(blob, 8), slot, attr),
               CKR_FUNCTION_NOT_SUPPORTED);
    Sim().ForceStatus(37, 1, "LoadKey");  // invalid key
    EXPECT_CKR(storage->LoadKeyM(DSTU4145_POLYNOMIAL_0, TokenObject, tru::Buffer(blob, 8), slot, attr),
               CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(storage->GetIndexCache().ReserveSize(), 0u);
    EXPECT_FALSE(FileExists(128));
    EXPECT_FALSE(storage->CheckAndUpdateRevision());
}

TEST_F(ObjectStoreRig, FilingThatFailsPartWayLeavesNoObjectBehind)
{
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        long pubObj = 0, pubAttr = 0, privObj = 0, privAttr = 0;
        storage->ReserveNewObject(qel::DATA, qel::PublicObject, pubObj, pubAttr);
        storage->ReserveNewObject(qel::DATA, qel::PrivateObject, privObj, privAttr);
        storage->WriteDataFileM(pubObj, Text("public"));
        storage->WriteDataFileM(privObj, Text("private"));
        const uint8_t foreignVersion[4] = {1, 0, 0, 0};
        storage->WriteFileD(0xB3, 0, foreignVersion, 4);  // the second filing will fail
        EXPECT_CKR(storage->CheckAndUpdateRevision(), CKR_DEVICE_ERROR);
        EXPECT_FALSE(FileExists(pubObj));
        EXPECT_FALSE(FileExists(privObj));
    }
    EXPECT_EQ(RawFile(0x7E), "02000000000000000000") << "the public record was filed and taken back";
}

TEST_F(ObjectStoreRig, DamagedIndexIsReportedAndMarked)
{
    {
        TokenStorage::BusyGuard guard(*storage, "test");
        const uint8_t v1[4] = {1, 0, 0, 0};
        storage->WriteFileD(0x7E, 0, v1, 4);
        const uint8_t tooLong[4] = {2, 0, 0x20, 0};
        storage->WriteFileD(0xB3, 0, tooLong, 4);
    }
    std::vector<storage::IndexFileRecord> list;
    EXPECT_CKR(storage->ListObjectsM(qel::PrivateObject, 0, list), CKR_DEVICE_ERROR);
    EXPECT_EQ(storage->GetStorageErrorMark(), 0u);
    EXPECT_CKR(storage->ListObjectsM(qel::PublicObject, 0, list), CKR_DEVICE_ERROR);
    EXPECT_EQ(storage->GetStorageErrorMark(), qel::StoreFile::kDamagedHeaderMark);
}

}  // namespace

namespace {

TEST_F(ObjectStoreRig, RecordWhoseAttributeFileIsGoneIsReportedAndItsIdsReclaimed)
{
    // What an interrupted deletion of the old order left: the record, without its files.
    WriteIndex(0x7E, {{qel::DATA, 1, 2}, {qel::DATA, 3, 4}});
    {
        TokenStorage::BusyGuard guard(*storage, "test");
        const uint8_t attributes[4] = {2, 0, 0, 0};
        storage->WriteFileD(3, 0, attributes, 4);
        storage->WriteFileD(4, 0, attributes, 4);
    }
    std::vector<storage::AttributeBuff> read;
    {
        TokenStorage::BusyGuard guard(*storage, "test");
        EXPECT_THROW(storage->ReadAttributeFile(2, read), qel::MissingStoreFile);
        EXPECT_EQ(storage->ReadAttributeFile(4, read), 0u) << "an empty file is not a missing one";
    }
    storage->NoteBrokenRecord({qel::DATA, 1, 2});
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        long obj = 0, attr = 0;
        storage->ReserveNewObject(qel::DATA, qel::PublicObject, obj, attr);
        EXPECT_EQ(obj, 5) << "the broken record's IDs, freed here, go last";
        EXPECT_EQ(attr, 6);
        EXPECT_TRUE(storage->CheckAndUpdateRevision()) << "freeing the record changed the store";
    }
    EXPECT_EQ(RawFile(0x7E), "02000C00050005000600050003000400") << "the freed record reused";
}

// A deletion names the whole record it was given for: a record with other files or another item
// type in the object file's place (another process's object) and files no record names keep
// everything; the running call's own reserved files go without a record.
TEST_F(ObjectStoreRig, DeletionTakesOnlyTheWholeRecordAndTheFilesItNames)
{
    WriteIndex(0x7E, {{qel::DATA, 1, 2}});
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        for (long file : {1L, 2L, 3L, 4L}) storage->WriteDataFileM(file, Text("v"));
    }
    const storage::IndexFileRecord stale[] = {
        {qel::DATA, 1, 3},         // the attribute file moved
        {qel::CERTIFICATE, 1, 2},  // another class in the same files
        {qel::DATA, 3, 4},         // no record at all
    };
    for (const storage::IndexFileRecord& record : stale) {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_DestroyObject");
        EXPECT_FALSE(storage->DeleteStorageObject(record, true)) << record.itemType << " " << record.attributeFile;
    }
    for (long file : {1L, 2L, 3L, 4L}) EXPECT_TRUE(FileExists(file)) << file;
    EXPECT_EQ(RawFile(0x7E), "02000600050001000200");
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_DestroyObject");
        EXPECT_TRUE(storage->DeleteStorageObject({qel::DATA, 1, 2}, true));
        long obj = 0, attr = 0;
        storage->ReserveNewObject(qel::DATA, qel::PublicObject, obj, attr);
        ASSERT_EQ(obj, 3) << "files no record names are free; 1 and 2, freed here, go last";
        storage->WriteDataFileM(obj, Text("mine"));
        EXPECT_TRUE(storage->DeleteStorageObject({qel::DATA, static_cast<uint16_t>(obj), static_cast<uint16_t>(attr)},
                                                 true))
            << "reserved by this call";
    }
    for (long file : {1L, 2L, 3L, 4L}) EXPECT_FALSE(FileExists(file)) << file;
}

TEST_F(ObjectStoreRig, DeletionFreesTheRecordBeforeTheFilesAndKeepsTheFilesWhenItCannot)
{
    long obj = 0, attr = 0;
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        storage->ReserveNewObject(qel::DATA, qel::PublicObject, obj, attr);
        storage->WriteDataFileM(obj, Text("v"));
        const storage::Attribute label[] = {{3, "a", 1}};
        storage->WriteAttributeFile(attr, label, 1);
        EXPECT_TRUE(storage->CheckAndUpdateRevision());
    }
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_DestroyObject");
        Sim().ForceStatus(103, 1, "WriteFile");  // the record cannot be freed
        EXPECT_THROW(storage->DeleteStorageObject(static_cast<uint32_t>(attr) << 16 | obj, true), zrck::Exception);
        EXPECT_TRUE(FileExists(obj)) << "the object stays whole";
        EXPECT_TRUE(FileExists(attr));
    }
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_DestroyObject");
        Sim().ResetCounters();
        // Index read (2), the header and the record freed (2); the card goes before the files.
        Sim().PullAfter(4);
        EXPECT_THROW(storage->DeleteStorageObject(static_cast<uint32_t>(attr) << 16 | obj, true), zrck::Exception);
    }
    ASSERT_TRUE(rig->WaitCardPresent(0, false, std::chrono::seconds(15)));
    rig->InsertCard();
    storage = NewStorage();
    storage->LoginUserM(Text(kUserPin));
    EXPECT_EQ(RawFile(0x7E), "02000000000000000000") << "no record names the files left behind";
    {
        // The files left over are reused by the next object, as if they were new.
        TokenStorage::GlobalBusyGuard guard(*storage, "C_CreateObject");
        long again = 0, againAttr = 0;
        storage->ReserveNewObject(qel::DATA, qel::PublicObject, again, againAttr);
        EXPECT_EQ(again, obj);
        storage->WriteDataFileM(again, Text("w"));
        const storage::Attribute label[] = {{3, "b", 1}};
        storage->WriteAttributeFile(againAttr, label, 1);
        EXPECT_TRUE(storage->CheckAndUpdateRevision());
    }
    EXPECT_EQ(RawFile(obj), "0200010077");
    EXPECT_EQ(RawFile(attr), "020005000300010062");
}

}  // namespace

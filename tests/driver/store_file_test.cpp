// Byte images of the store's files and the ATR acceptor tables.
#include <gtest/gtest.h>

#include <vector>

#include "ckbase/exception.h"
#include "cryptoki/slot.h"
#include "driver/atr_acceptors.h"
#include "driver/store_file.h"
#include "support/vdk_exception.h"

using qel::StoreFile;
namespace storage = qel::storage;

namespace {

tru::BufferDynamic Hex(const char* hex)
{
    tru::BufferDynamic b;
    EXPECT_EQ(b.FromHex(hex), tru::SUCCESS);
    return b;
}

TEST(StoreFileImages, AttributeFileByteForByte)
{
    const uint8_t flags[4] = {1, 0, 0, 0};
    const storage::Attribute records[] = {{0x8EFF, flags, 4}, {3, "abc", 3}};
    vdk::SafeBuffer image;
    StoreFile::BuildAttributeFile(records, 2, image);
    EXPECT_EQ(image.ToHex(), "02000F00FF8E04000100000003000300616263");

    std::vector<storage::AttributeBuff> list;
    uint32_t mark = 0;
    const uint32_t dataSize = StoreFile::CheckedDataSize(image, StoreFile::Kind::Attribute, "ReadAttributeFileD", mark);
    StoreFile::ParseAttributeFile(image, dataSize, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].id, 0x8EFF);
    EXPECT_EQ(list[0].value->ToHex(), "01000000");
    EXPECT_EQ(list[1].id, 3);
    EXPECT_EQ(list[1].value->ToString(), "abc");
}

TEST(StoreFileImages, EmptyDataFileAndDataFileRoundTrip)
{
    vdk::SafeBuffer image;
    StoreFile::BuildDataFile(tru::Buffer(), image);
    EXPECT_EQ(image.ToHex(), "02000000");
    StoreFile::BuildDataFile(tru::Buffer("xyz", 3), image);
    EXPECT_EQ(image.ToHex(), "0200030078797A");
}

TEST(StoreFileImages, ContentMustFitSixteenBits)
{
    std::vector<uint8_t> big(0xFFFF);
    vdk::SafeBuffer image;
    const storage::Attribute fits[] = {{0x11, big.data(), 0xFFFB}};  // 4 + 65531 = 65535
    StoreFile::BuildAttributeFile(fits, 1, image);
    EXPECT_EQ(image.Size(), 4u + 0xFFFF);
    EXPECT_EQ(image.ToHex().substr(0, 8), "0200FFFF");

    const storage::Attribute tooBig[] = {{0x11, big.data(), 0xFFFB}, {0x12, big.data(), 0}};
    try {
        StoreFile::BuildAttributeFile(tooBig, 2, image);
        FAIL() << "accepted";
    } catch (const vdk::Exception& e) {
        EXPECT_STREQ(e.what(), "Unsigned long 65539 too big for unsigned short");
    }
    std::vector<uint8_t> value(0x10000);
    EXPECT_THROW(StoreFile::BuildDataFile(tru::Buffer(value.data(), 0x10000), image), vdk::Exception);
}

TEST(StoreFileImages, IndexRecordsAndFreeRecords)
{
    const tru::BufferDynamic file = Hex("0200120003000100020005000300040000000000FFFF");
    uint32_t mark = 0;
    const uint32_t dataSize = StoreFile::CheckedDataSize(file, StoreFile::Kind::Index, "GetObjectsListInt", mark);
    EXPECT_EQ(dataSize, 18u);
    const auto records = StoreFile::ParseIndex(file, dataSize);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].itemType, 3);
    EXPECT_EQ(records[0].objectFile, 1);
    EXPECT_EQ(records[0].attributeFile, 2);
    EXPECT_EQ(records[1].itemType, 5);
    EXPECT_EQ(records[2].itemType, 0);
    EXPECT_EQ(mark, 0u);
}

struct BrokenFileCase {
    const char* name;
    const char* hex;
    StoreFile::Kind kind;
    const char* message;
    bool setsMark;
};

const BrokenFileCase kBrokenFiles[] = {
    {"short header", "0200", StoreFile::Kind::Index, "Wrong index file header read", true},
    {"old version", "01000000", StoreFile::Kind::Attribute, "Wrong attr file version 1  read", true},
    {"old data version", "03000000", StoreFile::Kind::Data, "Wrong data file version 3 read", true},
    {"declared size beyond file", "02000C00010002000300", StoreFile::Kind::Index,
     "TokenStorage::GetFreeFileID: ERROR: Bad index file header size - headPtr->size: 12, dataSize: 10", false},
    {"partial index record", "020004000100020003", StoreFile::Kind::Index, nullptr, false},
    {"attribute header cut", "02000300030001", StoreFile::Kind::Attribute, "Broken attr file. dataSize: 3, i: 0",
     false},
    {"attribute value past the data size", "0200060003000500616263", StoreFile::Kind::Attribute,
     "Broken index file. dataSize: 6, i: 4, size: 5", false},
};

TEST(StoreFileImages, DamagedFilesAreRefusedWithTheirTexts)
{
    for (const BrokenFileCase& c : kBrokenFiles) {
        SCOPED_TRACE(c.name);
        const tru::BufferDynamic file = Hex(c.hex);
        uint32_t mark = 0;
        try {
            const uint32_t dataSize = StoreFile::CheckedDataSize(file, c.kind, "GetFreeFileID", mark);
            if (c.kind == StoreFile::Kind::Index) {
                StoreFile::ParseIndex(file, dataSize);
            } else {
                std::vector<storage::AttributeBuff> list;
                StoreFile::ParseAttributeFile(file, dataSize, list);
            }
            ADD_FAILURE() << "accepted";
        } catch (const zrck::Exception& e) {
            EXPECT_EQ(e.GetCode(), CKR_DEVICE_ERROR);
            if (c.message != nullptr) {
                EXPECT_STREQ(e.what(), c.message);
            } else {
                EXPECT_STREQ(e.what(),
                             "Broken index file. dataSize: 4, currShift: 0, sizeof(storage::IndexFileRecord): 6");
            }
        }
        EXPECT_EQ(mark, c.setsMark ? StoreFile::kDamagedHeaderMark : 0u);
    }
}

TEST(AtrAcceptors, BrandTablesAcceptOnlyTheirForms)
{
    const struct {
        const char* name;
        const qel::AtrAcceptor* table;
        const char* atr;
        bool accepted;
        uint32_t model;
    } cases[] = {
        {"brand 0 full model", qel::ZorvaneKeyAcceptors, "3B8F015A524B53494D050F00000000000000AA", true, 0},
        {"brand 0 lite model", qel::ZorvaneKeyAcceptors, "3B8F015A525553494D050F00000000000000AA", true, 1},
        {"brand 1 card in brand 0 reader", qel::ZorvaneKeyAcceptors, "3B8F01514A4B53494D050F00000000000000AA", false,
         0},
        {"brand 1", qel::UlmarKeyAcceptors, "3B8F01514A4B53494D050F00000000000000AA", true, 0},
        {"brand 1 lite is not in its table", qel::UlmarKeyAcceptors, "3B8F01514A5553494D050F00000000000000AA", false,
         0},
        {"20 bytes", qel::ZorvaneKeyAcceptors, "3B8F015A524B53494D050F00000000000000AA00", false, 0},
        {"byte 16 not zero", qel::ZorvaneKeyAcceptors, "3B8F015A524B53494D050F00000000000001AA", false, 0},
        {"free bytes may be anything", qel::ZorvaneKeyAcceptors, "3B8F015A524BFFFFFFFFFFFFFFFFFF000000FF", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const tru::BufferDynamic atr = Hex(c.atr);
        bool accepted = false;
        uint32_t model = 0;
        for (const qel::AtrAcceptor* a = c.table; a->length != 0; ++a) {
            if (zrck::Slot::IsATRAcceptable(atr, a->pattern, a->mask, a->length)) {
                accepted = true;
                model = a->modelFlag;
                break;
            }
        }
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(model, c.model);
    }
}

}  // namespace

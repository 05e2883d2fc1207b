#include <gtest/gtest.h>

#include "support/id_generator.h"
#include "support/math.h"
#include "support/vdk_exception.h"

namespace {

class CountingGenerator : public vdk::IDGenerator {
public:
    using IDGenerator::IDGenerator;
    int saves = 0;

protected:
    void SaveValue() override { ++saves; }
};

class IDGeneratorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vdk::MutexFactory::DestroyInstance();
        vdk::MutexFactory::Instance().SetFlags(vdk::MutexFactory::FLAG_RECURSIVE);
        vdk::MutexLinuxFactory::RegisterFactory();
    }
    void TearDown() override { vdk::MutexFactory::DestroyInstance(); }

    static tru::BufferDynamic BigEndian(uint64_t value)
    {
        tru::BufferDynamic b(8);
        vdk::SetUnsignedLongLong(value, b.Data());
        return b;
    }
};

TEST_F(IDGeneratorTest, SuccessiveAndAlignedValues)
{
    CountingGenerator gen("objects");
    tru::BufferDynamic out;
    gen.GetNextValue(out);
    EXPECT_EQ("0000000000000001", out.ToHex());
    gen.GetNextValue(out);
    EXPECT_EQ("0000000000000002", out.ToHex());

    tru::BufferDynamic wide(16);
    std::memset(wide.Data(), 0xEE, 16);
    gen.GetNextValueAligned(wide);
    EXPECT_EQ("00000000000000000000000000000003", wide.ToHex());

    tru::BufferDynamic narrow(7);
    try {
        gen.GetNextValueAligned(narrow);
        ADD_FAILURE();
    } catch (const vdk::IDGeneratorException& e) {
        EXPECT_EQ(0, std::string(e.what()).find("IDGenerator: Error "));
    }
    EXPECT_EQ(7u, narrow.Size());
}

TEST_F(IDGeneratorTest, MergeRaisesOnlyForGreaterValues)
{
    CountingGenerator gen("objects");
    gen.MergeValue(BigEndian(0x100));
    EXPECT_EQ(1, gen.saves);
    gen.MergeValue(BigEndian(0x100));  // equal: no save
    gen.MergeValue(BigEndian(5));      // smaller: ignored
    EXPECT_EQ(1, gen.saves);
    tru::BufferDynamic out;
    gen.GetNextValue(out);
    EXPECT_EQ("0000000000000101", out.ToHex());

    try {
        gen.MergeValue(tru::Buffer("1234567", 7));
        ADD_FAILURE();
    } catch (const vdk::IDGeneratorException& e) {
        EXPECT_STREQ("IDGenerator: Error theMergeValue invalid", e.what());
    }

    // The last identifier is handed out once; after it, no wrap to 0.
    gen.MergeValue(BigEndian(UINT64_MAX - 1));
    gen.GetNextValue(out);
    EXPECT_EQ("FFFFFFFFFFFFFFFF", out.ToHex());
    EXPECT_THROW(gen.GetNextValue(out), vdk::IDGeneratorException);
}

TEST(IDGeneratorNoFactoryTest, ConstructionFailsWithoutGenerator)
{
    vdk::MutexFactory::DestroyInstance();
    EXPECT_THROW(vdk::IDGenerator("x"), vdk::Exception);
    vdk::MutexFactory::DestroyInstance();
}

}  // namespace

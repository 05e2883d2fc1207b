#include <gtest/gtest.h>

#include <vector>

#include "support/safe_buffer.h"

namespace {

// Records the bytes of every storage block at the moment it is freed.
class RecordingSafeBuffer : public vdk::SafeBuffer {
public:
    using SafeBuffer::SafeBuffer;
    ~RecordingSafeBuffer() override { Destroy(); }
    std::vector<std::vector<uint8_t>> released;

protected:
    void ReleaseStorage(void* data, uint32_t size) override
    {
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        released.emplace_back(bytes, bytes + size);
        SafeBuffer::ReleaseStorage(data, size);
    }
};

bool AllAA(const std::vector<uint8_t>& bytes)
{
    for (uint8_t b : bytes)
        if (b != 0xAA)
            return false;
    return !bytes.empty();
}

TEST(SafeBufferTest, ReallocWipesOldStorageAndKeepsBytes)
{
    RecordingSafeBuffer b;
    ASSERT_EQ(tru::SUCCESS, b.FromHex("01020304"));
    b.released.clear();
    ASSERT_EQ(tru::SUCCESS, b.Realloc(8));
    ASSERT_EQ(1u, b.released.size());
    EXPECT_TRUE(AllAA(b.released[0]));
    EXPECT_EQ(8u, b.Size());
    EXPECT_EQ("01020304", tru::Buffer(b.Data(), 4).ToHex());

    ASSERT_EQ(tru::SUCCESS, b.Realloc(2));
    EXPECT_EQ("0102", b.ToHex());
}

TEST(SafeBufferTest, EveryReplacementWipes)
{
    struct Step {
        const char* name;
        void (*run)(RecordingSafeBuffer&);
    };
    const Step steps[] = {
        {"Alloc", [](RecordingSafeBuffer& b) { b.Alloc(3); }},
        {"Set of another size", [](RecordingSafeBuffer& b) { b.Set(2, "xy"); }},
        {"FromHex of another size", [](RecordingSafeBuffer& b) { b.FromHex("00"); }},
        {"FromBase64", [](RecordingSafeBuffer& b) { b.FromBase64("QUJD"); }},
        {"assignment", [](RecordingSafeBuffer& b) {
             static_cast<vdk::SafeBuffer&>(b) = tru::Buffer("abcdef", 6);
         }},
        {"Clear", [](RecordingSafeBuffer& b) { b.Clear(); }},
        {"Destroy", [](RecordingSafeBuffer& b) { b.Destroy(); }},
        {"Set from inside itself", [](RecordingSafeBuffer& b) { b.Set(2, b.Data() + 1); }},
    };
    for (const Step& step : steps) {
        RecordingSafeBuffer b;
        ASSERT_EQ(tru::SUCCESS, b.FromHex("5EC2E75EC2"));
        b.released.clear();
        step.run(b);
        ASSERT_EQ(1u, b.released.size()) << step.name;
        EXPECT_TRUE(AllAA(b.released[0])) << step.name;
    }
    RecordingSafeBuffer inside;
    inside.FromHex("0102030405");
    inside.Set(2, inside.Data() + 3);
    EXPECT_EQ("0405", inside.ToHex());
}

TEST(SafeBufferTest, MovingIntoPlainBufferCopies)
{
    vdk::SafeBuffer secret(tru::Buffer("key!", 4));
    const uint8_t* storage = secret.Data();
    tru::BufferDynamic plain(std::move(secret));
    EXPECT_EQ(storage, secret.Data());  // still owned, and wiped, by the safe buffer
    EXPECT_NE(storage, plain.Data());
    EXPECT_EQ("key!", plain.ToString());

    vdk::SafeBuffer other(std::move(secret));
    EXPECT_EQ(storage, other.Data());
    EXPECT_EQ(nullptr, secret.Data());
}

TEST(SafeBufferTest, FillPseudoRandFastLeavesTailBytes)
{
    vdk::SafeBuffer b;
    b.FromHex("000000000000");
    for (int attempt = 0; attempt < 4; ++attempt) {
        b.FillPseudoRandFast();
        EXPECT_EQ(0, b.Data()[4]);
        EXPECT_EQ(0, b.Data()[5]);
    }
    vdk::SafeBuffer large(64);
    large.FillPseudoRandFast();  // distinct words: index mixed in
    uint32_t w0, w1;
    std::memcpy(&w0, large.Data(), 4);
    std::memcpy(&w1, large.Data() + 4, 4);
    EXPECT_NE(w0, w1);
}

TEST(SafeStaticBufferTest, WipesCallerStorageOnDestruction)
{
    uint8_t storage[4] = {1, 2, 3, 4};
    {
        vdk::SafeStaticBuffer view(storage, 4);
        EXPECT_EQ(storage, view.Data());
    }
    for (uint8_t b : storage)
        EXPECT_EQ(0xAA, b);
}

}  // namespace

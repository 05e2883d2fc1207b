#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "support/math.h"
#include "support/vdk_exception.h"

namespace {

using vdk::Math;

std::string Hex(const void* bytes, uint32_t n)
{
    return tru::Buffer(bytes, n).ToHex();
}

TEST(MathByteOrderTest, StoresAndFetchesInEachOrder)
{
    uint8_t b[8];
    Math::PutUShort(Math::BIG_ENDIAN_ORDER, 0x1234, b);
    EXPECT_EQ("1234", Hex(b, 2));
    Math::PutUShort(Math::LITTLE_ENDIAN_ORDER, 0x1234, b);
    EXPECT_EQ("3412", Hex(b, 2));
    Math::PutUInt(Math::BIG_ENDIAN_ORDER, 0x01020304, b);
    EXPECT_EQ("01020304", Hex(b, 4));
    EXPECT_EQ(0x04030201u, Math::GetUInt(Math::LITTLE_ENDIAN_ORDER, b));
    Math::PutULLong(Math::LITTLE_ENDIAN_ORDER, 0x0102030405060708ull, b);
    EXPECT_EQ("0807060504030201", Hex(b, 8));
    EXPECT_EQ(0x0807060504030201ull, Math::GetULLong(Math::BIG_ENDIAN_ORDER, b));

    Math::PutUInt(Math::HOST, 0xA1B2C3D4, b);
    uint32_t native;
    std::memcpy(&native, b, 4);
    EXPECT_EQ(0xA1B2C3D4u, native);
    EXPECT_EQ(0xA1B2C3D4u, Math::GetULong(Math::HOST, b));

    // Unknown order: fetch 0, store nothing.
    const auto bad = static_cast<Math::ByteOrder>(3);
    EXPECT_EQ(0u, Math::GetUInt(bad, b));
    std::memset(b, 0x5A, sizeof b);
    Math::PutUInt(bad, 0, b);
    Math::PutULLong(bad, 0, b);
    EXPECT_EQ("5A5A5A5A5A5A5A5A", Hex(b, 8));

    vdk::SetUnsignedLongLong(257, b);
    EXPECT_EQ("0000000000000101", Hex(b, 8));
    EXPECT_EQ(257u, vdk::GetUnsignedLongLong(b));
    vdk::SetUnsigned(0xDEADBEEF, b);
    EXPECT_EQ(0xDEADBEEFu, vdk::GetUnsigned(b));
    vdk::SetUnsignedShort(0xBEEF, b);
    EXPECT_EQ("BEEF", Hex(b, 2));
    EXPECT_EQ(0xBEEFu, vdk::GetUnsignedShort(b));
}

TEST(MathBitLengthTest, BytesAndNumbers)
{
    EXPECT_EQ(0u, vdk::GetBitLength(uint8_t(0)));
    EXPECT_EQ(1u, vdk::GetBitLength(uint8_t(0x01)));
    EXPECT_EQ(8u, vdk::GetBitLength(uint8_t(0x80)));
    EXPECT_EQ(0u, vdk::GetReverseBitLength(uint8_t(0)));
    EXPECT_EQ(8u, vdk::GetReverseBitLength(uint8_t(0x01)));
    EXPECT_EQ(1u, vdk::GetReverseBitLength(uint8_t(0x80)));

    struct Case {
        std::vector<uint8_t> bytes;
        uint32_t bigEndianBits;
        uint32_t littleEndianBits;
    };
    const Case cases[] = {
        {{}, 0, 0},
        {{0x00, 0x00}, 0, 0},
        {{0x00, 0x01}, 1, 9},
        {{0x01, 0x00}, 9, 1},
        {{0x80}, 8, 8},
        {{0x03, 0xFF, 0x00}, 18, 16},
    };
    for (const Case& c : cases) {
        tru::Buffer b(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
        EXPECT_EQ(c.bigEndianBits, vdk::GetBitLength(b)) << b.ToHex();
        EXPECT_EQ(c.littleEndianBits, vdk::GetReverseBitLength(b)) << b.ToHex();
    }
}

TEST(MathNumberTest, BytesCountAlignAndHash)
{
    EXPECT_EQ(1u, vdk::GetBytesCount(0));
    EXPECT_EQ(1u, vdk::GetBytesCount(255));
    EXPECT_EQ(2u, vdk::GetBytesCount(256));
    EXPECT_EQ(8u, vdk::GetBytesCount(1ull << 56));
    EXPECT_EQ(8u, vdk::GetBytesCount(UINT64_MAX));

    EXPECT_EQ(16u, vdk::Align(16, 8));
    EXPECT_EQ(24u, vdk::Align(17, 8));
    EXPECT_EQ(0u, vdk::Align(0, 8));
    EXPECT_THROW(vdk::Align(5, 0), vdk::Exception);
    EXPECT_THROW(vdk::Align(UINT32_MAX, 8), vdk::Exception);

    EXPECT_EQ(0u, vdk::ELFHash(""));
    EXPECT_EQ(26499u, vdk::ELFHash("abc"));
    EXPECT_EQ("26499", vdk::ELFHashStr("abc"));
    EXPECT_EQ(0x0FFFFF70u, vdk::ELFHash("\x80"));
}

TEST(MathNumberTest, I64toaAlwaysTerminates)
{
    struct Case {
        long long value;
        unsigned size;
        bool ok;
        const char* text;
    };
    const Case cases[] = {
        {-45, 4, true, "-45"},
        {-45, 3, false, nullptr},  // would fill the buffer without a terminator
        {123, 2, false, nullptr},
        {0, 2, true, "0"},
        {0, 1, false, nullptr},
        {LLONG_MAX, 20, true, "9223372036854775807"},
        {LLONG_MIN, 21, true, "-9223372036854775808"},
        {LLONG_MIN, 20, false, nullptr},
    };
    for (const Case& c : cases) {
        char buffer[32];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(c.ok, vdk::i64toa(c.value, buffer, c.size)) << c.value << " in " << c.size;
        if (c.ok) {
            EXPECT_STREQ(c.text, buffer);
        }
        EXPECT_EQ('x', buffer[c.size]) << "wrote past the buffer";
    }
    EXPECT_FALSE(vdk::i64toa(1, nullptr, 4));
}

TEST(MathNumberTest, BigEndianToInteger)
{
    const uint8_t nineZeroLead[] = {0x00, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(0x0102030405060708ull, vdk::GetUnsignedLLongFromBigInt(nineZeroLead, 9));
    const uint8_t nineOneLead[] = {0x01, 1, 2, 3, 4, 5, 6, 7, 8};
    try {
        vdk::GetUnsignedLLongFromBigInt(nineOneLead, 9);
        ADD_FAILURE();
    } catch (const vdk::Exception& e) {
        EXPECT_STREQ("GetUnsignedLLongFromBigInt: value too big", e.what());
    }
    EXPECT_EQ(0u, vdk::GetUnsignedLLongFromBigInt(nullptr, 0));
    const uint8_t five[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0xFFFFFFFFu, vdk::GetUnsignedIntFromBigInt(five, 5));
    const uint8_t fiveTooBig[] = {0x01, 0x00, 0x00, 0x00, 0x00};
    EXPECT_THROW(vdk::GetUnsignedIntFromBigInt(fiveTooBig, 5), vdk::Exception);
}

TEST(MathNumberTest, XorBuffersRepeatsKey)
{
    uint8_t data[5] = {0, 0, 0, 0, 0xFF};
    const uint8_t key[2] = {0x0F, 0xF0};
    tru::Buffer d(data, 5);
    vdk::XorBuffers(d, tru::Buffer(key, 2));
    EXPECT_EQ("0FF00FF0F0", d.ToHex());

    uint8_t shortData[3] = {1, 2, 3};
    const uint8_t longKey[4] = {9, 9, 9, 9};
    tru::Buffer s(shortData, 3);
    try {
        vdk::XorBuffers(s, tru::Buffer(longKey, 4));
        ADD_FAILURE();
    } catch (const vdk::Exception& e) {
        EXPECT_STREQ("XorBuffers: theDataToXor too large", e.what());
    }
    EXPECT_EQ("010203", s.ToHex());
    EXPECT_THROW(vdk::XorBuffers(s, tru::Buffer()), vdk::Exception);
}

TEST(SBigIntTest, AddAndWiden)
{
    struct Case {
        const char* a;
        const char* b;
        const char* sum;
    };
    const Case cases[] = {
        {"01", "02", "03"},
        {"FF", "01", "0001"},          // carry out adds a byte
        {"FFFF", "0100", "000001"},    // little-endian: carry runs through index 1
        {"FF00", "01000000", "0001"},  // b's further bytes ignored
    };
    for (const Case& c : cases) {
        tru::BufferDynamic a, b, out;
        a.FromHex(c.a);
        b.FromHex(c.b);
        vdk::SBigInt::AddData(a, b, out);
        EXPECT_EQ(c.sum, out.ToHex()) << c.a << " + " << c.b;
    }
    tru::BufferDynamic a, b, out;
    a.FromHex("0102");
    b.FromHex("01");
    EXPECT_THROW(vdk::SBigInt::AddData(a, b, out), vdk::Exception);

    vdk::SBigInt::GetAdjusted(a, out, 4);
    EXPECT_EQ("01020000", out.ToHex());
    vdk::SBigInt::GetAdjusted(tru::Buffer(out.Data(), 2), out, 3);  // in views out
    EXPECT_EQ("010200", out.ToHex());
    EXPECT_THROW(vdk::SBigInt::GetAdjusted(a, out, 1), vdk::Exception);
}

}  // namespace

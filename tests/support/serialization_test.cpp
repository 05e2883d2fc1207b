#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "support/serialization.h"
#include "support/vdk_exception.h"

namespace {

using vdk::InputBuffer;
using vdk::Math;
using vdk::OutputBuffer;

std::string Written(const OutputBuffer& out)
{
    tru::BufferDynamic bytes;
    out.GetBuffer(bytes);
    return bytes.ToHex();
}

TEST(OutputBufferTest, GrowthRule)
{
    // A writer of the initial capacity, filled to it, then one more write.
    struct Case {
        uint32_t initial;
        uint32_t fill;
        uint32_t overflow;
        uint32_t capacity;
    };
    const Case cases[] = {
        {32, 32, 1, 64},  // doubled
        {32, 0, 100, 132},  // one write needing more than double
        {16384, 16384, 1, 32768},
        {20000, 20000, 1, 36384},  // large: grows by 16384
        {0, 0, 1, 32},
        {10, 10, 1, 42},
    };
    for (const Case& c : cases) {
        OutputBuffer out(Math::HOST, c.initial);
        std::vector<uint8_t> bytes(c.fill + c.overflow, 0x11);
        out.Write(bytes.data(), c.fill);
        EXPECT_EQ(c.initial, out.GetCapacity());
        out.Write(bytes.data(), c.overflow);
        EXPECT_EQ(c.capacity, out.GetCapacity()) << c.initial << "+" << c.overflow;
    }
    OutputBuffer bytewise(Math::HOST, 32);
    for (int i = 0; i < 33; ++i)
        bytewise.WriteByte(static_cast<uint8_t>(i));
    EXPECT_EQ(64u, bytewise.GetCapacity());
    EXPECT_EQ(33u, bytewise.GetPosition());
}

TEST(OutputBufferTest, NumberOrders)
{
    OutputBuffer big(Math::BIG_ENDIAN_ORDER, 0);
    big.WriteShort(0x1234).WriteInt(0x01020304).WriteLong(0xA0B0C0D0).WriteBool(true).WriteBool(false);
    EXPECT_EQ("123401020304A0B0C0D00100", Written(big));

    OutputBuffer little(Math::LITTLE_ENDIAN_ORDER, 0);
    little.WriteShort(0x1234).WriteShortPacket("ab", 2).WriteIntPacket("c", 1).WriteString("xy");
    EXPECT_EQ("34120200616201000000637879", Written(little));

    // Sizes are always in host order.
    OutputBuffer sized(Math::BIG_ENDIAN_ORDER, 0);
    sized.WriteSize(0x11223344);
    uint32_t host = 0x11223344;
    EXPECT_EQ(tru::Buffer(&host, 4).ToHex(), Written(sized));

    EXPECT_THROW(sized.WriteLong(0x100000000ul), vdk::Exception);
}

TEST(OutputBufferTest, OversizedShortPacketRefused)
{
    OutputBuffer out(Math::HOST, 0);
    out.WriteByte(7);
    std::vector<uint8_t> body(65536, 0);
    EXPECT_THROW(out.WriteShortPacket(body.data(), 65536), vdk::Exception);
    EXPECT_EQ(1u, out.GetPosition());
    out.WriteShortPacket(body.data(), 65535);
    EXPECT_EQ(1u + 2 + 65535, out.GetPosition());
}

TEST(OutputBufferTest, CallerStorageResetShrinkAndCopyOut)
{
    tru::BufferDynamic target;
    target.FromHex("FFFFFFFFFFFF");
    {
        OutputBuffer out(Math::HOST, target);
        out.WriteByte(1).WriteByte(2);
        out.Shrink();
    }
    EXPECT_EQ("0102", target.ToHex());

    OutputBuffer out(Math::HOST, 4);
    out.Write(tru::Buffer("abcdef", 6));
    out.Reset();
    EXPECT_EQ(0u, out.GetPosition());
    EXPECT_EQ(4u, out.GetCapacity());
    out.WriteByte(0xAB);

    uint8_t room[3] = {0, 0x77, 0x77};
    tru::Buffer view(room, 3);
    EXPECT_EQ(1u, out.GetBuffer(view));
    EXPECT_EQ("AB7777", view.ToHex());
    tru::Buffer none;
    try {
        out.GetBuffer(none);
        ADD_FAILURE();
    } catch (const vdk::Exception& e) {
        EXPECT_STREQ("OutputBuffer: not enough memory to copy buffer", e.what());
    }
}

TEST(InputBufferTest, RoundTripInEachOrder)
{
    for (Math::ByteOrder order : {Math::HOST, Math::BIG_ENDIAN_ORDER, Math::LITTLE_ENDIAN_ORDER}) {
        OutputBuffer out(order, 32);
        out.WriteByte(0x9A).WriteBool(true).WriteShort(0xBEEF).WriteInt(0xCAFEBABE)
            .WriteLong(0xFFFFFFFFul).WriteSize(77).WriteString("hi")
            .WriteShortPacket("pkt", 3).WriteIntPacket("body", 4).WriteShortPacket("", 0);
        tru::BufferDynamic bytes;
        out.GetBuffer(bytes);

        InputBuffer in(order, bytes);
        EXPECT_EQ(0x9A, in.ReadByte());
        EXPECT_TRUE(in.ReadBool());
        EXPECT_EQ(0xBEEF, in.ReadShort());
        EXPECT_EQ(0xCAFEBABEu, in.ReadInt());
        EXPECT_EQ(0xFFFFFFFFul, in.ReadLong());
        EXPECT_EQ(77u, in.ReadSize());
        EXPECT_EQ("hi", in.ReadString(2));
        tru::Buffer packet = in.ReadShortPacket();
        EXPECT_EQ("pkt", packet.ToString());
        tru::BufferDynamic body;
        in.ReadIntPacket(body);
        EXPECT_EQ("body", body.ToString());
        tru::Buffer empty;
        EXPECT_TRUE(in.ReadShortPacket(empty));
        EXPECT_EQ(0u, in.GetRemaining());
        EXPECT_THROW(in.ReadByte(), vdk::Exception);
        in.Restart();
        EXPECT_EQ(0x9A, in.ReadByte());
    }
}

TEST(InputBufferTest, PacketLengthMismatchAndTruncatedBodies)
{
    const uint8_t bytes[] = {0x03, 0x00, 'a', 'b', 'c'};  // little-endian length 3
    InputBuffer in(Math::LITTLE_ENDIAN_ORDER, tru::Buffer(bytes, sizeof bytes));
    uint8_t two[2];
    tru::Buffer wrongSize(two, 2);
    EXPECT_FALSE(in.ReadShortPacket(wrongSize));
    EXPECT_EQ(2u, in.GetPosition());
    EXPECT_EQ('a', in.ReadByte());

    const uint8_t boolByte[] = {0x02};
    InputBuffer b(Math::HOST, tru::Buffer(boolByte, 1));
    EXPECT_TRUE(b.ReadBool());

    // Length promises more than remains: every reader form fails, and the
    // owning form does not resize its target first.
    const uint8_t promise[] = {0x00, 0x00, 0x00, 0xFF, 'x'};
    enum Form { VIEW, FIXED, OWNING };
    for (Form form : {VIEW, FIXED, OWNING}) {
        InputBuffer p(Math::BIG_ENDIAN_ORDER, tru::Buffer(promise, sizeof promise));
        uint8_t room[255];
        tru::Buffer fixed(room, 255);
        tru::BufferDynamic owning;
        owning.FromHex("0102");
        try {
            if (form == VIEW)
                p.ReadIntPacket();
            else if (form == FIXED)
                p.ReadIntPacket(fixed);
            else
                p.ReadIntPacket(owning);
            ADD_FAILURE() << form;
        } catch (const vdk::Exception& e) {
            EXPECT_STREQ("InputBuffer - not enough data available", e.what());
        }
        EXPECT_EQ(4u, p.GetPosition()) << form;
        EXPECT_EQ("0102", owning.ToHex());
    }
}

}  // namespace

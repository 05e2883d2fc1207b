#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "tru2/buffer.h"

namespace {

using tru::Buffer;
using tru::BufferDynamic;
using tru::BufferShifting;
using tru::BufferStatic;

std::string Hex(const Buffer& b)
{
    return b.ToHex();
}

// ---- hexadecimal ----

struct HexDecodeCase {
    const char* name;
    const char* text;
    tru::TResult rc;
    const char* bytes;  // expected contents as plain hex, when rc is SUCCESS
};

const HexDecodeCase kHexDecode[] = {
    {"empty text", "", tru::ERROR_DATA, nullptr},
    {"single digit", "A", tru::ERROR_DATA, nullptr},
    {"two blanks", "  ", tru::SUCCESS, ""},
    {"white space between pairs", "0a 1B\r\n", tru::SUCCESS, "0A1B"},
    {"leading tab", "\t0a", tru::SUCCESS, "0A"},
    {"blank inside pair", "A B", tru::ERROR_DATA, nullptr},
    {"odd digit count", "ABC", tru::ERROR_DATA, nullptr},
    {"non-hex character", "0G", tru::ERROR_DATA, nullptr},
    {"trailing garbage", "00 x", tru::ERROR_DATA, nullptr},
};

TEST(BufferHexTest, DecodeTable)
{
    for (const HexDecodeCase& c : kHexDecode) {
        BufferDynamic b;
        EXPECT_EQ(c.rc, b.FromHex(c.text)) << c.name;
        if (c.rc == tru::SUCCESS) {
            EXPECT_EQ(c.bytes, Hex(b)) << c.name;
        }
    }
}

TEST(BufferHexTest, FixedTargetRequiresExactLength)
{
    uint8_t bytes[2] = {0x11, 0x22};
    Buffer view(bytes, 2);
    EXPECT_EQ(tru::ERROR_SIZE, view.FromHex("010203"));
    EXPECT_EQ(0x11, bytes[0]);
    EXPECT_EQ(0x22, bytes[1]);
    EXPECT_EQ(tru::SUCCESS, view.FromHex("ab cd"));
    EXPECT_EQ("ABCD", Hex(view));

    // The static decoder never writes beyond the room it is given.
    uint8_t out[3] = {0, 0, 0x77};
    uint32_t room = 2;
    EXPECT_EQ(tru::ERROR_DATA, Buffer::FromHex("010203", room, out));
    EXPECT_EQ(0x77, out[2]);
}

struct HexEncodeCase {
    const char* name;
    std::vector<uint8_t> bytes;
    unsigned long group;
    unsigned long line;
    const char* separator;
    const char* text;
};

TEST(BufferHexTest, EncodeTable)
{
    const HexEncodeCase cases[] = {
        {"plain", {0x0A, 0xFF}, 0, 0, "\n", "0AFF"},
        {"empty", {}, 0, 0, "\n", ""},
        {"incomplete last group", {1, 2, 3, 4, 5}, 2, 2, "\n", "0102 0304 \n05"},
        {"full last line", {1, 2, 3, 4}, 2, 2, "|", "0102 0304 |"},
        {"groups without lines", {1, 2, 3}, 1, 0, "\n", "01 02 03 "},
    };
    for (const HexEncodeCase& c : cases) {
        Buffer view(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
        EXPECT_EQ(c.text, view.ToHex(c.group, c.line, c.separator)) << c.name;
    }
}

// ---- Base64 ----

struct Base64DecodeCase {
    const char* name;
    const char* text;
    tru::TResult rc;
    const char* bytes;
};

const Base64DecodeCase kBase64Decode[] = {
    {"empty", "", tru::SUCCESS, ""},
    {"one full group", "QUJD", tru::SUCCESS, "414243"},
    {"double pad", "QQ==", tru::SUCCESS, "41"},
    {"single pad", "QUI=", tru::SUCCESS, "4142"},
    {"line breaks and blanks skipped", "QU\r\nJD RA==\n", tru::SUCCESS, "41424344"},
    {"group after a padded group", "QQ==QUJD", tru::SUCCESS, "41414243"},
    {"unpadded last group of three", "QUJDQUI", tru::ERROR_DATA, nullptr},
    {"unpadded last group of one", "QUJDQ", tru::ERROR_DATA, nullptr},
    {"unpadded last group and LF", "QUJDQUI\n", tru::ERROR_DATA, nullptr},
    {"pad as first character", "=QUJ", tru::ERROR_DATA, nullptr},
    {"pad as second character", "Q=UJ", tru::ERROR_DATA, nullptr},
    {"pad third without fourth", "QU=J", tru::ERROR_DATA, nullptr},
    {"tab is not skipped", "QUJD\tQUJD", tru::ERROR_DATA, nullptr},
    {"outside the alphabet", "QU-D", tru::ERROR_DATA, nullptr},
};

TEST(BufferBase64Test, DecodeTable)
{
    for (const Base64DecodeCase& c : kBase64Decode) {
        BufferDynamic b(3);
        b.FromHex("010203");
        EXPECT_EQ(c.rc, b.FromBase64(c.text)) << c.name;
        if (c.rc == tru::SUCCESS) {
            EXPECT_EQ(c.bytes, Hex(b)) << c.name;
        } else {
            EXPECT_EQ("010203", Hex(b)) << c.name << ": target changed on failure";
        }
    }
}

TEST(BufferBase64Test, DecodeIntoFixedTarget)
{
    BufferStatic<2> two;
    EXPECT_EQ(tru::ERROR_SIZE, two.FromBase64("QUJD"));
    EXPECT_EQ(tru::SUCCESS, two.FromBase64("QUI="));
    EXPECT_EQ("4142", Hex(two));

    uint8_t out[3] = {0, 0, 0x77};
    uint32_t room = 2;
    EXPECT_EQ(tru::ERROR_SIZE, Buffer::FromBase64("QUJD", 4, room, out));
    EXPECT_EQ(0x77, out[2]);
}

TEST(BufferBase64Test, EncodeWithLinesAndRoundTrip)
{
    const uint8_t three[] = {0x41, 0x42, 0x43};
    EXPECT_EQ("QUJD\n", Buffer(three, 3).ToBase64(4, "\n"));
    EXPECT_EQ("QQ==\n", Buffer(three, 1).ToBase64(4, "\n"));
    EXPECT_EQ("QUJD", Buffer(three, 3).ToBase64());
    EXPECT_EQ("QUI=", Buffer(three, 2).ToBase64(0, nullptr));
    EXPECT_EQ("", Buffer().ToBase64(4, "\n"));

    BufferDynamic all(256);
    for (uint32_t i = 0; i < 256; ++i)
        all.Data()[i] = static_cast<uint8_t>(i);
    for (uint32_t n : {0u, 1u, 2u, 3u, 4u, 100u, 256u}) {
        const std::string text = Buffer(all.Data(), n).ToBase64(76, "\r\n");
        BufferDynamic back;
        ASSERT_EQ(tru::SUCCESS, back.FromBase64(text.c_str())) << n;
        EXPECT_TRUE(back == Buffer(all.Data(), n)) << n;
    }
}

// ---- Set, copy, append ----

TEST(BufferSetTest, StaticRefusesOtherSizeDynamicResizes)
{
    const uint8_t seven[7] = {1, 2, 3, 4, 5, 6, 7};
    BufferStatic<8> fixed;
    fixed.FromHex("AAAAAAAAAAAAAAAA");
    EXPECT_EQ(tru::ERROR_SIZE, fixed.Set(7, seven));
    EXPECT_EQ("AAAAAAAAAAAAAAAA", Hex(fixed));

    BufferDynamic dynamic(8);
    EXPECT_EQ(tru::SUCCESS, dynamic.Set(7, seven));
    EXPECT_EQ("01020304050607", Hex(dynamic));

    // A null source is refused instead of read.
    EXPECT_EQ(tru::ERROR_PARAM, dynamic.Set(3, nullptr));
    EXPECT_EQ(tru::ERROR_PARAM, fixed.Set(8, nullptr));
    EXPECT_EQ("01020304050607", Hex(dynamic));

    BufferStatic<8> copy(fixed);
    EXPECT_NE(fixed.Data(), copy.Data());
    EXPECT_TRUE(copy == fixed);
}

TEST(BufferSetTest, SourceInsideOwnStorage)
{
    BufferDynamic b;
    b.FromHex("0102030405060708");
    // Shrinking to a tail of itself: the source lives in the storage being replaced.
    EXPECT_EQ(tru::SUCCESS, b.Set(3, b.Data() + 5));
    EXPECT_EQ("060708", Hex(b));
    // Same size, overlapping: plain move.
    EXPECT_EQ(tru::SUCCESS, b.Set(3, b.Data()));
    EXPECT_EQ("060708", Hex(b));
    // A range running past the end is refused rather than read.
    EXPECT_EQ(tru::ERROR_SIZE, b.Set(4, b.Data() + 1));
    EXPECT_EQ("060708", Hex(b));

    b = Buffer(b.Data() + 1, 2);
    EXPECT_EQ("0708", Hex(b));
}

TEST(BufferSetTest, AppendBufferOfItself)
{
    BufferDynamic b;
    b.FromHex("0102");
    EXPECT_EQ(tru::SUCCESS, b.AppendBuffer(b));
    EXPECT_EQ("01020102", Hex(b));
    EXPECT_EQ(tru::SUCCESS, b.AppendBuffer(Buffer(b.Data() + 3, 1)));
    EXPECT_EQ("0102010202", Hex(b));
    EXPECT_EQ(tru::SUCCESS, b.AppendBuffer(Buffer()));
    EXPECT_EQ(5u, b.Size());
}

TEST(BufferSetTest, CopyMoveAndDetach)
{
    BufferDynamic a;
    a.FromHex("A1A2");
    BufferDynamic copy(a);
    EXPECT_NE(a.Data(), copy.Data());
    EXPECT_TRUE(copy == a);

    const uint8_t* storage = a.Data();
    BufferDynamic moved(std::move(a));
    EXPECT_EQ(storage, moved.Data());
    EXPECT_EQ(0u, a.Size());

    void* detached = moved.Detach();
    EXPECT_EQ(storage, detached);
    EXPECT_EQ(nullptr, moved.Data());
    EXPECT_EQ(0u, moved.Size());
    std::free(detached);

    EXPECT_EQ(tru::SUCCESS, copy.Realloc(4));
    EXPECT_EQ(0xA1, copy.Data()[0]);
    EXPECT_EQ(0xA2, copy.Data()[1]);
    EXPECT_EQ(tru::SUCCESS, copy.Realloc(0));
    EXPECT_EQ(nullptr, copy.Data());
}

TEST(BufferTest, EqualityStringAndReverse)
{
    uint8_t x = 1, y = 2;
    EXPECT_TRUE(Buffer(&x, 0) == Buffer(&y, 0));
    EXPECT_TRUE(Buffer() == BufferDynamic());
    EXPECT_FALSE(Buffer(&x, 1) == Buffer(&y, 1));

    const uint8_t withZero[] = {0x41, 0x00, 0x42};
    EXPECT_EQ(std::string("A\0B", 3), Buffer(withZero, 3).ToString());
    EXPECT_EQ("", Buffer().ToString());

    for (const char* hex : {"", "01", "0102", "010203"}) {
        BufferDynamic b;
        if (*hex)
            b.FromHex(hex);
        BufferDynamic reversed(b);
        Buffer::Reverse(reversed.Data(), reversed.Size());
        Buffer::Reverse(reversed.Data(), reversed.Size());
        EXPECT_TRUE(reversed == b) << hex;
    }
    uint8_t le[] = {1, 2, 3};
    Buffer::Reverse(le, 3);
    EXPECT_EQ("030201", Hex(Buffer(le, 3)));

    uint8_t secret[5] = {1, 2, 3, 4, 5};
    Buffer::Wipe(5, secret);
    EXPECT_EQ("AAAAAAAAAA", Hex(Buffer(secret, 5)));
}

TEST(BufferTest, RussianRecoding)
{
    // а, ё, я, Ё, Я, ь, ъ in code page 866, then ASCII.
    const uint8_t dos[] = {0xA0, 0xF1, 0xEF, 0xF0, 0x9F, 0xEC, 0xEA, 'x'};
    const std::string win = Buffer(dos, sizeof dos).ToWin();
    EXPECT_EQ(BufferDynamic(Buffer(win.data(), static_cast<uint32_t>(win.size()))).ToHex(),
              "E0B8FFA8DFFCFA78");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dos), sizeof dos),
              Buffer(win.data(), static_cast<uint32_t>(win.size())).ToDos());

    // Every letter maps back to itself.
    const std::string all_dos(reinterpret_cast<const char*>(Buffer::cChars_[0]), 66);
    const std::string all_win(reinterpret_cast<const char*>(Buffer::cChars_[1]), 66);
    EXPECT_EQ(all_win, Buffer(all_dos.data(), 66).ToWin());
    EXPECT_EQ(all_dos, Buffer(all_win.data(), 66).ToDos());

    const uint8_t withZero[] = {0x41, 0x00, 0x42};
    EXPECT_EQ("A", Buffer(withZero, 3).ToWin());
}

// ---- files ----

class BufferFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zrbufXXXXXX";
        const int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = pattern;
    }
    void TearDown() override { std::remove(path_.c_str()); }
    std::string path_;
};

TEST_F(BufferFileTest, SaveLoadRoundTripAndEmptyFile)
{
    BufferDynamic written;
    written.FromHex("00FF10");
    ASSERT_EQ(tru::SUCCESS, written.Save(path_.c_str()));
    BufferDynamic read;
    ASSERT_EQ(tru::SUCCESS, read.Load(path_.c_str()));
    EXPECT_TRUE(read == written);

    ASSERT_EQ(tru::SUCCESS, Buffer().Save(path_.c_str()));
    EXPECT_EQ(tru::SUCCESS, read.Load(path_.c_str()));
    EXPECT_EQ(0u, read.Size());
    EXPECT_EQ(nullptr, read.Data());
}

TEST_F(BufferFileTest, Failures)
{
    BufferDynamic kept;
    kept.FromHex("0102");
    EXPECT_EQ(tru::ERROR_FILE_OPEN, kept.Load((path_ + ".missing").c_str()));
    EXPECT_EQ("0102", Hex(kept));
    EXPECT_EQ(tru::ERROR_WRITE, kept.Save("/nonexistent-dir/x"));
    // A directory opens but cannot be read as a file.
    EXPECT_NE(tru::SUCCESS, kept.Load("/tmp"));
}

// ---- cursor ----

TEST(BufferShiftingTest, ReadsWritesAndBounds)
{
    uint8_t bytes[5] = {0x10, 0x34, 0x12, 0x99, 0x98};
    BufferShifting cursor(bytes, 5);
    uint8_t first = 0;
    uint16_t word = 0;
    EXPECT_EQ(tru::SUCCESS, cursor.GetAndShift(first));
    EXPECT_EQ(tru::SUCCESS, cursor.GetAndShift(word));
    EXPECT_EQ(0x10, first);
    uint16_t expected;
    std::memcpy(&expected, bytes + 1, 2);  // host byte order, unaligned
    EXPECT_EQ(expected, word);
    uint8_t out[3] = {};
    EXPECT_EQ(tru::ERROR_SIZE, cursor.GetAndShift(3, out));
    EXPECT_EQ(2u, cursor.Size());
    EXPECT_EQ(bytes + 3, cursor.Data());
    EXPECT_EQ(tru::SUCCESS, cursor.SetAndShift('z'));
    EXPECT_EQ(tru::ERROR_SIZE, cursor.SetStringAndShift("ab"));
    EXPECT_EQ(tru::SUCCESS, cursor.SetStringAndShift("a"));
    EXPECT_EQ(0u, cursor.Size());
    EXPECT_EQ('z', bytes[3]);
    EXPECT_EQ('a', bytes[4]);
    EXPECT_EQ(tru::ERROR_SIZE, cursor.Shift(1));
}

TEST(BufferShiftingTest, NullDataOnlyCounts)
{
    BufferShifting counter(nullptr, 6);
    EXPECT_EQ(tru::SUCCESS, counter.SetStringAndShift("abc"));
    EXPECT_EQ(tru::SUCCESS, counter.SetBufferAndShift(2, "xy"));
    EXPECT_EQ(nullptr, counter.Data());
    EXPECT_EQ(1u, counter.Size());
    EXPECT_EQ(tru::ERROR_SIZE, counter.SetBufferAndShift(2, "xy"));
    char c;
    EXPECT_EQ(tru::ERROR_PARAM, counter.GetAndShift(c));
    EXPECT_EQ(1u, counter.Size());
}

}  // namespace

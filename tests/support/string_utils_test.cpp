#include "support/string_utils.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "tru2/buffer.h"

namespace {

TEST(StringUtilsTest, RemoveTailAndLooseUnicode)
{
    EXPECT_EQ(vdk::String::RemoveTail("abc", 1), "ab");
    EXPECT_EQ(vdk::String::RemoveTail("abc", 3), "");
    EXPECT_EQ(vdk::String::RemoveTail("abc", 7), "");
    EXPECT_EQ(vdk::String::LooseUnicode(std::wstring{wchar_t(0x41), wchar_t(0x4141)}), "AA");
    EXPECT_EQ(vdk::String::LooseUnicode(L""), "");
}

TEST(StringUtilsTest, SplitDropsEmptyTokensAndAppends)
{
    struct Case { const char* text; const char* seps; std::vector<std::string> tokens; } cases[] = {
        {"a,,b,", ",", {"a", "b"}},
        {" x y ", " ", {"x", "y"}},
        {"a;b,c", ",;", {"a", "b", "c"}},
        {"a b", "", {"a b"}},
        {"", ",", {}},
        {",,,", ",", {}},
        {" a ,b", ",", {" a ", "b"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> tokens{"kept"};
        vdk::String::Split(c.text, c.seps, tokens);
        std::vector<std::string> expected{"kept"};
        expected.insert(expected.end(), c.tokens.begin(), c.tokens.end());
        EXPECT_EQ(tokens, expected) << "'" << c.text << "' by '" << c.seps << "'";
    }
}

TEST(StringUtilsTest, ExtractMultiplierStripsSizeSuffix)
{
    struct Case { const char* in; uint32_t factor; const char* rest; } cases[] = {
        {"4k", 1024, "4"}, {"4K", 1024, "4"}, {"4kb", 1024, "4"}, {"4 KB", 1024, "4 "},
        {"2m", 0x100000, "2"}, {"2MB", 0x100000, "2"}, {"3g", 0x40000000, "3"}, {"3gB", 0x40000000, "3"},
        {"4x", 1, "4x"}, {"k", 1024, ""}, {"kb", 1024, ""}, {"", 1, ""}, {"12", 1, "12"}, {"b", 1, "b"},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        EXPECT_EQ(vdk::String::ExtractMultiplier(text), c.factor) << c.in;
        EXPECT_EQ(text, c.rest) << c.in;
    }
}

TEST(StringUtilsTest, NumbersToText)
{
    struct Case { int value; int base; const char* text; } cases[] = {
        {255, 16, "ff"}, {-10, 10, "-10"}, {5, 17, ""}, {5, 1, ""}, {0, 2, "0"}, {-255, 16, "ff"}, {-1, 2, "1"},
        {INT_MIN, 10, "-2147483648"}, {INT_MIN, 2, "10000000000000000000000000000000"}, {INT_MAX, 8, "17777777777"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(itoa(c.value, c.base), c.text) << c.value << " base " << c.base;
        char buffer[33];
        std::memset(buffer, 'Z', sizeof buffer);
        EXPECT_STREQ(itoa(c.value, buffer, c.base), c.text);
    }
    EXPECT_EQ(vdk::IntToString(INT_MIN), "-2147483648");
    EXPECT_EQ(vdk::IntToString(0), "0");
}

TEST(StringUtilsTest, WipeMemoryLeavesAA)
{
    unsigned char bytes[37];
    std::memset(bytes, 0x11, sizeof bytes);
    vdk::WipeMemory(bytes, sizeof bytes);
    for (unsigned char b : bytes)
        ASSERT_EQ(b, 0xAA);
}

TEST(StringUtilsTest, TimeConversions)
{
    const struct tm utc = vdk::GmTime(86400L * 365 + 3661);  // 1971-01-01 01:01:01
    EXPECT_EQ(utc.tm_year, 71);
    EXPECT_EQ(utc.tm_yday, 0);
    EXPECT_EQ(utc.tm_hour, 1);
    EXPECT_EQ(utc.tm_sec, 1);
    char text[26];
    ASSERT_NE(vdk::CTime(0, text), nullptr);
    EXPECT_EQ(std::strlen(text), 25u);
    EXPECT_EQ(text[24], '\n');
    const struct tm local = vdk::LocalTime(0);
    EXPECT_TRUE(local.tm_year == 70 || local.tm_year == 69);
}

TEST(StringUtilsTest, PrintableText)
{
    EXPECT_TRUE(vdk::IsStringPrintable("Hello, world ~"));
    EXPECT_FALSE(vdk::IsStringPrintable(""));
    EXPECT_FALSE(vdk::IsStringPrintable("tab\there"));
    EXPECT_FALSE(vdk::IsStringPrintable(std::string("a\0b", 3)));
    EXPECT_FALSE(vdk::IsStringPrintable("\xC0"));

    const uint8_t text[] = {'o', 'k'};
    const uint8_t binary[] = {'o', 0x00};
    EXPECT_TRUE(vdk::IsBufferPrintable(tru::Buffer(text, 2)));
    EXPECT_FALSE(vdk::IsBufferPrintable(tru::Buffer(binary, 2)));
    EXPECT_FALSE(vdk::IsBufferPrintable(tru::Buffer()));
}

}  // namespace

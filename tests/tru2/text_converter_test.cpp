#include "tru2/text_converter.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <clocale>
#include <cstring>
#include <thread>
#include <vector>

#include "tru2/buffer.h"
#include "tru2/exception.h"

namespace {

using tru::TextConverter;

TEST(TextConverterTest, Win1251TableMatchesTheSystemCodec)
{
    iconv_t cd = iconv_open("UCS-4LE", "CP1251");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (unsigned b = 0; b < 256; ++b) {
        if (b == 0x98) {
            EXPECT_EQ(TextConverter::ciCWin1251[b], 0x98u);
            continue;
        }
        char in[1] = {static_cast<char>(b)};
        unsigned char out[4] = {};
        char* inPtr = in;
        char* outPtr = reinterpret_cast<char*>(out);
        size_t inLeft = 1, outLeft = 4;
        ASSERT_NE(iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1)) << b;
        const uint32_t expected = out[0] | out[1] << 8 | out[2] << 16 | uint32_t(out[3]) << 24;
        EXPECT_EQ(TextConverter::ciCWin1251[b], expected) << "byte " << b;
    }
    iconv_close(cd);
}

TEST(TextConverterTest, SingleByteToWideAndBack)
{
    struct Case { unsigned char byte; wchar_t wide; } cases[] = {
        {0xC0, 0x0410}, {0xA8, 0x0401}, {0x98, 0x0098}, {0x41, 0x0041}, {0x88, 0x20AC}, {0xFF, 0x044F},
    };
    for (const auto& c : cases) {
        const char text[2] = {static_cast<char>(c.byte), 0};
        std::wstring wide;
        ASSERT_EQ(TextConverter::EASCIIToWChar(text, wide), tru::SUCCESS);
        EXPECT_EQ(wide, std::wstring(1, c.wide)) << int(c.byte);
        std::u16string ucs2;
        ASSERT_EQ(TextConverter::EASCIIToUCS2(text, ucs2), tru::SUCCESS);
        EXPECT_EQ(ucs2, std::u16string(1, static_cast<char16_t>(c.wide)));
        std::string back;
        ASSERT_EQ(TextConverter::WCharToEASCII(wide.c_str(), back), tru::SUCCESS);
        EXPECT_EQ(back, std::string(text));
        const unsigned short units[2] = {static_cast<unsigned short>(c.wide), 0};
        ASSERT_EQ(TextConverter::UCS2ToEASCII(units, back), tru::SUCCESS);
        EXPECT_EQ(back, std::string(text));
    }
    const wchar_t missing[2] = {0x4E00, 0};
    std::string out;
    try {
        TextConverter::WCharToEASCII(missing, out);
        ADD_FAILURE() << "no exception";
    } catch (const tru::Exception& e) {
        EXPECT_EQ(e.GetCode(), tru::NO_UNICODE_TRANSLATION);
    }
}

TEST(TextConverterTest, CountingAndShortOutput)
{
    unsigned int size = 0;
    EXPECT_EQ(TextConverter::EASCIIToWChar("abc", 0, nullptr, size), tru::SUCCESS);
    EXPECT_EQ(size, 16u);
    wchar_t wide[4];
    size = 15;
    EXPECT_EQ(TextConverter::EASCIIToWChar("abc", 0, wide, size), tru::ERROR_SIZE);
    EXPECT_EQ(size, 16u);
    size = 16;
    EXPECT_EQ(TextConverter::EASCIIToWChar("abc", 0, wide, size), tru::SUCCESS);
    EXPECT_EQ(std::wstring(wide), L"abc");

    // An explicit length converts zero bytes inside like any other.
    unsigned short units[4];
    size = sizeof units;
    EXPECT_EQ(TextConverter::EASCIIToUCS2("a\0b", 3, units, size), tru::SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(units[1], 0);
    EXPECT_EQ(units[2], 'b');

    const wchar_t text[] = L"xyz";
    size = 0;
    EXPECT_EQ(TextConverter::WCharToEASCII(text, 0, nullptr, size), tru::SUCCESS);
    EXPECT_EQ(size, 4u);
    char narrow[4];
    size = 3;
    EXPECT_EQ(TextConverter::WCharToEASCII(text, 0, narrow, size), tru::ERROR_SIZE);
    EXPECT_EQ(size, 4u);
    size = 2;  // explicit length: two characters in 8 bytes, needs 3
    EXPECT_EQ(TextConverter::WCharToEASCII(text, 8, narrow, size), tru::ERROR_SIZE);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(TextConverter::WCharToEASCII(text, 8, narrow, size), tru::SUCCESS);
    EXPECT_STREQ(narrow, "xy");

    size = 99;
    EXPECT_EQ(TextConverter::EASCIIToWChar(nullptr, 0, wide, size), tru::SUCCESS);
    EXPECT_EQ(size, 0u);
}

TEST(TextConverterTest, ConvertBetweenBuffers)
{
    const char cp[] = {'\xC0', 'A'};
    tru::BufferDynamic ucs2;
    ASSERT_EQ(TextConverter::Convert(TextConverter::eToUCS2, tru::Buffer(cp, 2), ucs2, nullptr), tru::SUCCESS);
    EXPECT_EQ(ucs2.ToHex(), "10044100" "0000");
    tru::BufferDynamic back;
    ASSERT_EQ(TextConverter::Convert(TextConverter::eFromUCS2, tru::Buffer(ucs2.Data(), 4), back, nullptr), tru::SUCCESS);
    EXPECT_EQ(back.ToHex(), "C04100");
    unsigned int size = 0;
    EXPECT_EQ(TextConverter::Convert(static_cast<TextConverter::EDirection>(2), cp, 2, nullptr, size, nullptr),
              tru::ERROR_INTERNAL);
    EXPECT_EQ(TextConverter::UCS2ToASCIIWithSystemLocale(ucs2.Data(), 4, nullptr, size), tru::SUCCESS);
    EXPECT_EQ(size, 3u);
}

TEST(TextConverterTest, IconvConversions)
{
    const unsigned char ucs2[] = {0x10, 0x04, 0x41, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::wstring wide;
    ASSERT_EQ(TextConverter::UCS2ToWChar(ucs2, sizeof ucs2, wide), tru::SUCCESS);
    EXPECT_EQ(wide, std::wstring(L"\x0410" L"A")) << "trailing zero characters dropped";
    ASSERT_EQ(TextConverter::UCS2ToWChar(ucs2, 0, wide), tru::SUCCESS);
    EXPECT_EQ(wide, L"");
    const unsigned char zeros[] = {0, 0, 0, 0};
    ASSERT_EQ(TextConverter::UCS2ToWChar(zeros, 4, wide), tru::SUCCESS);
    EXPECT_EQ(wide.size(), 1u) << "one character kept";
    const unsigned char odd[] = {0x41};
    EXPECT_EQ(TextConverter::UCS2ToWChar(odd, 1, wide), tru::NO_UNICODE_TRANSLATION);

    unsigned int size = 0;
    EXPECT_EQ(TextConverter::WCharToUCS2(L"\x0410" L"A", nullptr, size), tru::SUCCESS);
    EXPECT_EQ(size, 6u);
    unsigned short units[3];
    size = 5;
    EXPECT_EQ(TextConverter::WCharToUCS2(L"\x0410" L"A", units, size), tru::ERROR_SIZE);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(TextConverter::WCharToUCS2(L"\x0410" L"A", units, size), tru::SUCCESS);
    EXPECT_EQ(units[0], 0x0410);
    EXPECT_EQ(units[2], 0);
    const wchar_t beyond[] = {0x1F600, 0};
    EXPECT_EQ(TextConverter::WCharToUCS2(beyond, units, size), tru::NO_UNICODE_TRANSLATION);

    const char utf8[] = "\xD0\x90z";
    ASSERT_EQ(TextConverter::UTF8ToWChar(utf8, 3, wide), tru::SUCCESS);
    EXPECT_EQ(wide, std::wstring(L"\x0410z"));
    EXPECT_EQ(TextConverter::UTF8ToWChar("\xFF", 1, wide), tru::NO_UNICODE_TRANSLATION);
    tru::BufferDynamic encoded;
    ASSERT_EQ(TextConverter::WCharToUTF8(L"\x0410z", encoded), tru::SUCCESS);
    EXPECT_EQ(encoded.ToHex(), "D0907A");

    std::string untouched = "keep";
    EXPECT_EQ(TextConverter::UTF8ToSystemLocale(utf8, 3, untouched), tru::ERROR_NOT_IMPLEMENTED);
    EXPECT_EQ(untouched, "keep");
}

TEST(TextConverterTest, SystemLocaleConversionsFollowTheLocale)
{
    std::wstring wide;
    ASSERT_EQ(TextConverter::ASCIIToWCharWithSystemLocale("plain", wide), tru::SUCCESS);
    EXPECT_EQ(wide, L"plain");
    EXPECT_EQ(TextConverter::WCharToASCIIWithSystemLocale(L"plain"), "plain");
    const uint8_t bytes[] = {0x0A, 0xFF};
    EXPECT_EQ(tru::ToHexW(tru::Buffer(bytes, 2)), L"0AFF");

    // In the C locale a Cyrillic letter has no narrow form; in a UTF-8 locale it takes two bytes.
    EXPECT_THROW(TextConverter::WCharToASCIIWithSystemLocale(L"\x0410"), tru::Exception);
    const std::string old = setlocale(LC_ALL, nullptr);
    if (setlocale(LC_ALL, "C.UTF-8")) {
        EXPECT_EQ(TextConverter::WCharToASCIIWithSystemLocale(L"\x0410\x0411"), "\xD0\x90\xD0\x91");
        ASSERT_EQ(TextConverter::ASCIIToWCharWithSystemLocale("\xD0\x90", wide), tru::SUCCESS);
        EXPECT_EQ(wide, std::wstring(L"\x0410"));
    }
    setlocale(LC_ALL, old.c_str());
}

TEST(TextConverterTest, TrimOnlyBlanks)
{
    EXPECT_EQ(TextConverter::Trim(" ab "), "ab");
    EXPECT_EQ(TextConverter::Trim("ab \t"), "ab \t");
    EXPECT_EQ(TextConverter::Trim("   "), "");
    EXPECT_EQ(TextConverter::Trim("\tx"), "\tx");
}

TEST(TextConverterTest, FirstReverseLookupIsSafeFromManyThreads)
{
    TextConverter::LocaleInfo page(TextConverter::ciCWin1251);
    std::vector<std::thread> threads;
    std::vector<int> results(8, -1);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&page, &results, i] { results[i] = page.GetChar(wchar_t(0x0410)); });
    for (auto& t : threads)
        t.join();
    for (int r : results)
        EXPECT_EQ(r, 0xC0);
}

}  // namespace

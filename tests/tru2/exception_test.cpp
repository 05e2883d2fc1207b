#include <gtest/gtest.h>

#include "support/vdk_exception.h"
#include "tru2/exception.h"

namespace {

struct CodeCase {
    tru::TResult code;
    const char* message;
};

// Named codes give their mnemonic; anything else (including PC/SC numbers and
// values beyond 32 bits) gives "Unknown error".
const CodeCase kCodeCases[] = {
    {tru::SUCCESS, "SUCCESS"},
    {tru::ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
    {tru::ERROR_DATA, "ERROR_DATA"},
    {tru::ERROR_WRITE, "ERROR_WRITE"},
    {tru::ERROR_READ, "ERROR_READ"},
    {tru::ERROR_PASSWORD, "ERROR_PASSWORD"},
    {tru::ERROR_PARAM, "ERROR_PARAM"},
    {tru::ERROR_FILE_OPEN, "ERROR_FILE_OPEN"},
    {122, "ERROR_SIZE"},
    {1113, "NO_UNICODE_TRANSLATION"},
    {1117, "ERROR_IO"},
    {1639, "INVALID_COMMAND_LINE"},
    {0x80004001, "ERROR_NOT_IMPLEMENTED"},
    {0x8009000E, "ERROR_MEM"},
    {0x80090011, "ERROR_ITEM_NOT_FOUND"},
    {0x80090020, "ERROR_INTERNAL"},
    {5, "Unknown error"},
    {0x80100069, "Unknown error"},
    {0x100000000ul, "Unknown error"},
};

TEST(ResultCodeTest, ExceptionFromCodeCarriesMnemonic)
{
    for (const CodeCase& c : kCodeCases) {
        tru::Exception e(c.code);
        EXPECT_STREQ(c.message, e.what()) << std::hex << c.code;
        EXPECT_EQ(c.code & 0xFFFFFFFFul, e.GetCode());
        EXPECT_STREQ(L"", e.whatW());
    }
    EXPECT_EQ("", tru::Exception::TResultToMnemonicStr(5));
}

TEST(ResultCodeTest, ExplicitMessageReplacesMnemonic)
{
    tru::Exception empty(tru::ERROR_SIZE, "");
    EXPECT_STREQ("", empty.what());
    EXPECT_EQ(tru::ERROR_SIZE, empty.GetCode());
    EXPECT_STREQ(L"", empty.whatW());

    tru::Exception text(tru::ERROR_DATA, "bad answer");
    EXPECT_STREQ("bad answer", text.what());
}

TEST(ResultCodeTest, GetResultStringAIgnoresTable)
{
    EXPECT_EQ("Unknown error (0x00000000)", tru::Exception::GetResultStringA(0));
    EXPECT_EQ("Unknown error (0x8009000e)", tru::Exception::GetResultStringA(0x8009000E));
}

struct NarrowCase {
    uint32_t size;
    bool toUShortFits;
    bool toIntFits;
};

TEST(NarrowingTest, LimitsAndMessages)
{
    const NarrowCase cases[] = {
        {0, true, true},
        {65535, true, true},
        {65536, false, true},
        {0x7FFFFFFF, false, true},
        {0x80000000, false, false},
        {0xFFFFFFFF, false, false},
    };
    for (const NarrowCase& c : cases) {
        if (c.toUShortFits) {
            EXPECT_EQ(c.size, vdk::SizeToUShortDynamic(c.size));
        } else {
            try {
                vdk::SizeToUShortDynamic(c.size);
                ADD_FAILURE() << c.size;
            } catch (const vdk::Exception& e) {
                EXPECT_EQ("Size " + std::to_string(c.size) + " too big for unsigned short",
                          e.what());
            }
        }
        if (c.toIntFits) {
            EXPECT_EQ(static_cast<int64_t>(c.size), vdk::SizeToIntDynamic(c.size));
        } else {
            try {
                vdk::SizeToIntDynamic(c.size);
                ADD_FAILURE() << c.size;
            } catch (const vdk::Exception& e) {
                EXPECT_EQ("Size " + std::to_string(c.size) + " too big for int", e.what());
            }
        }
    }
}

TEST(VdkExceptionTest, FileExceptionCaughtAsBase)
{
    try {
        throw vdk::FileException("cannot open x");
    } catch (const vdk::Exception& e) {
        EXPECT_STREQ("cannot open x", e.what());
    }
}

}  // namespace

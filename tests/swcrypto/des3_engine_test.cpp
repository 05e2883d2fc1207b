#include "swcrypto/des3_engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "swcrypto_test_util.h"

namespace {

using swtest::CodeOf;
using swtest::Hex;

TEST(Des3Utl, PreparePadding)
{
    struct Case {
        uint32_t length;
        std::string pad;
    };
    for (const Case& c : {Case{16, "0808080808080808"}, Case{13, "030303"}, Case{7, "01"}, Case{0, "0808080808080808"}}) {
        unsigned char out[8] = {};
        const uint32_t pad = mbt::TokDES3Utl::PreparePadding(out, c.length);
        EXPECT_EQ(Hex(out, pad), c.pad) << c.length;
    }
}

TEST(Des3Utl, ExtractPadding)
{
    struct Case {
        const char* block;
        CK_RV rv;
        uint32_t pad;
        const char* after;
    };
    const Case cases[] = {
        {"1122330505050505", CKR_OK, 5, "1122330000000000"},
        {"0808080808080808", CKR_OK, 8, "0000000000000000"},
        {"1122334455667701", CKR_OK, 1, "1122334455667700"},
        {"1122334455667700", CKR_ENCRYPTED_DATA_INVALID, 0, nullptr},
        {"1122334455667709", CKR_ENCRYPTED_DATA_INVALID, 0, nullptr},
        {"1122334404040304", CKR_ENCRYPTED_DATA_INVALID, 0, nullptr},
        {"FF07070707070707", CKR_OK, 7, "FF00000000000000"},
        {"0707070707070707", CKR_OK, 7, "0700000000000000"},
    };
    for (const Case& c : cases) {
        tru::BufferDynamic block = swtest::FromHex(c.block);
        uint32_t pad = 0;
        EXPECT_EQ(CodeOf([&] { pad = mbt::TokDES3Utl::ExtractPadding(block.Data()); }), c.rv) << c.block;
        if (c.rv != CKR_OK) continue;
        EXPECT_EQ(pad, c.pad) << c.block;
        EXPECT_EQ(Hex(block), c.after) << c.block;
    }
}

TEST(Des3Utl, CorrectKeyValue)
{
    tru::BufferDynamic zeros(24);
    std::memset(zeros.Data(), 0, 24);
    EXPECT_FALSE(mbt::TokDES3Utl::IsKeyValueCorrect(zeros));
    EXPECT_TRUE(mbt::TokDES3Utl::CorrectKeyValue(zeros));
    EXPECT_EQ(Hex(zeros), "010101010101010101010101010101010101010101010101");
    EXPECT_FALSE(mbt::TokDES3Utl::CorrectKeyValue(zeros));
    EXPECT_TRUE(mbt::TokDES3Utl::IsKeyValueCorrect(zeros));
    tru::BufferDynamic shortKey(16);
    EXPECT_EQ(CodeOf([&] { mbt::TokDES3Utl::CorrectKeyValue(shortKey); }), CKR_KEY_SIZE_RANGE);
}

TEST(Des3Encryptor, ChainsAcrossCallsAndRefusesPartialBlocks)
{
    const tru::BufferDynamic key = swtest::FromHex("0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123");
    const tru::BufferDynamic iv = swtest::FromHex("1234567890ABCDEF");
    const tru::BufferDynamic data = swtest::FromHex("4E6F77206973207468652074696D6520");
    unsigned char once[16], twice[16];
    mbt::TokDES3CbcEncryptor a, b;
    a.StartEncr(key, iv);
    a.ProcessBlock(data, once);
    b.StartEncr(key, iv);
    b.ProcessBlock(tru::Buffer(data.Data(), 8), twice);
    b.ProcessBlock(tru::Buffer(data.Data() + 8, 8), twice + 8);
    EXPECT_EQ(Hex(once, 16), Hex(twice, 16));
    EXPECT_EQ(CodeOf([&] { a.ProcessBlock(tru::Buffer(data.Data(), 12), once); }), CKR_FUNCTION_FAILED);
    // Decrypting in place gives the data back.
    mbt::TokDES3CbcEncryptor d;
    d.StartDecr(key, iv);
    d.ProcessBlock(tru::Buffer(once, 16), once);
    EXPECT_EQ(Hex(once, 16), Hex(data));

    mbt::TokDES3CbcEncryptor bad;
    EXPECT_EQ(CodeOf([&] { bad.ProcessBlock(data, once); }), CKR_FUNCTION_FAILED);
    EXPECT_EQ(CodeOf([&] { bad.StartEncr(key, tru::Buffer(iv.Data(), 7)); }), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(CodeOf([&] { bad.StartEncr(tru::Buffer(key.Data(), 16), iv); }), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(CodeOf([&] { bad.ProcessBlock(data, once); }), CKR_FUNCTION_FAILED);
}

}  // namespace

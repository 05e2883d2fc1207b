#include "swcrypto/sha_hashers.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>
#include <mbedtls/sha512.h>

#include "swcrypto_test_util.h"

namespace {

using swtest::CodeOf;
using swtest::Hex;
using swtest::Text;

std::unique_ptr<mbt::AHasher> Make(const std::string& name)
{
    if (name == "SHA1") return std::make_unique<mbt::TokSha1Hasher>();
    if (name == "SHA224" || name == "SHA256") return std::make_unique<mbt::TokSha256Hasher>(name.c_str());
    return std::make_unique<mbt::TokSha512Hasher>(name.c_str());
}

std::string DigestOf(mbt::AHasher& hasher, const std::string& message)
{
    std::vector<unsigned char> out(hasher.GetResultSize());
    hasher.Start();
    hasher.Update(Text(message));
    hasher.Finish(out.data());
    return Hex(out.data(), out.size());
}

const std::string kTwoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

// FIPS 180-2 examples (appendices A to C of each algorithm) and the empty message.
struct Vector {
    const char* name;
    std::string message;
    const char* digest;
};
const Vector kVectors[] = {
    {"SHA1", "", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
    {"SHA1", "abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
    {"SHA1", kTwoBlocks, "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
    {"SHA224", "", "D14A028C2A3A2BC9476102BB288234C415A2B01F828EA62AC5B3E42F"},
    {"SHA224", "abc", "23097D223405D8228642A477BDA255B32AADBCE4BDA0B3F7E36C9DA7"},
    {"SHA224", kTwoBlocks, "75388B16512776CC5DBA5DA1FD890150B0C6455CB4F58B1952522525"},
    {"SHA256", "", "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
    {"SHA256", "abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
    {"SHA256", kTwoBlocks, "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
    {"SHA384", "",
     "38B060A751AC96384CD9327EB1B1E36A21FDB71114BE07434C0CC7BF63F6E1DA274EDEBFE76F65FBD51AD2F14898B95B"},
    {"SHA384", "abc",
     "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7"},
    {"SHA384", kTwoBlocks,
     "3391FDDDFC8DC7393707A65B1B4709397CF8B1D162AF05ABFE8F450DE5F36BC6B0455A8520BC4E6F5FE95B1FE3C8452B"},
    {"SHA512", "",
     "CF83E1357EEFB8BDF1542850D66D8007D620E4050B5715DC83F4A921D36CE9CE47D0D13C5D85F2B0FF8318D2877EEC2F63B931BD47"
     "417A81A538327AF927DA3E"},
    {"SHA512", "abc",
     "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23A3FEEBBD454D4423"
     "643CE80E2A9AC94FA54CA49F"},
    {"SHA512", kTwoBlocks,
     "204A8FC6DDA82F0A0CED7BEB8E08A41657C16EF468B228A8279BE331A703C33596FD15C13B1B07F9AA1D3BEA57789CA031AD85C7"
     "A71DD70354EC631238CA3445"},
};

TEST(ShaHashers, FipsVectorsInOnePartAndBytewise)
{
    for (const Vector& v : kVectors) {
        auto hasher = Make(v.name);
        EXPECT_EQ(DigestOf(*hasher, v.message), v.digest) << v.name << " '" << v.message << "'";
        // The same message a byte at a time, on the same calculator after a Reset.
        hasher->Reset();
        hasher->Start();
        for (char c : v.message) hasher->Update(Text(std::string(1, c)));
        tru::BufferDynamic out(hasher->GetResultSize());
        hasher->Finish(out);
        EXPECT_EQ(Hex(out), v.digest) << v.name << " bytewise";
    }
}

TEST(ShaHashers, ResultSizesAndNames)
{
    struct Case {
        const char* name;
        uint32_t size;
    };
    for (const Case& c : {Case{"SHA1", 20}, Case{"SHA224", 28}, Case{"SHA256", 32}, Case{"SHA384", 48},
                          Case{"SHA512", 64}}) {
        EXPECT_EQ(Make(c.name)->GetResultSize(), c.size) << c.name;
    }
    // Names are exact: hyphen, case, or the other family's names are refused.
    for (const char* wrong : {"SHA-256", "sha256", "SHA512", "SHA1", ""}) {
        mbt::TokSha256Hasher hasher(wrong);
        EXPECT_EQ(hasher.GetResultSize(), 0u) << wrong;
        EXPECT_EQ(CodeOf([&] { hasher.Start(); }), CKR_MECHANISM_INVALID) << wrong;
        tru::BufferDynamic out(32);
        EXPECT_EQ(CodeOf([&] { hasher.Finish(out); }), CKR_GENERAL_ERROR) << wrong;
    }
    mbt::TokSha512Hasher sha256InWrongFamily("SHA256");
    EXPECT_EQ(CodeOf([&] { sha256InWrongFamily.Start(); }), CKR_MECHANISM_INVALID);
}

TEST(ShaHashers, FinishIntoBufferNeedsTheExactSize)
{
    mbt::TokSha256Hasher sha224("SHA224");
    sha224.Start();
    sha224.Update(Text("abc"));
    tru::BufferDynamic wide(32);
    EXPECT_EQ(CodeOf([&] { sha224.Finish(wide); }), CKR_GENERAL_ERROR);
    // The refused call did not finish the digest.
    tru::BufferDynamic exact(28);
    sha224.Finish(exact);
    EXPECT_EQ(Hex(exact), "23097D223405D8228642A477BDA255B32AADBCE4BDA0B3F7E36C9DA7");
}

TEST(ShaHashers, StartRestartsAndResetKeepsWorking)
{
    mbt::TokSha1Hasher sha1;
    sha1.Start();
    sha1.Update(Text("abc"));
    EXPECT_EQ(DigestOf(sha1, "abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    sha1.Reset();
    sha1.Reset();
    EXPECT_EQ(DigestOf(sha1, "abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST(ShaHashers, CallsBeforeStartAreRefused)
{
    mbt::TokSha1Hasher sha1;
    unsigned char out[20];
    EXPECT_EQ(CodeOf([&] { sha1.Update(Text("abc")); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(CodeOf([&] { sha1.Finish(out); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(CodeOf([&] { sha1.GetContext(); }), CKR_GENERAL_ERROR);
    sha1.Start();
    sha1.Reset();
    EXPECT_EQ(CodeOf([&] { sha1.Update(Text("abc")); }), CKR_GENERAL_ERROR);
}

TEST(ShaHashers, ContextIsThePlatformStateAndRestores)
{
    struct Case {
        const char* name;
        size_t size;
    };
    for (const Case& c : {Case{"SHA1", sizeof(mbedtls_sha1_context)}, Case{"SHA224", sizeof(mbedtls_sha256_context)},
                          Case{"SHA256", sizeof(mbedtls_sha256_context)},
                          Case{"SHA384", sizeof(mbedtls_sha512_context)},
                          Case{"SHA512", sizeof(mbedtls_sha512_context)}}) {
        auto first = Make(c.name);
        first->Start();
        first->Update(Text(kTwoBlocks));
        const tru::Buffer state = first->GetContext();
        ASSERT_EQ(state.Size(), c.size) << c.name;
        auto second = Make(c.name);
        second->Start();
        second->Update(Text("something else"));
        tru::Buffer target = second->GetContext();
        ASSERT_EQ(target.Set(state.Size(), state.Data()), tru::SUCCESS);
        first->Update(Text("tail"));
        second->Update(Text("tail"));
        tru::BufferDynamic a(first->GetResultSize()), b(second->GetResultSize());
        first->Finish(a);
        second->Finish(b);
        EXPECT_EQ(Hex(a), Hex(b)) << c.name;
    }
}

TEST(ShaHashers, HmacSha1Rfc2202)
{
    mbt::TokSha1HMacCalc hmac;
    EXPECT_EQ(hmac.GetResultSize(), 20u);
    EXPECT_EQ(CodeOf([&] { hmac.Start(); }), CKR_GENERAL_ERROR);
    // RFC 2202 test case 2.
    hmac.Start(Text("Jefe"));
    hmac.Update(Text("what do ya want for nothing?"));
    tru::BufferDynamic shortOut(19);
    EXPECT_EQ(CodeOf([&] { hmac.Finish(shortOut); }), CKR_GENERAL_ERROR);
    tru::BufferDynamic out(20);
    hmac.Finish(out);
    EXPECT_EQ(Hex(out), "EFFCDF6AE5EB2FA2D27416D5F184DF9C259A7C79");
}

}  // namespace

namespace {

TEST(ShaHashers, RestoreRefusesAStateOfAnotherSizeOrLength)
{
    mbt::TokSha256Hasher sha256("SHA256");
    sha256.Start();
    const tru::BufferDynamic saved(sha256.GetContext());
    mbt::TokSha256Hasher sha224("SHA224");
    sha224.Start();
    const tru::BufferDynamic saved224(sha224.GetContext());
    // A SHA-256 state would make a SHA-224 calculator write 32 bytes: refused both ways.
    EXPECT_EQ(CodeOf([&] { sha224.RestoreContext(saved); }), CKR_SAVED_STATE_INVALID);
    EXPECT_EQ(CodeOf([&] { sha256.RestoreContext(saved224); }), CKR_SAVED_STATE_INVALID);
    mbt::TokSha512Hasher sha384("SHA384");
    sha384.Start();
    mbt::TokSha512Hasher sha512("SHA512");
    sha512.Start();
    const tru::BufferDynamic saved512(sha512.GetContext());
    EXPECT_EQ(CodeOf([&] { sha384.RestoreContext(saved512); }), CKR_SAVED_STATE_INVALID);
    const tru::Buffer shorter(saved.Data(), saved.Size() - 1);
    EXPECT_EQ(CodeOf([&] { sha256.RestoreContext(shorter); }), CKR_SAVED_STATE_INVALID);
    sha256.RestoreContext(saved);
    tru::BufferDynamic out(32);
    sha256.Finish(out);
    EXPECT_EQ(Hex(out), "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
}

}  // namespace

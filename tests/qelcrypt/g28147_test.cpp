#include "gost_test_util.h"

#include <gtest/gtest.h>

using gost_test::Hex;
using gost_test::ToHex;

namespace {

// Reference answers of the token library for DKE1 and the key 00 01 02 .. 1F.
const char* const kPlain = "0001020304050607 F1F2F3F4F5F6F7F8";
const char* const kEcbCipher = "E393A17DF2B6DE6F2086D8230C277432";
const char* const kCfbIv = "F1F2F3F4F5F6F7F8";
const char* const kCfbCipher = "2087DA2008227235A919D76142E8CE65";

class G28147Test : public ::testing::Test, protected gost_test::Dke1Key {
protected:
    std::vector<uint8_t> Ecb(int direction, std::vector<uint8_t> data)
    {
        g28147_ecb_ctx ctx;
        g28147_ecb_init_ext(&ctx, direction, key, kext.data());
        g28147_ecb_update(&ctx, data.data(), data.data(), uint32_t(data.size()));
        return data;
    }

    // CFB over data cut into the given pieces (the last piece may end in a partial block).
    std::vector<uint8_t> Cfb(int direction, const std::vector<uint8_t>& data, std::vector<size_t> pieces = {})
    {
        const std::vector<uint8_t> ivBytes = Hex(kCfbIv);
        uint32_t iv[2];
        std::memcpy(iv, ivBytes.data(), 8);
        g28147_cfb_ctx ctx;
        g28147_cfb_init_ext(&ctx, direction, key, iv, kext.data());
        return Feed(data, pieces, [&](const uint8_t* in, uint8_t* out, uint32_t n) { g28147_cfb_update(&ctx, in, out, n); });
    }

    std::vector<uint8_t> Ofb(const std::vector<uint8_t>& data, std::vector<size_t> pieces = {})
    {
        const uint32_t iv[2] = {0x12345678, 0x9ABCDEF0};
        g28147_ofb_ctx ctx;
        g28147_ofb_init_ext(&ctx, key, iv, kext.data());
        return Feed(data, pieces, [&](const uint8_t* in, uint8_t* out, uint32_t n) { g28147_ofb_update(&ctx, in, out, n); });
    }

    // The MAC over data fed in pieces; returns false when the routine refuses to give one.
    bool Mac(const std::vector<uint8_t>& data, std::vector<size_t> pieces, uint32_t* mac)
    {
        g28147_hmac_ctx ctx;
        g28147_hmac_init_ext(&ctx, key, kext.data());
        std::vector<uint8_t> ignored(data.size());
        Feed(data, pieces, [&](const uint8_t* in, uint8_t*, uint32_t n) { g28147_hmac_update(&ctx, in, n); });
        return g28147_hmac_final(&ctx, mac) != 0;
    }

    template <typename F>
    static std::vector<uint8_t> Feed(const std::vector<uint8_t>& data, std::vector<size_t> pieces, F step)
    {
        if (pieces.empty()) pieces.push_back(data.size());
        std::vector<uint8_t> out(data.size() + 1);
        size_t off = 0;
        for (size_t n : pieces) {
            step(data.data() + off, out.data() + off, uint32_t(n));
            off += n;
        }
        out.resize(data.size());
        return out;
    }
};

TEST_F(G28147Test, EcbKnownAnswerAndRoundTrip)
{
    const auto cipher = Ecb(1, Hex(kPlain));
    EXPECT_EQ(ToHex(cipher), kEcbCipher);
    EXPECT_EQ(ToHex(Ecb(0, cipher)), ToHex(Hex(kPlain)));
    // Blocks are independent: the second block alone gives the second half.
    const std::vector<uint8_t> plain = Hex(kPlain);
    const std::vector<uint8_t> second(plain.begin() + 8, plain.end());
    EXPECT_EQ(ToHex(Ecb(1, second)), std::string(kEcbCipher).substr(16));
}

TEST_F(G28147Test, StepsMatchTheEcbCycle)
{
    // The 32-round core on its own gives the ECB result for the encryption order.
    uint32_t k[32];
    for (unsigned i = 0; i < 32; ++i) k[i] = key[OrderEncr[i]];
    uint32_t out1 = 0, out2 = 0;
    g28147_32Steps(0x03020100, 0x07060504, k, kext.data(), &out1, &out2);
    uint8_t block[8];
    std::memcpy(block, &out1, 4);
    std::memcpy(block + 4, &out2, 4);
    EXPECT_EQ(ToHex(block, 8), std::string(kEcbCipher).substr(0, 16));
}

TEST_F(G28147Test, CfbKnownAnswerAndRoundTrip)
{
    const auto cipher = Cfb(1, Hex(kPlain));
    EXPECT_EQ(ToHex(cipher), kCfbCipher);
    EXPECT_EQ(ToHex(Cfb(0, cipher)), ToHex(Hex(kPlain)));
    // Whole blocks in separate calls continue the feedback chain.
    EXPECT_EQ(ToHex(Cfb(1, Hex(kPlain), {8, 8})), kCfbCipher);
    EXPECT_EQ(ToHex(Cfb(0, cipher, {8, 8})), ToHex(Hex(kPlain)));
}

TEST_F(G28147Test, CfbPartialFinalBlockIsAPrefixOfThePaddedEncryption)
{
    std::vector<uint8_t> plain(13);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(0xA0 + i);
    std::vector<uint8_t> padded = plain;
    padded.resize(16, 0x5C);
    const auto short_cipher = Cfb(1, plain);
    const auto long_cipher = Cfb(1, padded);
    EXPECT_EQ(ToHex(short_cipher), ToHex(long_cipher.data(), 13));
    EXPECT_EQ(ToHex(Cfb(0, short_cipher)), ToHex(plain));
    // Whole blocks first, the partial block in a last call.
    EXPECT_EQ(ToHex(Cfb(1, plain, {8, 5})), ToHex(short_cipher));
    EXPECT_EQ(ToHex(Cfb(0, short_cipher, {8, 5})), ToHex(plain));
}

TEST_F(G28147Test, CounterModeSplitAtAnyLengthGivesTheSameStream)
{
    std::vector<uint8_t> plain(40);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 7 + 1);
    const auto whole = Ofb(plain);
    for (size_t first = 0; first <= plain.size(); ++first) {
        for (size_t second = 0; first + second <= plain.size(); second += 3) {
            const auto split = Ofb(plain, {first, second, plain.size() - first - second});
            ASSERT_EQ(ToHex(split), ToHex(whole)) << "split " << first << "+" << second;
        }
    }
    EXPECT_EQ(ToHex(Ofb(whole)), ToHex(plain));  // the same call decrypts
}

TEST_F(G28147Test, CounterModeFirstGammaIsTheEncryptedIvAdvancedOnce)
{
    const uint32_t iv[2] = {0x12345678, 0x9ABCDEF0};
    uint32_t k[32];
    for (unsigned i = 0; i < 32; ++i) k[i] = key[XOrderOfb[i]];
    uint32_t n1, n2, g1, g2;
    g28147_32Steps(iv[0], iv[1], k, kext.data(), &n1, &n2);
    g28147_32Steps(n1 + 0x01010101, n2 + 0x01010104, k, kext.data(), &g1, &g2);
    uint8_t gamma[8];
    std::memcpy(gamma, &g1, 4);
    std::memcpy(gamma + 4, &g2, 4);
    EXPECT_EQ(ToHex(Ofb(std::vector<uint8_t>(8, 0))), ToHex(gamma, 8));
}

// Known answers of an independent implementation (DKE1, key 00..1F, data bytes i*7+3).
TEST_F(G28147Test, CounterAndMacKnownAnswers)
{
    std::vector<uint8_t> data(100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 3);
    const std::vector<uint8_t> ivBytes = Hex("F1F2F3F4F5F6F7F8");
    uint32_t iv[2];
    std::memcpy(iv, ivBytes.data(), 8);
    const std::vector<uint8_t> twenty(data.begin(), data.begin() + 20);
    for (const std::vector<size_t>& pieces : {std::vector<size_t>{20}, {3, 13, 4}}) {
        g28147_ofb_ctx ctx;
        g28147_ofb_init_ext(&ctx, key, iv, kext.data());
        EXPECT_EQ(ToHex(Feed(twenty, pieces, [&](const uint8_t* in, uint8_t* out, uint32_t n) {
                      g28147_ofb_update(&ctx, in, out, n);
                  })),
                  "56BA5F53079EBDC4DE8A9D4E56585F75088D993D")
            << pieces.size() << " pieces";
    }

    const struct {
        size_t length;
        const char* mac;
    } macs[] = {{16, "4B1B8C1D"}, {20, "7E15D691"}, {100, "E9F0F54A"}};
    for (const auto& c : macs) {
        uint32_t mac = 0;
        ASSERT_TRUE(Mac(std::vector<uint8_t>(data.begin(), data.begin() + c.length), {}, &mac));
        uint8_t bytes[4];
        for (unsigned i = 0; i < 4; ++i) bytes[i] = uint8_t(mac >> (8 * i));
        EXPECT_EQ(ToHex(bytes, 4), c.mac) << c.length << " bytes";
    }
}

TEST_F(G28147Test, CounterStepAddsModulo2To32Minus1)
{
    struct Case {
        uint32_t n2, advanced;
    } const cases[] = {
        {0x00000000, 0x01010104}, {0xFEFEFEFB, 0xFFFFFFFF}, {0xFEFEFEFC, 0x00000001}, {0xFFFFFFFF, 0x01010104},
    };
    for (const Case& c : cases) {
        g28147_ofb_ctx ctx;
        const uint32_t iv[2] = {0, 0};
        g28147_ofb_init_ext(&ctx, key, iv, kext.data());
        ctx.N1 = 0xFFFFFFFF;
        ctx.N2 = c.n2;
        uint8_t byte = 0;
        g28147_ofb_update(&ctx, &byte, &byte, 1);
        EXPECT_EQ(ctx.N1, 0x01010100u);
        EXPECT_EQ(ctx.N2, c.advanced) << std::hex << c.n2;
    }
}

TEST_F(G28147Test, MacNeedsAtLeastNineBytesAndIgnoresHowDataIsSplit)
{
    std::vector<uint8_t> data(16);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(0x30 + i);
    uint32_t mac = 0xDEADBEEF;
    EXPECT_FALSE(Mac(std::vector<uint8_t>(data.begin(), data.begin() + 8), {}, &mac));
    EXPECT_EQ(mac, 0xDEADBEEFu) << "nothing is stored on failure";
    EXPECT_FALSE(Mac({}, {}, &mac));

    uint32_t nine = 0;
    ASSERT_TRUE(Mac(std::vector<uint8_t>(data.begin(), data.begin() + 9), {}, &nine));
    // The ninth byte is zero-padded into a second block.
    std::vector<uint8_t> padded(data.begin(), data.begin() + 9);
    padded.resize(16, 0);
    uint32_t padded_mac = 0;
    ASSERT_TRUE(Mac(padded, {}, &padded_mac));
    EXPECT_EQ(nine, padded_mac);

    uint32_t whole = 0, split = 0, bytewise = 0;
    ASSERT_TRUE(Mac(data, {}, &whole));
    ASSERT_TRUE(Mac(data, {3, 5, 8}, &split));
    ASSERT_TRUE(Mac(data, std::vector<size_t>(16, 1), &bytewise));
    EXPECT_EQ(whole, split);
    EXPECT_EQ(whole, bytewise);
    EXPECT_NE(whole, nine);

    // The MAC is N1 after the 16-round cycles over the blocks.
    uint32_t k[16], n1 = 0x33323130, n2 = 0x37363534;
    for (unsigned i = 0; i < 16; ++i) k[i] = key[OrderEnc[i]];
    g28147_16Steps(n1, n2, k, kext.data(), &n1, &n2);
    g28147_16Steps(n1 ^ 0x3B3A3938, n2 ^ 0x3F3E3D3C, k, kext.data(), &n1, &n2);
    EXPECT_EQ(whole, n1);

    g28147_hmac_ctx ctx;
    g28147_hmac_init_ext(&ctx, key, kext.data());
    g28147_hmac_update(&ctx, data.data(), 16);
    EXPECT_EQ(g28147_hmac_final_verify(&ctx, whole), 1);
    g28147_hmac_init_ext(&ctx, key, kext.data());
    g28147_hmac_update(&ctx, data.data(), 16);
    EXPECT_EQ(g28147_hmac_final_verify(&ctx, whole ^ 1), 0);
}

TEST(G28147KExt, RejectsAnEntryOfSixteen)
{
    uint8_t sblock[128] = {0};
    std::vector<uint32_t> kext(G28147_KEXT_WORDS);
    EXPECT_EQ(g28147_make_kext(kext.data(), sblock), kext.data());
    sblock[77] = 0x10;
    EXPECT_EQ(g28147_make_kext(kext.data(), sblock), nullptr);
}

TEST_F(G28147Test, ProgrammingErrorsStopTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    uint8_t buf[16] = {0};
    g28147_ecb_ctx ecb;
    g28147_ecb_init_ext(&ecb, 1, key, kext.data());
    EXPECT_DEATH(g28147_ecb_update(&ecb, buf, buf, 12), "\\(len % 8 \\) == 0");
    EXPECT_DEATH(g28147_ecb_update(&ecb, nullptr, buf, 8), "in == 0");
    g28147_ecb_update(&ecb, nullptr, nullptr, 0);  // nothing to do: no stop
    EXPECT_DEATH(g28147_ecb_init_ext(&ecb, 1, key, nullptr), "KExt != 0");
    g28147_hmac_ctx mac;
    g28147_hmac_init_ext(&mac, key, kext.data());
    EXPECT_DEATH(g28147_hmac_final(&mac, nullptr), "hmac != 0");
    const uint32_t iv[2] = {0, 0};
    g28147_ofb_ctx ofb;
    EXPECT_DEATH(g28147_ofb_init_ext(&ofb, nullptr, iv, kext.data()), "x != 0");
    g28147_ofb_init_ext(&ofb, key, iv, kext.data());
    EXPECT_DEATH(g28147_ofb_update(&ofb, buf, nullptr, 1), "out == 0");
}

} // namespace

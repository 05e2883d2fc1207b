#include "gost_test_util.h"
#include "qelcrypt/gr341194.h"

#include <gtest/gtest.h>

using gost_test::Hex;
using gost_test::ToHex;

namespace {

class Gr341194Test : public ::testing::Test {
protected:
    std::vector<uint32_t> kext = gost_test::MakeKExt(qel::glbDKE1 + 2);

    std::string Hash(const std::string& message, std::vector<size_t> pieces = {}, const std::vector<uint32_t>* table = nullptr)
    {
        const uint32_t zero[8] = {0};
        gr341194_md_ctx ctx;
        EXPECT_EQ(gr341194_md_init_ext(&ctx, zero, (table ? *table : kext).data()), &ctx);
        if (pieces.empty()) pieces.push_back(message.size());
        size_t off = 0;
        for (size_t n : pieces) {
            gr341194_md_update(&ctx, reinterpret_cast<const uint8_t*>(message.data()) + off, uint32_t(n));
            off += n;
        }
        uint8_t out[32];
        EXPECT_EQ(gr341194_md_final(&ctx, out), out);
        return ToHex(out, 32);
    }
};

// Reference answers of the token library: DKE1, start vector all zero.
TEST_F(Gr341194Test, KnownAnswers)
{
    EXPECT_EQ(Hash("abc"), "A34A53504D8BA070CB73A583146167A0A3C226D793440D9CEA24465FE02251F2");
    EXPECT_EQ(Hash(""), "DA37BDF41145E39E34111775B40646E8059C2E969C1460BB98ABCCB26F0F76A5");
    EXPECT_EQ(Hash("123123"), "34D4DA2C04E9C1CEB933282069C864617D94ED7CC5C0A9840C0C1A99629DF637");
    EXPECT_EQ(Hash("123123", {3, 3}), "34D4DA2C04E9C1CEB933282069C864617D94ED7CC5C0A9840C0C1A99629DF637");
}

// The standard's own examples use its test S-box (rows K1..K8, K1 on the lowest nibble).
TEST_F(Gr341194Test, StandardExamplesWithTheTestSBox)
{
    const uint8_t rows[8][16] = {
        {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
        {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
        {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
        {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
        {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
        {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
        {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
        {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
    };
    uint8_t dke[64];
    for (unsigned r = 0; r < 8; ++r)
        for (unsigned k = 0; k < 8; ++k) dke[8 * r + k] = uint8_t(rows[r][2 * k] << 4 | rows[r][2 * k + 1]);
    const auto table = gost_test::MakeKExt(dke);
    EXPECT_EQ(Hash("This is message, length=32 bytes", {}, &table),
              "B1C466D37519B82E8319819FF32595E047A28CB6F83EFF1C6916A815A637FFFA");
    EXPECT_EQ(Hash("Suppose the original message has length = 50 bytes", {}, &table),
              "471ABA57A60A770D3A76130635C1FBEA4EF14DE51F78B4AE57DD893B62F55208");
}

TEST_F(Gr341194Test, BlockBoundariesAndSplits)
{
    std::string message;
    for (int i = 0; i < 100; ++i) message += char('a' + i % 26);
    for (size_t len : {31u, 32u, 33u, 64u, 65u, 100u}) {
        const std::string m = message.substr(0, len);
        const std::string whole = Hash(m);
        for (size_t first = 0; first <= len; first += 5)
            ASSERT_EQ(Hash(m, {first, len - first}), whole) << len << " split at " << first;
        ASSERT_EQ(Hash(m, std::vector<size_t>(len, 1)), whole) << len;
    }
    // 32 bytes end with the L and Sigma steps only; 33 bytes add a padded block first.
    EXPECT_NE(Hash(message.substr(0, 32)), Hash(message.substr(0, 32) + std::string(1, '\0')));
    EXPECT_NE(Hash(message.substr(0, 33)), Hash(message.substr(0, 33) + std::string(31, '\0')));
}

TEST_F(Gr341194Test, NullOrEmptyInputIsIgnored)
{
    const uint32_t zero[8] = {0};
    gr341194_md_ctx ctx;
    gr341194_md_init_ext(&ctx, zero, kext.data());
    gr341194_md_update(&ctx, nullptr, 10);
    gr341194_md_update(&ctx, reinterpret_cast<const uint8_t*>("abc"), 0);
    uint8_t out[32];
    gr341194_md_final(&ctx, out);
    EXPECT_EQ(ToHex(out, 32), Hash(""));
}

} // namespace

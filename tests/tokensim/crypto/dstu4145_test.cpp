#include "dstu4145.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <algorithm>

#include "crypto_error.h"
#include "test_util.h"

namespace tokensim::crypto {
namespace {

using testing::FromHex;
using testing::ToHex;

// Compares as numbers, so leading zero digits do not matter.
::testing::AssertionResult BnEquals(const BIGNUM* bn, const char* hex) {
  if (BN_cmp(bn, BnFromHex(hex).get()) == 0) return ::testing::AssertionSuccess();
  char* got = BN_bn2hex(bn);
  auto failure = ::testing::AssertionFailure() << "got " << got << ", expected " << hex;
  OPENSSL_free(got);
  return failure;
}

// The signature example of DSTU 4145-2002 on the 163-bit curve with its own base point P'.
TEST(Dstu4145KnownAnswer, StandardExampleOn163BitCurve) {
  const Dstu4145Curve curve({163, {163, 7, 6, 3, 0}, 1, "5FF6108462A2DC8210AB403925E638A19C1455D21",
                             "400000000000000000002BEC12BE2262D39BCF14D",
                             "72D867F93A93AC27DF9FF01AFFE74885C8C540420",
                             "0224A9C3947852B97C5599D5F4AB81122ADC3FD9B"});
  BnPtr d = BnFromHex("183F60FDF7951FF47D67193F8D073790C1C9B5A3E");
  BnPtr h = BnFromHex("03A2EB95B7180166DDF73532EEB76EDAEF52247FF");
  BnPtr e = BnFromHex("1025E40BD97DB012B7A1D79DE8E12932D247F61C6");
  BnPtr r = NewBn();
  BnPtr s = NewBn();
  ASSERT_TRUE(curve.SignWithNonce(d.get(), h.get(), e.get(), r.get(), s.get()));
  EXPECT_TRUE(BnEquals(r.get(), "274EA2C0CAA014A0D80A424F59ADE7A93068D08A7"));
  EXPECT_TRUE(BnEquals(s.get(), "2100D86957331832B8E8C230F5BD6A332B3615ACA"));

  // Q = -dP' as the example gives it, and the signature verifies under it.
  PointPtr q = curve.PublicPoint(d.get());
  BnPtr qx = NewBn();
  BnPtr qy = NewBn();
  ASSERT_TRUE(EC_POINT_get_affine_coordinates(curve.Group(), q.get(), qx.get(), qy.get(), nullptr));
  EXPECT_TRUE(BnEquals(qx.get(), "057DE7FDE023FF929CB6AC785CE4B79CF64ABDC2DA"));
  EXPECT_TRUE(BnEquals(qy.get(), "03E85444324BCF06AD85ABF6AD7B5F34770532B9AA"));
  EXPECT_TRUE(curve.VerifyValues(q.get(), h.get(), r.get(), s.get()));
  BnPtr h2 = BnFromHex("03A2EB95B7180166DDF73532EEB76EDAEF52247FE");
  EXPECT_FALSE(curve.VerifyValues(q.get(), h2.get(), r.get(), s.get()));

  // The example's hash H reduces to h: its low 163 bits, read from little-endian bytes.
  Bytes hashLe = FromHex("09C9C44277910C9AAEE486883A2EB95B7180166DDF73532EEB76EDAEF52247FF");
  std::reverse(hashLe.begin(), hashLe.end());
  EXPECT_EQ(BN_cmp(curve.HashToField(hashLe).get(), h.get()), 0);
}

// Compressed base points and b of the four recommended curves, little-endian.
struct CompressionCase {
  uint8_t paramSet;
  const char* compressedBase;
};

class Dstu4145Compression : public ::testing::TestWithParam<CompressionCase> {};

TEST_P(Dstu4145Compression, BasePointCompressesAndDecompresses) {
  const Dstu4145Curve* curve = Dstu4145Curve::ForParamSet(GetParam().paramSet);
  ASSERT_NE(curve, nullptr);
  const EC_POINT* base = EC_GROUP_get0_generator(curve->Group());
  EXPECT_EQ(ToHex(curve->Compress(base)), GetParam().compressedBase);
  PointPtr back = curve->Decompress(FromHex(GetParam().compressedBase));
  EXPECT_EQ(EC_POINT_cmp(curve->Group(), back.get(), base, nullptr), 0);
}

INSTANTIATE_TEST_SUITE_P(
    RecommendedCurves, Dstu4145Compression,
    ::testing::Values(
        CompressionCase{9, "BE2358F3A3F8DA297223C4A583E94CD75D5FF8E202"},
        CompressionCase{10, "2871EBDA76FEFCC2B5B958ACD2A612794AFFF262B7144171"},
        CompressionCase{11, "B60FD2D8DCE8A93423C6101BCA91C47A007E6C300B26CD556C9B0E7D20EF292A00"},
        CompressionCase{12, "7C857C94C5433BFD991E17C22684065850A9A249ED7BC249AE5A4E878689F872EF7AD524082EC303"
                            "8E9AEDE7BA6BA13381D979BA621A"}),
    [](const ::testing::TestParamInfo<CompressionCase>& info) { return "Set" + std::to_string(info.param.paramSet); });

}  // namespace
}  // namespace tokensim::crypto

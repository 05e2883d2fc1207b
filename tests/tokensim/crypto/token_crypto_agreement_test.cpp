// DSTU 4145 key agreement and key derivation through GetCommonKey.
#include <gtest/gtest.h>

#include <string>

#include "test_util.h"
#include "token_crypto.h"

namespace tokensim::crypto {
namespace {

// DKE1, the default S-box of DSTU 4145-2002.
const Bytes kDke1 = testing::FromHex(
    "a9d6eb45f13c7082"
    "80c4967b231f5ead"
    "f658eba4c037291d"
    "38d96bf025ca4e17"
    "f8e9720dc615b43a"
    "28975f0bc1dea364"
    "38b564ea2c179fd0"
    "123e6db8fac57904");
// SharedInfo without user keying material, as the host sends it.
const Bytes kSharedInfo = testing::FromHex("3019300F060B2A862402010101010101050500A206040400000100");

class Agreement : public ::testing::TestWithParam<uint8_t> {
 protected:
  void SetUp() override {
    ASSERT_EQ(GenerateKey(GetParam(), alice_), status::kOk);
    ASSERT_EQ(GenerateKey(GetParam(), bob_), status::kOk);
  }
  uint8_t Derive(const KeySlot& own, const Bytes& peer, uint8_t cofactor, Bytes& key,
                 const Bytes& sbox = kDke1, uint32_t word = 1, const Bytes& info = kSharedInfo) {
    return GetCommonKey(own, peer, cofactor, sbox, word, info, key);
  }
  KeySlot alice_;
  KeySlot bob_;
};

TEST_P(Agreement, BothPartiesDeriveTheSame32ByteKey) {
  for (uint8_t cofactor : {0, 1}) {
    Bytes a, b;
    ASSERT_EQ(Derive(alice_, bob_.publicKey, cofactor, a), status::kOk);
    ASSERT_EQ(Derive(bob_, alice_.publicKey, cofactor, b), status::kOk);
    EXPECT_EQ(a.size(), 32u);
    EXPECT_EQ(a, b) << "cofactor " << int(cofactor);
  }
}

TEST_P(Agreement, EveryDerivationInputChangesTheKey) {
  Bytes base, plain, otherSbox, otherWord, otherInfo, otherPeer;
  ASSERT_EQ(Derive(alice_, bob_.publicKey, 1, base), status::kOk);
  ASSERT_EQ(Derive(alice_, bob_.publicKey, 0, plain), status::kOk);
  Bytes sbox = kDke1;
  std::swap(sbox[0], sbox[1]);
  ASSERT_EQ(Derive(alice_, bob_.publicKey, 1, otherSbox, sbox), status::kOk);
  ASSERT_EQ(Derive(alice_, bob_.publicKey, 1, otherWord, kDke1, 2), status::kOk);
  ASSERT_EQ(Derive(alice_, bob_.publicKey, 1, otherInfo, kDke1, 1, Bytes(95, 0x42)), status::kOk);
  KeySlot carol;
  ASSERT_EQ(GenerateKey(GetParam(), carol), status::kOk);
  ASSERT_EQ(Derive(alice_, carol.publicKey, 1, otherPeer), status::kOk);
  for (const Bytes* other : {&plain, &otherSbox, &otherWord, &otherInfo, &otherPeer}) EXPECT_NE(*other, base);
}

TEST_P(Agreement, HostileInputsGetErrorStatuses) {
  Bytes key;
  EXPECT_EQ(Derive(alice_, Bytes(bob_.publicKey.begin(), bob_.publicKey.end() - 1), 1, key), status::kBadLength);
  EXPECT_EQ(Derive(alice_, Bytes{}, 1, key), status::kBadLength);
  EXPECT_EQ(Derive(alice_, Bytes(bob_.publicKey.size(), 0), 1, key), status::kInvalidKey);
  EXPECT_EQ(Derive(alice_, Bytes(bob_.publicKey.size(), 0xFF), 0, key), status::kInvalidKey);
  EXPECT_EQ(Derive(alice_, bob_.publicKey, 2, key), status::kInvalidData);
  EXPECT_EQ(Derive(alice_, bob_.publicKey, 1, key, Bytes(63, 1)), status::kBadLength);
  EXPECT_EQ(Derive(alice_, bob_.publicKey, 1, key, Bytes{}), status::kBadLength);
  EXPECT_TRUE(key.empty());
  EXPECT_EQ(Derive(alice_, bob_.publicKey, 1, key, kDke1, 1, Bytes{}), status::kOk);  // empty SharedInfo is allowed
}

INSTANTIATE_TEST_SUITE_P(AllSets, Agreement, ::testing::Values(9, 10, 11, 12),
                         [](const ::testing::TestParamInfo<uint8_t>& info) {
                           return "Set" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace tokensim::crypto

// DSTU 4145 through the token command interface: what the simulator answers the host.
#include <gtest/gtest.h>

#include <string>

#include "test_util.h"
#include "token_crypto.h"

namespace tokensim::crypto {
namespace {

struct DstuSet {
  uint8_t paramSet;
  size_t signatureBytes;  // fixed by the host
  size_t pointBytes;      // ceil(m / 8)
};

class DstuCommands : public ::testing::TestWithParam<DstuSet> {
 protected:
  void SetUp() override { ASSERT_EQ(GenerateKey(GetParam().paramSet, slot_), status::kOk); }
  KeySlot slot_;
  const Bytes hash_ = testing::FromHex("09C9C44277910C9AAEE486883A2EB95B7180166DDF73532EEB76EDAEF52247FF");
};

TEST_P(DstuCommands, SignsAndVerifiesWithTheHostSizes) {
  EXPECT_EQ(slot_.paramSet, GetParam().paramSet);
  EXPECT_EQ(slot_.publicKey.size(), GetParam().pointBytes);
  Bytes signature;
  ASSERT_EQ(Sign(slot_, hash_, signature), status::kOk);
  ASSERT_EQ(signature.size(), GetParam().signatureBytes);
  EXPECT_EQ(Verify(GetParam().paramSet, slot_.publicKey, signature, hash_), status::kOk);

  // A second signature of the same value differs (fresh nonce) and verifies too.
  Bytes again;
  ASSERT_EQ(Sign(slot_, hash_, again), status::kOk);
  EXPECT_NE(again, signature);
  EXPECT_EQ(Verify(GetParam().paramSet, slot_.publicKey, again, hash_), status::kOk);
}

TEST_P(DstuCommands, WrongSignatureDataOrKeyAnswers18) {
  Bytes signature;
  ASSERT_EQ(Sign(slot_, hash_, signature), status::kOk);
  const uint8_t set = GetParam().paramSet;

  Bytes flipped = signature;
  flipped[3] ^= 0x01;  // in r
  EXPECT_EQ(Verify(set, slot_.publicKey, flipped, hash_), status::kSignatureInvalid);
  flipped = signature;
  flipped[signature.size() / 2 + 1] ^= 0x80;  // in s
  EXPECT_EQ(Verify(set, slot_.publicKey, flipped, hash_), status::kSignatureInvalid);

  Bytes otherHash = hash_;
  otherHash[0] ^= 0x01;
  EXPECT_EQ(Verify(set, slot_.publicKey, signature, otherHash), status::kSignatureInvalid);

  KeySlot other;
  ASSERT_EQ(GenerateKey(set, other), status::kOk);
  EXPECT_EQ(Verify(set, other.publicKey, signature, hash_), status::kSignatureInvalid);

  // r = 0 and s = n or above are out of range, not a crash.
  Bytes zeros(signature.size(), 0);
  EXPECT_EQ(Verify(set, slot_.publicKey, zeros, hash_), status::kSignatureInvalid);
  Bytes ones(signature.size(), 0xFF);
  EXPECT_EQ(Verify(set, slot_.publicKey, ones, hash_), status::kSignatureInvalid);
}

TEST_P(DstuCommands, LoadedKeySignsLikeTheGeneratedOne) {
  KeySlot loaded;
  ASSERT_EQ(LoadKey(GetParam().paramSet, slot_.privateBlob, loaded), status::kOk);
  EXPECT_EQ(loaded.publicKey, slot_.publicKey);
  Bytes signature;
  ASSERT_EQ(Sign(loaded, hash_, signature), status::kOk);
  EXPECT_EQ(Verify(GetParam().paramSet, slot_.publicKey, signature, hash_), status::kOk);
}

TEST_P(DstuCommands, HostileInputsGetErrorStatuses) {
  const uint8_t set = GetParam().paramSet;
  Bytes signature;
  ASSERT_EQ(Sign(slot_, hash_, signature), status::kOk);

  Bytes out;
  EXPECT_EQ(Sign(slot_, Bytes{}, out), status::kInvalidData);

  Bytes shortSig(signature.begin(), signature.end() - 1);
  EXPECT_EQ(Verify(set, slot_.publicKey, shortSig, hash_), status::kBadLength);
  Bytes longSig = signature;
  longSig.push_back(0);
  EXPECT_EQ(Verify(set, slot_.publicKey, longSig, hash_), status::kBadLength);

  Bytes truncatedKey(slot_.publicKey.begin(), slot_.publicKey.end() - 1);
  EXPECT_EQ(Verify(set, truncatedKey, signature, hash_), status::kBadLength);
  EXPECT_EQ(Verify(set, Bytes{}, signature, hash_), status::kBadLength);

  // All ones is wider than the field.
  EXPECT_EQ(Verify(set, Bytes(slot_.publicKey.size(), 0xFF), signature, hash_), status::kInvalidKey);
  // About half of all x have no point (z^2 + z = w has no root); none of them crashes.
  int noPointCount = 0;
  for (uint8_t x = 2; x < 40; ++x) {
    Bytes candidate(slot_.publicKey.size(), 0);
    candidate[0] = x;
    const uint8_t answer = Verify(set, candidate, signature, hash_);
    EXPECT_TRUE(answer == status::kInvalidKey || answer == status::kSignatureInvalid) << int(answer);
    noPointCount += answer == status::kInvalidKey;
  }
  EXPECT_GT(noPointCount, 0);
  Bytes zeroPoint(slot_.publicKey.size(), 0);  // (0, sqrt(b)) has order 2
  EXPECT_EQ(Verify(set, zeroPoint, signature, hash_), status::kInvalidKey);

  KeySlot loaded;
  Bytes blob = slot_.privateBlob;
  blob.pop_back();
  EXPECT_EQ(LoadKey(set, blob, loaded), status::kBadLength);
  EXPECT_EQ(LoadKey(set, Bytes(slot_.privateBlob.size(), 0), loaded), status::kInvalidKey);
  EXPECT_EQ(LoadKey(set, Bytes(slot_.privateBlob.size(), 0xFF), loaded), status::kInvalidKey);
  EXPECT_TRUE(loaded.privateBlob.empty());

  KeySlot broken = slot_;
  broken.privateBlob.resize(3);
  EXPECT_EQ(Sign(broken, hash_, out), status::kInvalidKey);

  // DSTU keys neither encrypt nor decrypt.
  EXPECT_EQ(Encrypt(set, slot_.publicKey, hash_, out), status::kUnsupportedParamSet);
  EXPECT_EQ(Decrypt(slot_, hash_, out), status::kUnsupportedParamSet);
}

INSTANTIATE_TEST_SUITE_P(AllSets, DstuCommands,
                         ::testing::Values(DstuSet{9, 42, 21}, DstuSet{10, 48, 24}, DstuSet{11, 64, 33},
                                           DstuSet{12, 108, 54}),
                         [](const ::testing::TestParamInfo<DstuSet>& info) {
                           return "Set" + std::to_string(info.param.paramSet);
                         });

TEST(TokenCryptoParamSets, UnknownSetsAnswer36) {
  KeySlot slot;
  for (uint8_t set : {0, 1, 5, 17, 255}) {
    EXPECT_EQ(GenerateKey(set, slot), status::kUnsupportedParamSet) << int(set);
    EXPECT_EQ(Verify(set, Bytes(21), Bytes(42), Bytes(32, 1)), status::kUnsupportedParamSet) << int(set);
  }
  Bytes out;
  EXPECT_EQ(Sign(slot, Bytes(32, 1), out), status::kUnsupportedParamSet);  // empty slot, set 0
}

TEST(TokenCryptoSlots, FailedCommandKeepsTheSlotAndClearedSlotSignsNothing) {
  KeySlot slot;
  ASSERT_EQ(GenerateKey(9, slot), status::kOk);
  const KeySlot before = slot;
  EXPECT_EQ(LoadKey(9, Bytes(3, 1), slot), status::kBadLength);
  EXPECT_EQ(GenerateKey(99, slot), status::kUnsupportedParamSet);
  EXPECT_EQ(slot.privateBlob, before.privateBlob);
  EXPECT_EQ(slot.publicKey, before.publicKey);

  ClearKeySlot(slot);
  EXPECT_TRUE(slot.privateBlob.empty());
  EXPECT_TRUE(slot.publicKey.empty());
  Bytes out;
  EXPECT_NE(Sign(slot, Bytes(32, 1), out), status::kOk);
}

}  // namespace
}  // namespace tokensim::crypto

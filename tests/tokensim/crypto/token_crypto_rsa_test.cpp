// Raw RSA through the token command interface, checked against OpenSSL's own PKCS#1 code.
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <string>

#include "evp_helpers.h"
#include "test_util.h"
#include "token_crypto.h"

namespace tokensim::crypto {
namespace {

using testing::EvpKey;

struct RsaSet {
  uint8_t paramSet;
  size_t modulusBytes;
};

// SHA-256 DigestInfo prefix of PKCS#1 v1.5.
const Bytes kSha256Prefix = testing::FromHex("3031300d060960864801650304020105000420");

Bytes Pkcs1Type1Block(const Bytes& message, size_t k) {
  Bytes digestInfo = kSha256Prefix;
  const Bytes hash = testing::Sha256(message);
  digestInfo.insert(digestInfo.end(), hash.begin(), hash.end());
  Bytes block = {0x00, 0x01};
  block.insert(block.end(), k - 3 - digestInfo.size(), 0xFF);
  block.push_back(0x00);
  block.insert(block.end(), digestInfo.begin(), digestInfo.end());
  return block;
}

class RsaCommands : public ::testing::TestWithParam<RsaSet> {
 protected:
  void SetUp() override {
    ASSERT_EQ(GenerateKey(GetParam().paramSet, slot_), status::kOk);
    const size_t k = GetParam().modulusBytes;
    ASSERT_EQ(slot_.publicKey.size(), k + 7);
    EXPECT_EQ(slot_.publicKey[0], k >> 8);
    EXPECT_EQ(slot_.publicKey[1], k & 0xFF);
    EXPECT_EQ(testing::ToHex(Bytes(slot_.publicKey.end() - 5, slot_.publicKey.end())), "0003010001");
    modulus_.assign(slot_.publicKey.begin() + 2, slot_.publicKey.end() - 5);
    evpKey_ = testing::PublicKeyFromParams("RSA", "", modulus_);
    ASSERT_NE(evpKey_, nullptr);
  }
  KeySlot slot_;
  Bytes modulus_;
  EvpKey evpKey_;
  const Bytes message_ = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};
};

TEST_P(RsaCommands, RawSignatureVerifiesUnderOpenSsl) {
  const Bytes block = Pkcs1Type1Block(message_, GetParam().modulusBytes);
  Bytes signature;
  ASSERT_EQ(Sign(slot_, block, signature), status::kOk);
  ASSERT_EQ(signature.size(), GetParam().modulusBytes);
  EXPECT_TRUE(testing::EvpVerify(evpKey_.get(), "SHA256", message_, signature));

  EXPECT_EQ(Verify(GetParam().paramSet, slot_.publicKey, signature, block), status::kOk);
  Bytes otherBlock = block;
  otherBlock.back() ^= 1;
  EXPECT_EQ(Verify(GetParam().paramSet, slot_.publicKey, signature, otherBlock), status::kSignatureInvalid);
  Bytes badSignature = signature;
  badSignature[10] ^= 0x40;
  EXPECT_EQ(Verify(GetParam().paramSet, slot_.publicKey, badSignature, block), status::kSignatureInvalid);
}

TEST_P(RsaCommands, DecryptsWhatOpenSslEncryptsAndRoundTripsRaw) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, evpKey_.get(), nullptr);
  ASSERT_EQ(EVP_PKEY_encrypt_init(ctx), 1);
  ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING), 1);
  Bytes cipher(GetParam().modulusBytes);
  size_t len = cipher.size();
  ASSERT_EQ(EVP_PKEY_encrypt(ctx, cipher.data(), &len, message_.data(), message_.size()), 1);
  EVP_PKEY_CTX_free(ctx);

  Bytes block;
  ASSERT_EQ(Decrypt(slot_, cipher, block), status::kOk);
  ASSERT_EQ(block.size(), GetParam().modulusBytes);
  EXPECT_EQ(block[0], 0x00);
  EXPECT_EQ(block[1], 0x02);
  EXPECT_EQ(Bytes(block.end() - message_.size(), block.end()), message_);

  // Raw: a short input counts as left-padded with zeros.
  Bytes raw;
  ASSERT_EQ(Encrypt(GetParam().paramSet, slot_.publicKey, message_, raw), status::kOk);
  Bytes back;
  ASSERT_EQ(Decrypt(slot_, raw, back), status::kOk);
  EXPECT_EQ(Bytes(back.end() - message_.size(), back.end()), message_);
  EXPECT_EQ(back.size(), GetParam().modulusBytes);
}

TEST_P(RsaCommands, LoadedBlobGivesTheSameKey) {
  KeySlot loaded;
  ASSERT_EQ(LoadKey(GetParam().paramSet, slot_.privateBlob, loaded), status::kOk);
  EXPECT_EQ(loaded.publicKey, slot_.publicKey);
  const Bytes block = Pkcs1Type1Block(message_, GetParam().modulusBytes);
  Bytes a, b;
  ASSERT_EQ(Sign(loaded, block, a), status::kOk);
  ASSERT_EQ(Sign(slot_, block, b), status::kOk);
  EXPECT_EQ(a, b);
}

INSTANTIATE_TEST_SUITE_P(AllSizes, RsaCommands,
                         ::testing::Values(RsaSet{13, 64}, RsaSet{6, 128}, RsaSet{7, 192}, RsaSet{8, 256}),
                         [](const ::testing::TestParamInfo<RsaSet>& info) {
                           return "Bits" + std::to_string(info.param.modulusBytes * 8);
                         });

// Hostile blobs, keys and inputs on one 1024-bit key.
class RsaHostile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    slot_ = new KeySlot;
    ASSERT_EQ(GenerateKey(6, *slot_), status::kOk);
  }
  static void TearDownTestSuite() { delete slot_; }
  static KeySlot* slot_;
};
KeySlot* RsaHostile::slot_ = nullptr;

TEST_F(RsaHostile, GeneratedBlobHasTheHostImportLayout) {
  // 00 80 n, 00 80 d, then five 64-byte CRT components: 590 bytes for 1024 bits.
  const Bytes& blob = slot_->privateBlob;
  ASSERT_EQ(blob.size(), 590u);
  EXPECT_EQ(testing::ToHex(Bytes(blob.begin(), blob.begin() + 2)), "0080");
  EXPECT_EQ(Bytes(blob.begin() + 2, blob.begin() + 130), Bytes(slot_->publicKey.begin() + 2, slot_->publicKey.end() - 5));
  EXPECT_EQ(testing::ToHex(Bytes(blob.begin() + 260, blob.begin() + 262)), "0040");
}

TEST_F(RsaHostile, MalformedBlobsAreRefused) {
  const Bytes& good = slot_->privateBlob;
  struct Case {
    const char* name;
    Bytes blob;
    uint8_t paramSet;
    uint8_t expected;
  };
  Bytes truncated(good.begin(), good.end() - 1);
  Bytes trailing = good;
  trailing.push_back(0);
  Bytes wrongPrime = good;
  wrongPrime[2 + 128 + 2 + 128 + 2 + 10] ^= 0x01;  // inside p
  Bytes hugeLength = good;
  hugeLength[0] = 0xFF;
  std::vector<Case> cases = {
      {"empty", {}, 6, status::kBadLength},
      {"one byte", {0x00}, 6, status::kBadLength},
      {"truncated", truncated, 6, status::kBadLength},
      {"trailing byte", trailing, 6, status::kBadLength},
      {"length past the end", hugeLength, 6, status::kBadLength},
      {"wrong prime", wrongPrime, 6, status::kInvalidKey},
      {"set of another size", good, 8, status::kInvalidKey},
  };
  for (const Case& c : cases) {
    KeySlot loaded;
    EXPECT_EQ(LoadKey(c.paramSet, c.blob, loaded), c.expected) << c.name;
    EXPECT_TRUE(loaded.privateBlob.empty()) << c.name;
  }
}

TEST_F(RsaHostile, BadPublicBlobsAndInputsAreRefused) {
  const Bytes& pub = slot_->publicKey;
  Bytes out;
  EXPECT_EQ(Encrypt(6, Bytes(pub.begin(), pub.end() - 1), Bytes(16, 1), out), status::kBadLength);
  EXPECT_EQ(Encrypt(8, pub, Bytes(16, 1), out), status::kBadLength);
  Bytes exponent3 = pub;
  exponent3.back() = 0x03;
  EXPECT_EQ(Encrypt(6, exponent3, Bytes(16, 1), out), status::kInvalidKey);
  Bytes evenModulus = pub;
  evenModulus[2 + 127] &= 0xFE;
  EXPECT_EQ(Encrypt(6, evenModulus, Bytes(16, 1), out), status::kInvalidKey);

  EXPECT_EQ(Encrypt(6, pub, Bytes{}, out), status::kBadLength);
  EXPECT_EQ(Encrypt(6, pub, Bytes(129, 1), out), status::kBadLength);
  EXPECT_EQ(Encrypt(6, pub, Bytes(128, 0xFF), out), status::kInvalidData);  // not below n
  EXPECT_EQ(Decrypt(*slot_, Bytes(128, 0xFF), out), status::kInvalidData);
  EXPECT_EQ(Sign(*slot_, Bytes(200, 1), out), status::kBadLength);
  EXPECT_EQ(Verify(6, pub, Bytes(127, 1), Bytes(16, 1)), status::kBadLength);
  EXPECT_EQ(Verify(6, pub, Bytes(128, 0xFF), Bytes(16, 1)), status::kSignatureInvalid);
  Bytes common;
  EXPECT_EQ(GetCommonKey(*slot_, Bytes(21, 1), 1, Bytes(64), 1, Bytes(27), common), status::kUnsupportedParamSet);
}

}  // namespace
}  // namespace tokensim::crypto

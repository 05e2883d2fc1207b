// ECDSA through the token command interface, checked against OpenSSL's own ECDSA.
#include <gtest/gtest.h>
#include <openssl/core_names.h>

#include <string>

#include "evp_helpers.h"
#include "test_util.h"
#include "token_crypto.h"

namespace tokensim::crypto {
namespace {

struct EcSet {
  uint8_t paramSet;
  const char* group;
  size_t fieldBytes;
};

class EcdsaCommands : public ::testing::TestWithParam<EcSet> {
 protected:
  void SetUp() override {
    ASSERT_EQ(GenerateKey(GetParam().paramSet, slot_), status::kOk);
    ASSERT_EQ(slot_.publicKey.size(), 1 + 2 * GetParam().fieldBytes);
    EXPECT_EQ(slot_.publicKey[0], 0x04);
    evpKey_ = testing::PublicKeyFromParams("EC", GetParam().group, slot_.publicKey);
    ASSERT_NE(evpKey_, nullptr);
  }
  KeySlot slot_;
  testing::EvpKey evpKey_;
  const Bytes message_ = {'e', 'c', 'd', 's', 'a'};
};

TEST_P(EcdsaCommands, SignatureOfTheHashVerifiesUnderOpenSsl) {
  const Bytes hash = testing::Sha256(message_);
  Bytes signature;
  ASSERT_EQ(Sign(slot_, hash, signature), status::kOk);
  EXPECT_EQ(signature[0], 0x30);  // DER SEQUENCE
  EXPECT_TRUE(testing::EvpVerify(evpKey_.get(), "SHA256", message_, signature));
  EXPECT_EQ(Verify(GetParam().paramSet, slot_.publicKey, signature, hash), status::kOk);

  Bytes otherHash = hash;
  otherHash[5] ^= 0x10;
  EXPECT_EQ(Verify(GetParam().paramSet, slot_.publicKey, signature, otherHash), status::kSignatureInvalid);
}

TEST_P(EcdsaCommands, VerifiesWhatOpenSslSignsWithALoadedKey) {
  EVP_PKEY* raw = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", GetParam().group);
  ASSERT_NE(raw, nullptr);
  testing::EvpKey key(raw);
  BIGNUM* d = nullptr;
  ASSERT_EQ(EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &d), 1);
  Bytes blob(GetParam().fieldBytes);
  BN_bn2binpad(d, blob.data(), static_cast<int>(blob.size()));
  BN_clear_free(d);

  KeySlot loaded;
  ASSERT_EQ(LoadKey(GetParam().paramSet, blob, loaded), status::kOk);
  Bytes point(1 + 2 * GetParam().fieldBytes);
  size_t len = 0;
  ASSERT_EQ(EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(), &len), 1);
  EXPECT_EQ(loaded.publicKey, point);

  EVP_MD_CTX* md = EVP_MD_CTX_new();
  Bytes signature(200);
  size_t sigLen = signature.size();
  ASSERT_EQ(EVP_DigestSignInit_ex(md, nullptr, "SHA256", nullptr, nullptr, key.get(), nullptr), 1);
  ASSERT_EQ(EVP_DigestSign(md, signature.data(), &sigLen, message_.data(), message_.size()), 1);
  EVP_MD_CTX_free(md);
  signature.resize(sigLen);
  EXPECT_EQ(Verify(GetParam().paramSet, loaded.publicKey, signature, testing::Sha256(message_)), status::kOk);
}

TEST_P(EcdsaCommands, HostileInputsGetErrorStatuses) {
  const uint8_t set = GetParam().paramSet;
  const Bytes hash = testing::Sha256(message_);
  Bytes signature;
  ASSERT_EQ(Sign(slot_, hash, signature), status::kOk);

  Bytes out;
  EXPECT_EQ(Sign(slot_, Bytes(128, 0x5A), out), status::kOk);
  EXPECT_EQ(Sign(slot_, Bytes(129, 0x5A), out), status::kBadLength);
  EXPECT_EQ(Sign(slot_, Bytes{}, out), status::kInvalidData);

  // Malformed DER, r||s instead of DER, truncation: the signature does not verify.
  for (const Bytes& bad : {Bytes{}, Bytes{0x30, 0x00}, Bytes(signature.begin(), signature.end() - 1),
                           Bytes(2 * GetParam().fieldBytes, 0x11)}) {
    EXPECT_EQ(Verify(set, slot_.publicKey, bad, hash), status::kSignatureInvalid);
  }

  Bytes offCurve = slot_.publicKey;
  offCurve.back() ^= 0x01;
  EXPECT_EQ(Verify(set, offCurve, signature, hash), status::kInvalidKey);
  Bytes compressed(slot_.publicKey.begin(), slot_.publicKey.begin() + 1 + GetParam().fieldBytes);
  compressed[0] = 0x02;
  EXPECT_EQ(Verify(set, compressed, signature, hash), status::kBadLength);
  EXPECT_EQ(Verify(set, Bytes{}, signature, hash), status::kBadLength);

  KeySlot loaded;
  EXPECT_EQ(LoadKey(set, Bytes(GetParam().fieldBytes, 0), loaded), status::kInvalidKey);
  EXPECT_EQ(LoadKey(set, Bytes(GetParam().fieldBytes, 0xFF), loaded), status::kInvalidKey);
  EXPECT_EQ(LoadKey(set, Bytes(GetParam().fieldBytes - 1, 0x01), loaded), status::kBadLength);
  EXPECT_EQ(Encrypt(set, slot_.publicKey, hash, out), status::kUnsupportedParamSet);
}

INSTANTIATE_TEST_SUITE_P(AllCurves, EcdsaCommands,
                         ::testing::Values(EcSet{14, "P-192", 24}, EcSet{15, "P-256", 32}, EcSet{16, "P-521", 66}),
                         [](const ::testing::TestParamInfo<EcSet>& info) {
                           return std::string(info.param.group).replace(1, 1, "");
                         });

}  // namespace
}  // namespace tokensim::crypto

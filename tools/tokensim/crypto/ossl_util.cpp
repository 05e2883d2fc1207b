#include "ossl_util.h"

#include <openssl/crypto.h>

#include "crypto_error.h"

namespace tokensim::crypto {

void Check(int ok, const char* what) {
  if (ok <= 0) throw CryptoError(status::kInternal, what);
}

namespace {
template <typename T>
T* NotNull(T* p, const char* what) {
  if (p == nullptr) throw CryptoError(status::kInternal, what);
  return p;
}
}  // namespace

BnPtr NewBn() { return BnPtr(NotNull(BN_new(), "BN_new")); }
BnPtr NewSecretBn() { return BnPtr(NotNull(BN_secure_new(), "BN_secure_new")); }
BnCtxPtr NewBnCtx() { return BnCtxPtr(NotNull(BN_CTX_secure_new(), "BN_CTX_new")); }

PointPtr NewPoint(const EC_GROUP* group) {
  return PointPtr(NotNull(EC_POINT_new(group), "EC_POINT_new"));
}

BnPtr BnFromHex(const char* hex) {
  BIGNUM* bn = nullptr;
  Check(BN_hex2bn(&bn, hex), "BN_hex2bn");
  return BnPtr(bn);
}

BnPtr BnFromBigEndian(const uint8_t* data, size_t len) {
  BnPtr bn = NewSecretBn();
  Check(BN_bin2bn(data, static_cast<int>(len), bn.get()) != nullptr, "BN_bin2bn");
  return bn;
}

BnPtr BnFromLittleEndian(const uint8_t* data, size_t len) {
  BnPtr bn = NewSecretBn();
  Check(BN_lebin2bn(data, static_cast<int>(len), bn.get()) != nullptr, "BN_lebin2bn");
  return bn;
}

Bytes BnToBigEndian(const BIGNUM* bn, size_t len) {
  Bytes out(len);
  Check(BN_bn2binpad(bn, out.data(), static_cast<int>(len)) == static_cast<int>(len), "BN_bn2binpad");
  return out;
}

Bytes BnToLittleEndian(const BIGNUM* bn, size_t len) {
  Bytes out(len);
  Check(BN_bn2lebinpad(bn, out.data(), static_cast<int>(len)) == static_cast<int>(len), "BN_bn2lebinpad");
  return out;
}

void Wipe(Bytes& bytes) {
  if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
  bytes.clear();
}

}  // namespace tokensim::crypto

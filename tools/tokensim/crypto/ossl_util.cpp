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

ParamBldPtr NewParamBld() { return ParamBldPtr(NotNull(OSSL_PARAM_BLD_new(), "OSSL_PARAM_BLD_new")); }

PkeyPtr PkeyFromParams(const char* type, OSSL_PARAM_BLD* bld, int selection) {
  struct ParamFree {
    void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
  };
  std::unique_ptr<OSSL_PARAM, ParamFree> params(NotNull(OSSL_PARAM_BLD_to_param(bld), "OSSL_PARAM_BLD_to_param"));
  PkeyCtxPtr ctx(NotNull(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr), "EVP_PKEY_CTX_new_from_name"));
  Check(EVP_PKEY_fromdata_init(ctx.get()), "EVP_PKEY_fromdata_init");
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) <= 0)
    throw CryptoError(status::kInvalidKey, "key parameters refused");
  return PkeyPtr(key);
}

PkeyCtxPtr NewPkeyCtx(EVP_PKEY* key) {
  return PkeyCtxPtr(NotNull(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr), "EVP_PKEY_CTX_new_from_pkey"));
}

void Wipe(Bytes& bytes) {
  if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
  bytes.clear();
}

}  // namespace tokensim::crypto

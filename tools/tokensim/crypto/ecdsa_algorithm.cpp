#include "ecdsa_algorithm.h"

#include <openssl/core_names.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>

#include "crypto_error.h"
#include "ossl_util.h"

namespace tokensim::crypto {

namespace {

constexpr size_t kMaxValueBytes = 128;

struct NamedCurve {
  const char* name;  // OpenSSL's group name
  int nid;
  size_t bytes;
};

const NamedCurve& CurveFor(uint8_t paramSet) {
  static const NamedCurve curves[] = {
      {"P-192", NID_X9_62_prime192v1, 24}, {"P-256", NID_X9_62_prime256v1, 32}, {"P-521", NID_secp521r1, 66}};
  if (paramSet < 14 || paramSet > 16) throw CryptoError(status::kUnsupportedParamSet, "not an ECDSA parameter set");
  return curves[paramSet - 14];
}

struct ParamBldFree {
  void operator()(OSSL_PARAM_BLD* b) const { OSSL_PARAM_BLD_free(b); }
};
struct ParamFree {
  void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
};

// An EVP key from the curve, the public point and, for signing, the private value.
PkeyPtr MakeKey(const NamedCurve& curve, const Bytes& point, const BIGNUM* d) {
  std::unique_ptr<OSSL_PARAM_BLD, ParamBldFree> bld(OSSL_PARAM_BLD_new());
  Check(bld != nullptr, "OSSL_PARAM_BLD_new");
  Check(OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, curve.name, 0), "group");
  Check(OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()), "pub");
  if (d != nullptr) Check(OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, d), "priv");
  std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(bld.get()));
  Check(params != nullptr, "OSSL_PARAM_BLD_to_param");
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  Check(ctx != nullptr, "EVP_PKEY_CTX_new_from_name");
  Check(EVP_PKEY_fromdata_init(ctx.get()), "EVP_PKEY_fromdata_init");
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(ctx.get(), &key, d != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.get()) <= 0)
    throw CryptoError(status::kInvalidKey, "EC key not accepted");
  return PkeyPtr(key);
}

// The uncompressed point d·G.
Bytes PointOf(const NamedCurve& curve, const BIGNUM* d) {
  GroupPtr group(EC_GROUP_new_by_curve_name(curve.nid));
  Check(group != nullptr, "EC_GROUP_new_by_curve_name");
  BnCtxPtr ctx = NewBnCtx();
  PointPtr q = NewPoint(group.get());
  Check(EC_POINT_mul(group.get(), q.get(), d, nullptr, nullptr, ctx.get()), "EC_POINT_mul");
  Bytes out(1 + 2 * curve.bytes);
  Check(EC_POINT_point2oct(group.get(), q.get(), POINT_CONVERSION_UNCOMPRESSED, out.data(), out.size(), ctx.get()) ==
            out.size(),
        "EC_POINT_point2oct");
  return out;
}

BnPtr PrivateValue(const NamedCurve& curve, const Bytes& blob) {
  if (blob.size() != curve.bytes) throw CryptoError(status::kBadLength, "EC private key length");
  BnPtr d = BnFromBigEndian(blob.data(), blob.size());
  GroupPtr group(EC_GROUP_new_by_curve_name(curve.nid));
  Check(group != nullptr, "EC_GROUP_new_by_curve_name");
  if (BN_is_zero(d.get()) || BN_cmp(d.get(), EC_GROUP_get0_order(group.get())) >= 0)
    throw CryptoError(status::kInvalidKey, "EC private key out of range");
  return d;
}

void CheckValue(const Bytes& data) {
  if (data.empty()) throw CryptoError(status::kInvalidData, "empty value");
  if (data.size() > kMaxValueBytes) throw CryptoError(status::kBadLength, "value longer than 128 bytes");
}

}  // namespace

void EcdsaAlgorithm::Generate(uint8_t paramSet, Bytes& privateBlob, Bytes& publicKey) const {
  const NamedCurve& curve = CurveFor(paramSet);
  GroupPtr group(EC_GROUP_new_by_curve_name(curve.nid));
  Check(group != nullptr, "EC_GROUP_new_by_curve_name");
  BnPtr d = NewSecretBn();
  do {
    Check(BN_priv_rand_range(d.get(), EC_GROUP_get0_order(group.get())), "BN_priv_rand_range");
  } while (BN_is_zero(d.get()));
  publicKey = PointOf(curve, d.get());
  privateBlob = BnToBigEndian(d.get(), curve.bytes);
}

void EcdsaAlgorithm::Load(uint8_t paramSet, const Bytes& blob, Bytes& privateBlob, Bytes& publicKey) const {
  const NamedCurve& curve = CurveFor(paramSet);
  BnPtr d = PrivateValue(curve, blob);
  publicKey = PointOf(curve, d.get());
  privateBlob = blob;
}

Bytes EcdsaAlgorithm::Sign(uint8_t paramSet, const Bytes& privateBlob, const Bytes& data) const {
  const NamedCurve& curve = CurveFor(paramSet);
  CheckValue(data);
  BnPtr d = PrivateValue(curve, privateBlob);
  PkeyPtr key = MakeKey(curve, PointOf(curve, d.get()), d.get());
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  Check(ctx != nullptr, "EVP_PKEY_CTX_new_from_pkey");
  Check(EVP_PKEY_sign_init(ctx.get()), "EVP_PKEY_sign_init");
  size_t length = 0;
  Check(EVP_PKEY_sign(ctx.get(), nullptr, &length, data.data(), data.size()), "EVP_PKEY_sign");
  Bytes signature(length);
  Check(EVP_PKEY_sign(ctx.get(), signature.data(), &length, data.data(), data.size()), "EVP_PKEY_sign");
  signature.resize(length);
  return signature;
}

bool EcdsaAlgorithm::Verify(uint8_t paramSet, const Bytes& publicKey, const Bytes& signature,
                            const Bytes& data) const {
  const NamedCurve& curve = CurveFor(paramSet);
  if (publicKey.size() != 1 + 2 * curve.bytes || publicKey[0] != 0x04)
    throw CryptoError(status::kBadLength, "EC point is not an uncompressed point of the curve");
  CheckValue(data);
  PkeyPtr key = MakeKey(curve, publicKey, nullptr);
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  Check(ctx != nullptr, "EVP_PKEY_CTX_new_from_pkey");
  if (EVP_PKEY_public_check(ctx.get()) != 1) throw CryptoError(status::kInvalidKey, "EC point refused");
  Check(EVP_PKEY_verify_init(ctx.get()), "EVP_PKEY_verify_init");
  // A malformed DER signature is a signature that does not verify.
  return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
}

}  // namespace tokensim::crypto

#include "ecdsa_algorithm.h"

#include <openssl/core_names.h>
#include <openssl/obj_mac.h>

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

GroupPtr GroupOf(const NamedCurve& curve) {
  GroupPtr group(EC_GROUP_new_by_curve_name(curve.nid));
  Check(group != nullptr, "EC_GROUP_new_by_curve_name");
  return group;
}

// An EVP key from the curve, the public point and, for signing, the private value.
PkeyPtr MakeKey(const NamedCurve& curve, const Bytes& point, const BIGNUM* d) {
  ParamBldPtr bld = NewParamBld();
  Check(OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, curve.name, 0), "group");
  Check(OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()), "pub");
  if (d != nullptr) Check(OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, d), "priv");
  return PkeyFromParams("EC", bld.get(), d != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY);
}

// The uncompressed point d·G.
Bytes PointOf(const NamedCurve& curve, const BIGNUM* d) {
  GroupPtr group = GroupOf(curve);
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
  GroupPtr group = GroupOf(curve);
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
  GroupPtr group = GroupOf(curve);
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
  PkeyCtxPtr ctx = NewPkeyCtx(key.get());
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
  PkeyCtxPtr ctx = NewPkeyCtx(key.get());
  if (EVP_PKEY_public_check(ctx.get()) != 1) throw CryptoError(status::kInvalidKey, "EC point refused");
  Check(EVP_PKEY_verify_init(ctx.get()), "EVP_PKEY_verify_init");
  // A malformed DER signature is a signature that does not verify.
  return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
}

}  // namespace tokensim::crypto

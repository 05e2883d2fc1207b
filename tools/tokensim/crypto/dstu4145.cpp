#include "dstu4145.h"

#include <array>

#include "crypto_error.h"

namespace tokensim::crypto {

namespace {

// Nonce retries before a signature gives up; each retry is needed with probability ~2^-160.
constexpr int kSignAttempts = 64;

}  // namespace

Dstu4145Curve::Dstu4145Curve(const Dstu4145CurveParams& params) : m_(params.m) {
  fieldBytes_ = static_cast<size_t>((m_ + 7) / 8);
  BnCtxPtr ctx = NewBnCtx();
  std::vector<int> exps = params.polynomial;
  exps.push_back(-1);
  poly_ = NewBn();
  Check(BN_GF2m_arr2poly(exps.data(), poly_.get()), "BN_GF2m_arr2poly");
  a_ = NewBn();
  Check(BN_set_word(a_.get(), static_cast<BN_ULONG>(params.a)), "BN_set_word");
  b_ = BnFromHex(params.b);
  n_ = BnFromHex(params.n);
  orderBits_ = BN_num_bits(n_.get());
  scalarBytes_ = static_cast<size_t>((orderBits_ + 7) / 8);

  group_.reset(EC_GROUP_new_curve_GF2m(poly_.get(), a_.get(), b_.get(), ctx.get()));
  Check(group_ != nullptr, "EC_GROUP_new_curve_GF2m");
  PointPtr base = NewPoint(group_.get());
  BnPtr px = BnFromHex(params.px);
  BnPtr py = BnFromHex(params.py);
  Check(EC_POINT_set_affine_coordinates(group_.get(), base.get(), px.get(), py.get(), ctx.get()),
        "base point not on the curve");

  // The cofactor is the nearest integer to (2^m + 1) / n: the trace term is far below n/2.
  BnPtr q = NewBn();
  Check(BN_set_bit(q.get(), m_), "BN_set_bit");
  Check(BN_add_word(q.get(), 1), "BN_add_word");
  BnPtr half = NewBn();
  Check(BN_rshift1(half.get(), n_.get()), "BN_rshift1");
  Check(BN_add(q.get(), q.get(), half.get()), "BN_add");
  BnPtr h = NewBn();
  Check(BN_div(h.get(), nullptr, q.get(), n_.get(), ctx.get()), "BN_div");
  cofactor_ = static_cast<int>(BN_get_word(h.get()));
  Check(EC_GROUP_set_generator(group_.get(), base.get(), n_.get(), h.get()), "EC_GROUP_set_generator");
}

const Dstu4145Curve* Dstu4145Curve::ForParamSet(uint8_t paramSet) {
  // The recommended curves of DSTU 4145-2002 for m = 163, 191, 257 and 431.
  static const std::array<Dstu4145Curve, 4> curves = {
      Dstu4145Curve({163, {163, 7, 6, 3, 0}, 1, "5FF6108462A2DC8210AB403925E638A19C1455D21",
                     "400000000000000000002BEC12BE2262D39BCF14D",
                     "2E2F85F5DD74CE983A5C4237229DAF8A3F35823BE",
                     "3826F008A8C51D7B95284D9D03FF0E00CE2CD723A"}),
      Dstu4145Curve({191, {191, 9, 0}, 1, "7BC86E2102902EC4D5890E8B6B4981FF27E0482750FEFC03",
                     "40000000000000000000000069A779CAC1DABC6788F7474F",
                     "714114B762F2FF4A7912A6D2AC58B9B5C2FCFE76DAEB7129",
                     "29C41E568B77C617EFE5902F11DB96FA9613CD8D03DB08DA"}),
      Dstu4145Curve({257, {257, 12, 0}, 0,
                     "1CEF494720115657E18F938D7A7942394FF9425C1458C57861F9EEA6ADBE3BE10",
                     "800000000000000000000000000000006759213AF182E987D3E17714907D470D",
                     "2A29EF207D0E9B6C55CD260B306C7E007AC491CA1B10C62334A9E8DCD8D20FB7",
                     "10686D41FF744D4449FCCF6D8EEA03102E6812C93A9D60B978B702CF156D814EF"}),
      Dstu4145Curve({431, {431, 5, 3, 1, 0}, 1,
                     "3CE10490F6A708FC26DFE8C3D27C4F94E690134D5BFF988D8D28AAEAEDE975936C66BAC536B18AE2DC"
                     "312CA493117DAA469C640CAF3",
                     "3FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFBA3175458009A8C0A724F02F81AA8A"
                     "1FCBAF80D90C7A95110504CF",
                     "1A62BA79D98133A16BBAE7ED9A8E03C32E0824D57AEF72F88986874E5AAE49C27BED49A2A950580684"
                     "26C2171E99FD3B43C5947C857D",
                     "70B5E1E14031C1F70BBEFE96BDDE66F451754B4CA5F48DA241F331AA396B8D1839A855C1769B1EA14B"
                     "A53308B5E2723724E090E02DB9"}),
  };
  if (paramSet < 9 || paramSet > 12) return nullptr;
  return &curves[paramSet - 9];
}

int Dstu4145Curve::Trace(const BIGNUM* z, BN_CTX* ctx) const {
  // tr(z) = z + z^2 + z^4 + ... + z^(2^(m-1)); the result is 0 or 1.
  BnPtr t = NewBn();
  BnPtr acc = NewBn();
  Check(BN_copy(t.get(), z) != nullptr, "BN_copy");
  Check(BN_copy(acc.get(), z) != nullptr, "BN_copy");
  for (int i = 1; i < m_; ++i) {
    Check(BN_GF2m_mod_sqr(t.get(), t.get(), poly_.get(), ctx), "BN_GF2m_mod_sqr");
    Check(BN_GF2m_add(acc.get(), acc.get(), t.get()), "BN_GF2m_add");
  }
  return BN_is_one(acc.get()) ? 1 : 0;
}

BnPtr Dstu4145Curve::HashToField(const Bytes& value) const {
  if (value.empty()) throw CryptoError(status::kInvalidData, "empty value to sign");
  BnPtr h = BnFromLittleEndian(value.data(), value.size());
  if (BN_num_bits(h.get()) > m_) Check(BN_mask_bits(h.get(), m_), "BN_mask_bits");
  if (BN_is_zero(h.get())) Check(BN_one(h.get()), "BN_one");
  return h;
}

BnPtr Dstu4145Curve::PrivateScalar(const Bytes& privateKey) const {
  if (privateKey.size() != scalarBytes_) throw CryptoError(status::kInvalidKey, "private key length");
  BnPtr d = BnFromLittleEndian(privateKey.data(), privateKey.size());
  if (BN_is_zero(d.get()) || BN_cmp(d.get(), n_.get()) >= 0)
    throw CryptoError(status::kInvalidKey, "private key out of range");
  return d;
}

Bytes Dstu4145Curve::GeneratePrivateKey() const {
  BnPtr d = NewSecretBn();
  do {
    Check(BN_priv_rand_range(d.get(), n_.get()), "BN_priv_rand_range");
  } while (BN_is_zero(d.get()));
  return BnToLittleEndian(d.get(), scalarBytes_);
}

PointPtr Dstu4145Curve::PublicPoint(const BIGNUM* d) const {
  BnCtxPtr ctx = NewBnCtx();
  PointPtr q = NewPoint(group_.get());
  Check(EC_POINT_mul(group_.get(), q.get(), d, nullptr, nullptr, ctx.get()), "EC_POINT_mul");
  Check(EC_POINT_invert(group_.get(), q.get(), ctx.get()), "EC_POINT_invert");
  return q;
}

Bytes Dstu4145Curve::PublicKey(const Bytes& privateKey) const {
  BnPtr d = PrivateScalar(privateKey);
  return Compress(PublicPoint(d.get()).get());
}

Bytes Dstu4145Curve::Compress(const EC_POINT* point) const {
  if (EC_POINT_is_at_infinity(group_.get(), point)) throw CryptoError(status::kInvalidKey, "point at infinity");
  BnCtxPtr ctx = NewBnCtx();
  BnPtr x = NewBn();
  BnPtr y = NewBn();
  Check(EC_POINT_get_affine_coordinates(group_.get(), point, x.get(), y.get(), ctx.get()), "coordinates");
  if (BN_is_zero(x.get())) return Bytes(fieldBytes_, 0);
  // The low bit of x is implied by tr(x) = tr(a) and carries tr(y / x) instead.
  BnPtr k = NewBn();
  Check(BN_GF2m_mod_div(k.get(), y.get(), x.get(), poly_.get(), ctx.get()), "BN_GF2m_mod_div");
  if (Trace(k.get(), ctx.get()) != 0) {
    Check(BN_set_bit(x.get(), 0), "BN_set_bit");
  } else {
    Check(BN_clear_bit(x.get(), 0), "BN_clear_bit");
  }
  return BnToLittleEndian(x.get(), fieldBytes_);
}

PointPtr Dstu4145Curve::Decompress(const Bytes& compressed) const {
  if (compressed.size() != fieldBytes_) throw CryptoError(status::kBadLength, "point length");
  BnCtxPtr ctx = NewBnCtx();
  BnPtr x = BnFromLittleEndian(compressed.data(), compressed.size());
  if (BN_num_bits(x.get()) > m_) throw CryptoError(status::kInvalidKey, "point wider than the field");
  PointPtr point = NewPoint(group_.get());
  BnPtr y = NewBn();
  if (BN_is_zero(x.get())) {
    // (0, sqrt(b)) has order 2 and is refused below.
    Check(BN_GF2m_mod_sqrt(y.get(), b_.get(), poly_.get(), ctx.get()), "BN_GF2m_mod_sqrt");
  } else {
    const int k = BN_is_bit_set(x.get(), 0) ? 1 : 0;
    Check(BN_clear_bit(x.get(), 0), "BN_clear_bit");
    if (Trace(x.get(), ctx.get()) != Trace(a_.get(), ctx.get())) Check(BN_set_bit(x.get(), 0), "BN_set_bit");
    // w = x + a + b / x^2; z^2 + z = w; y = z x.
    BnPtr w = NewBn();
    Check(BN_GF2m_mod_sqr(w.get(), x.get(), poly_.get(), ctx.get()), "BN_GF2m_mod_sqr");
    Check(BN_GF2m_mod_div(w.get(), b_.get(), w.get(), poly_.get(), ctx.get()), "BN_GF2m_mod_div");
    Check(BN_GF2m_add(w.get(), w.get(), x.get()), "BN_GF2m_add");
    Check(BN_GF2m_add(w.get(), w.get(), a_.get()), "BN_GF2m_add");
    BnPtr z = NewBn();
    if (!BN_GF2m_mod_solve_quad(z.get(), w.get(), poly_.get(), ctx.get()))
      throw CryptoError(status::kInvalidKey, "no point with this x");
    if (Trace(z.get(), ctx.get()) != k) Check(BN_GF2m_add(z.get(), z.get(), BN_value_one()), "BN_GF2m_add");
    Check(BN_GF2m_mod_mul(y.get(), z.get(), x.get(), poly_.get(), ctx.get()), "BN_GF2m_mod_mul");
  }
  if (!EC_POINT_set_affine_coordinates(group_.get(), point.get(), x.get(), y.get(), ctx.get()))
    throw CryptoError(status::kInvalidKey, "point not on the curve");
  PointPtr check = NewPoint(group_.get());
  Check(EC_POINT_mul(group_.get(), check.get(), nullptr, point.get(), n_.get(), ctx.get()), "EC_POINT_mul");
  if (!EC_POINT_is_at_infinity(group_.get(), check.get()))
    throw CryptoError(status::kInvalidKey, "point outside the subgroup of order n");
  return point;
}

bool Dstu4145Curve::SignWithNonce(const BIGNUM* d, const BIGNUM* h, const BIGNUM* e, BIGNUM* r,
                                  BIGNUM* s) const {
  BnCtxPtr ctx = NewBnCtx();
  PointPtr big_r = NewPoint(group_.get());
  Check(EC_POINT_mul(group_.get(), big_r.get(), e, nullptr, nullptr, ctx.get()), "EC_POINT_mul");
  if (EC_POINT_is_at_infinity(group_.get(), big_r.get())) return false;
  BnPtr f = NewBn();
  Check(EC_POINT_get_affine_coordinates(group_.get(), big_r.get(), f.get(), nullptr, ctx.get()), "coordinates");
  if (BN_is_zero(f.get())) return false;
  Check(BN_GF2m_mod_mul(r, h, f.get(), poly_.get(), ctx.get()), "BN_GF2m_mod_mul");
  if (BN_num_bits(r) > orderBits_ - 1) Check(BN_mask_bits(r, orderBits_ - 1), "BN_mask_bits");
  if (BN_is_zero(r)) return false;
  BnPtr dr = NewSecretBn();
  Check(BN_mod_mul(dr.get(), d, r, n_.get(), ctx.get()), "BN_mod_mul");
  Check(BN_mod_add(s, e, dr.get(), n_.get(), ctx.get()), "BN_mod_add");
  return !BN_is_zero(s);
}

Bytes Dstu4145Curve::Sign(const Bytes& privateKey, const Bytes& value) const {
  BnPtr d = PrivateScalar(privateKey);
  BnPtr h = HashToField(value);
  BnPtr e = NewSecretBn();
  BnPtr r = NewBn();
  BnPtr s = NewBn();
  for (int attempt = 0; attempt < kSignAttempts; ++attempt) {
    do {
      Check(BN_priv_rand_range(e.get(), n_.get()), "BN_priv_rand_range");
    } while (BN_is_zero(e.get()));
    if (SignWithNonce(d.get(), h.get(), e.get(), r.get(), s.get())) {
      Bytes signature = BnToLittleEndian(r.get(), scalarBytes_);
      Bytes sPart = BnToLittleEndian(s.get(), scalarBytes_);
      signature.insert(signature.end(), sPart.begin(), sPart.end());
      return signature;
    }
  }
  throw CryptoError(status::kInternal, "no usable nonce");
}

bool Dstu4145Curve::VerifyValues(const EC_POINT* q, const BIGNUM* h, const BIGNUM* r, const BIGNUM* s) const {
  if (BN_is_zero(r) || BN_is_zero(s) || BN_cmp(r, n_.get()) >= 0 || BN_cmp(s, n_.get()) >= 0) return false;
  BnCtxPtr ctx = NewBnCtx();
  PointPtr big_r = NewPoint(group_.get());
  Check(EC_POINT_mul(group_.get(), big_r.get(), s, q, r, ctx.get()), "EC_POINT_mul");
  if (EC_POINT_is_at_infinity(group_.get(), big_r.get())) return false;
  BnPtr x = NewBn();
  Check(EC_POINT_get_affine_coordinates(group_.get(), big_r.get(), x.get(), nullptr, ctx.get()), "coordinates");
  BnPtr y = NewBn();
  Check(BN_GF2m_mod_mul(y.get(), h, x.get(), poly_.get(), ctx.get()), "BN_GF2m_mod_mul");
  if (BN_num_bits(y.get()) > orderBits_ - 1) Check(BN_mask_bits(y.get(), orderBits_ - 1), "BN_mask_bits");
  return BN_cmp(y.get(), r) == 0;
}

bool Dstu4145Curve::Verify(const Bytes& publicKey, const Bytes& signature, const Bytes& value) const {
  PointPtr q = Decompress(publicKey);
  if (signature.size() != SignatureBytes()) throw CryptoError(status::kBadLength, "signature length");
  BnPtr h = HashToField(value);
  BnPtr r = BnFromLittleEndian(signature.data(), scalarBytes_);
  BnPtr s = BnFromLittleEndian(signature.data() + scalarBytes_, scalarBytes_);
  return VerifyValues(q.get(), h.get(), r.get(), s.get());
}

Bytes Dstu4145Curve::SharedSecret(const Bytes& privateKey, const Bytes& peerPoint, bool cofactor) const {
  BnPtr d = PrivateScalar(privateKey);
  PointPtr peer = Decompress(peerPoint);
  BnCtxPtr ctx = NewBnCtx();
  if (cofactor) {
    Check(BN_mul_word(d.get(), static_cast<BN_ULONG>(cofactor_)), "BN_mul_word");
    Check(BN_nnmod(d.get(), d.get(), n_.get(), ctx.get()), "BN_nnmod");
  }
  PointPtr shared = NewPoint(group_.get());
  Check(EC_POINT_mul(group_.get(), shared.get(), nullptr, peer.get(), d.get(), ctx.get()), "EC_POINT_mul");
  if (EC_POINT_is_at_infinity(group_.get(), shared.get())) throw CryptoError(status::kInvalidKey, "shared point at infinity");
  BnPtr x = NewSecretBn();
  Check(EC_POINT_get_affine_coordinates(group_.get(), shared.get(), x.get(), nullptr, ctx.get()), "coordinates");
  return BnToLittleEndian(x.get(), fieldBytes_);
}

}  // namespace tokensim::crypto

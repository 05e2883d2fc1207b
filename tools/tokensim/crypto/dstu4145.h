// DSTU 4145-2002 on a curve y^2 + xy = x^3 + a x^2 + b over GF(2^m), polynomial basis.
//
// Encodings (the conventions of Ukrainian public-key infrastructure):
// - field elements and compressed points: ceil(m/8) bytes, least significant byte first;
// - private key d: ceil(L(n)/8) bytes, least significant byte first;
// - signature: r || s, each ceil(L(n)/8) bytes, least significant byte first;
// - value to sign: read as a little-endian integer, low m bits kept (0 becomes 1).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ossl_util.h"
#include "token_crypto.h"

namespace tokensim::crypto {

struct Dstu4145CurveParams {
  int m;
  std::vector<int> polynomial;  // exponents of f(x), highest first, ending with 0
  int a;                        // 0 or 1
  const char* b;                // hexadecimal, most significant digit first
  const char* n;
  const char* px;
  const char* py;
};

class Dstu4145Curve {
 public:
  explicit Dstu4145Curve(const Dstu4145CurveParams& params);

  // The curve of a device parameter set 9..12; nullptr for any other set.
  static const Dstu4145Curve* ForParamSet(uint8_t paramSet);

  size_t FieldBytes() const { return fieldBytes_; }
  size_t ScalarBytes() const { return scalarBytes_; }
  size_t SignatureBytes() const { return 2 * scalarBytes_; }
  int Cofactor() const { return cofactor_; }
  const EC_GROUP* Group() const { return group_.get(); }

  Bytes GeneratePrivateKey() const;
  // Q = -dP, compressed. Throws kInvalidKey for a blob that is not a key of this curve.
  Bytes PublicKey(const Bytes& privateKey) const;
  Bytes Sign(const Bytes& privateKey, const Bytes& value) const;
  // False when the signature does not verify; throws for a malformed key or signature.
  bool Verify(const Bytes& publicKey, const Bytes& signature, const Bytes& value) const;
  // x of (d·peer), or of (c·d·peer) with the curve's cofactor c, as a field element.
  Bytes SharedSecret(const Bytes& privateKey, const Bytes& peerPoint, bool cofactor) const;

  // Building blocks, public for known-answer tests.
  BnPtr HashToField(const Bytes& value) const;
  // One signing attempt with the nonce e; false when the standard asks for a new nonce.
  bool SignWithNonce(const BIGNUM* d, const BIGNUM* h, const BIGNUM* e, BIGNUM* r, BIGNUM* s) const;
  bool VerifyValues(const EC_POINT* q, const BIGNUM* h, const BIGNUM* r, const BIGNUM* s) const;
  Bytes Compress(const EC_POINT* point) const;
  // Throws kInvalidKey when the value is no point of the curve's subgroup of order n.
  PointPtr Decompress(const Bytes& compressed) const;
  PointPtr PublicPoint(const BIGNUM* d) const;
  BnPtr PrivateScalar(const Bytes& privateKey) const;

 private:
  int Trace(const BIGNUM* z, BN_CTX* ctx) const;

  int m_;
  size_t fieldBytes_;
  size_t scalarBytes_;
  int orderBits_;
  int cofactor_;
  BnPtr poly_;
  BnPtr a_;
  BnPtr b_;
  BnPtr n_;
  GroupPtr group_;
};

}  // namespace tokensim::crypto

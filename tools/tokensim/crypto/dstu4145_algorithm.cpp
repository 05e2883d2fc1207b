#include "dstu4145_algorithm.h"

#include <openssl/crypto.h>

#include "crypto_error.h"
#include "dstu4145.h"
#include "gost34311.h"

namespace tokensim::crypto {

namespace {
const Dstu4145Curve& CurveFor(uint8_t paramSet) {
  const Dstu4145Curve* curve = Dstu4145Curve::ForParamSet(paramSet);
  if (curve == nullptr) throw CryptoError(status::kUnsupportedParamSet, "not a DSTU 4145 parameter set");
  return *curve;
}
}  // namespace

void Dstu4145Algorithm::Generate(uint8_t paramSet, Bytes& privateBlob, Bytes& publicKey) const {
  const Dstu4145Curve& curve = CurveFor(paramSet);
  privateBlob = curve.GeneratePrivateKey();
  publicKey = curve.PublicKey(privateBlob);
}

void Dstu4145Algorithm::Load(uint8_t paramSet, const Bytes& blob, Bytes& privateBlob, Bytes& publicKey) const {
  const Dstu4145Curve& curve = CurveFor(paramSet);
  if (blob.size() != curve.ScalarBytes()) throw CryptoError(status::kBadLength, "DSTU key blob length");
  publicKey = curve.PublicKey(blob);
  privateBlob = blob;
}

Bytes Dstu4145Algorithm::Sign(uint8_t paramSet, const Bytes& privateBlob, const Bytes& data) const {
  return CurveFor(paramSet).Sign(privateBlob, data);
}

bool Dstu4145Algorithm::Verify(uint8_t paramSet, const Bytes& publicKey, const Bytes& signature,
                               const Bytes& data) const {
  return CurveFor(paramSet).Verify(publicKey, signature, data);
}

Bytes Dstu4145Algorithm::CommonKey(uint8_t paramSet, const Bytes& privateBlob, const Bytes& peerPoint, bool cofactor,
                                   const Bytes& sbox, uint32_t counter, const Bytes& sharedInfo) const {
  const Dstu4145Curve& curve = CurveFor(paramSet);
  if (sbox.size() != Gost34311::kSboxBytes) throw CryptoError(status::kBadLength, "S-box is not 64 bytes");
  Bytes z = curve.SharedSecret(privateBlob, peerPoint, cofactor);
  WipeOnExit wipeZ(z);
  // X9.63-style derivation: GOST 34.311 over Z || counter (big-endian) || SharedInfo.
  const uint8_t counterBytes[4] = {static_cast<uint8_t>(counter >> 24), static_cast<uint8_t>(counter >> 16),
                                   static_cast<uint8_t>(counter >> 8), static_cast<uint8_t>(counter)};
  Gost34311 hash(sbox.data());
  hash.Update(z.data(), z.size());
  hash.Update(counterBytes, sizeof counterBytes);
  hash.Update(sharedInfo.data(), sharedInfo.size());
  Gost34311::Block key = hash.Final();
  Bytes out(key.begin(), key.end());
  OPENSSL_cleanse(key.data(), key.size());
  return out;
}

}  // namespace tokensim::crypto

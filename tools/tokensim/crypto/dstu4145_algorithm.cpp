#include "dstu4145_algorithm.h"

#include "crypto_error.h"
#include "dstu4145.h"

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

Bytes Dstu4145Algorithm::CommonKey(uint8_t, const Bytes&, const Bytes&, bool, const Bytes&, uint32_t,
                                   const Bytes&) const {
  throw CryptoError(status::kInternal, "key agreement not built yet");
}

}  // namespace tokensim::crypto

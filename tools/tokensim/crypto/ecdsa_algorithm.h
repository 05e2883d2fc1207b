#pragma once

#include "key_algorithm.h"

namespace tokensim::crypto {

// ECDSA on P-192 (set 14), P-256 (15) and P-521 (16). Private blob d big-endian, padded to the
// curve's byte length; public key the uncompressed point 04 || X || Y; signatures as the DER
// SEQUENCE { INTEGER r, INTEGER s } over the value the host sends (at most 128 bytes, taken as
// a hash and truncated to the order's bit length as ECDSA does).
class EcdsaAlgorithm : public KeyAlgorithm {
 public:
  void Generate(uint8_t paramSet, Bytes& privateBlob, Bytes& publicKey) const override;
  void Load(uint8_t paramSet, const Bytes& blob, Bytes& privateBlob, Bytes& publicKey) const override;
  Bytes Sign(uint8_t paramSet, const Bytes& privateBlob, const Bytes& data) const override;
  bool Verify(uint8_t paramSet, const Bytes& publicKey, const Bytes& signature, const Bytes& data) const override;
};

}  // namespace tokensim::crypto

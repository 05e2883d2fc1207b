#pragma once

#include "key_algorithm.h"

namespace tokensim::crypto {

// DSTU 4145-2002 on parameter sets 9..12: private blob d (little-endian, ceil(L(n)/8) bytes),
// public key the compressed point (little-endian, ceil(m/8) bytes).
class Dstu4145Algorithm : public KeyAlgorithm {
 public:
  void Generate(uint8_t paramSet, Bytes& privateBlob, Bytes& publicKey) const override;
  void Load(uint8_t paramSet, const Bytes& blob, Bytes& privateBlob, Bytes& publicKey) const override;
  Bytes Sign(uint8_t paramSet, const Bytes& privateBlob, const Bytes& data) const override;
  bool Verify(uint8_t paramSet, const Bytes& publicKey, const Bytes& signature, const Bytes& data) const override;
  // Key agreement followed by the GOST 34.311 key derivation (see README.md).
  Bytes CommonKey(uint8_t paramSet, const Bytes& privateBlob, const Bytes& peerPoint, bool cofactor,
                  const Bytes& sbox, uint32_t counter, const Bytes& sharedInfo) const override;
};

}  // namespace tokensim::crypto

#pragma once

#include "key_algorithm.h"

namespace tokensim::crypto {

// Raw RSA with e = 65537 on sets 13, 6, 7, 8 (512, 1024, 1536, 2048 bits). The private blob is
// the host's import blob: n, d, p, q, d mod (p-1), d mod (q-1), q^-1 mod p, each a 16-bit
// big-endian length and the big-endian value. The public key is the device blob
// N (u16 big-endian), n (N bytes), 00 03, 01 00 01. Padding is the host's business.
class RsaAlgorithm : public KeyAlgorithm {
 public:
  void Generate(uint8_t paramSet, Bytes& privateBlob, Bytes& publicKey) const override;
  void Load(uint8_t paramSet, const Bytes& blob, Bytes& privateBlob, Bytes& publicKey) const override;
  // Raw private operation on the block the host built.
  Bytes Sign(uint8_t paramSet, const Bytes& privateBlob, const Bytes& data) const override;
  // The raw public operation of the signature must give the data (left-padded with zeros).
  bool Verify(uint8_t paramSet, const Bytes& publicKey, const Bytes& signature, const Bytes& data) const override;
  Bytes Encrypt(uint8_t paramSet, const Bytes& publicKey, const Bytes& data) const override;
  Bytes Decrypt(uint8_t paramSet, const Bytes& privateBlob, const Bytes& data) const override;
};

}  // namespace tokensim::crypto

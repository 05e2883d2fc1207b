// One key algorithm family of the token (DSTU 4145, RSA or ECDSA) behind the token commands.
// Implementations throw CryptoError with the status the command answers; an operation the
// family does not offer answers 36 (unsupported parameter set).
#pragma once

#include <cstdint>

#include "token_crypto.h"

namespace tokensim::crypto {

class KeyAlgorithm {
 public:
  virtual ~KeyAlgorithm() = default;

  // A fresh key pair: the private blob and the public key as GenerateKey answers it.
  virtual void Generate(uint8_t paramSet, Bytes& privateBlob, Bytes& publicKey) const = 0;
  // Checks a key blob as the host sends it; fills the stored private blob and the public key.
  virtual void Load(uint8_t paramSet, const Bytes& blob, Bytes& privateBlob, Bytes& publicKey) const;
  virtual Bytes Sign(uint8_t paramSet, const Bytes& privateBlob, const Bytes& data) const = 0;
  virtual bool Verify(uint8_t paramSet, const Bytes& publicKey, const Bytes& signature,
                      const Bytes& data) const = 0;
  virtual Bytes Encrypt(uint8_t paramSet, const Bytes& publicKey, const Bytes& data) const;
  virtual Bytes Decrypt(uint8_t paramSet, const Bytes& privateBlob, const Bytes& data) const;
  virtual Bytes CommonKey(uint8_t paramSet, const Bytes& privateBlob, const Bytes& peerPoint, bool cofactor,
                          const Bytes& sbox, uint32_t counter, const Bytes& sharedInfo) const;

  // The family of a parameter set; throws CryptoError(36) for a set the token does not know.
  static const KeyAlgorithm& For(uint8_t paramSet);
};

}  // namespace tokensim::crypto

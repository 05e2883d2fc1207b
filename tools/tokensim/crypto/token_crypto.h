// On-token cryptography of the simulated token: DSTU 4145 (parameter sets 9..12), RSA
// (parameter sets 13, 6, 7, 8: 512, 1024, 1536, 2048 bits, e = 65537) and ECDSA
// (14, 15, 16: P-192, P-256, P-521), computed with OpenSSL.
//
// Every function returns the device status byte the command answers with: 0 success, otherwise
// a status of the token's table (18 signature does not verify, 36 unsupported parameter set,
// 37 invalid key, 38 invalid data, 39 bad length, 11 internal error). Byte strings are exactly
// what travels in the command's request or answer fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tokensim::crypto {

using Bytes = std::vector<uint8_t>;

// A key slot's content: the parameter set and the private key in the simulator's own blob
// form, plus the public key as GenerateKey answers it.
struct KeySlot {
  uint8_t paramSet = 0;
  Bytes privateBlob;
  Bytes publicKey;
};

namespace status {
constexpr uint8_t kOk = 0;
constexpr uint8_t kInternal = 11;
constexpr uint8_t kSignatureInvalid = 18;
constexpr uint8_t kUnsupportedParamSet = 36;
constexpr uint8_t kInvalidKey = 37;
constexpr uint8_t kInvalidData = 38;
constexpr uint8_t kBadLength = 39;
}  // namespace status

// GenerateKey (A2): a new key pair on the parameter set; `slot` receives it.
uint8_t GenerateKey(uint8_t paramSet, KeySlot& slot);

// LoadKey (B0): a key blob as the host sends it; `slot` receives the key.
uint8_t LoadKey(uint8_t paramSet, const Bytes& blob, KeySlot& slot);

// Sign (A4) with the slot's private key over the data the host sends.
uint8_t Sign(const KeySlot& slot, const Bytes& data, Bytes& signature);

// Verify (A5): 0 when the signature verifies, 18 when it does not.
uint8_t Verify(uint8_t paramSet, const Bytes& publicKey, const Bytes& signature, const Bytes& data);

// Encrypt (A8) with a public key given in the request (RSA).
uint8_t Encrypt(uint8_t paramSet, const Bytes& publicKey, const Bytes& data, Bytes& result);

// Decrypt (A9) with the slot's private key (RSA).
uint8_t Decrypt(const KeySlot& slot, const Bytes& data, Bytes& result);

// GetCommonKey (A7): DSTU 4145 key agreement with the slot's private key and a peer's public
// point; `cofactor` is the request's flag byte; the two blocks and the word are passed as sent.
uint8_t GetCommonKey(const KeySlot& slot, const Bytes& peerPoint, uint8_t cofactor,
                     const Bytes& firstBlock, uint32_t word, const Bytes& secondBlock,
                     Bytes& sharedKey);

// Overwrites the slot's private blob and empties the slot (key deleted or slot reused).
void ClearKeySlot(KeySlot& slot);

// Fills `out` with random bytes from OpenSSL's generator.
void RandomBytes(uint8_t* out, size_t n);

}  // namespace tokensim::crypto

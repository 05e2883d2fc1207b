// Placeholder until the algorithms land: every key operation answers "not implemented" (7).
#include "token_crypto.h"

#include <openssl/rand.h>

namespace tokensim::crypto {
namespace {
constexpr uint8_t kNotImplemented = 7;
}
uint8_t GenerateKey(uint8_t, KeySlot&) { return kNotImplemented; }
uint8_t LoadKey(uint8_t, const Bytes&, KeySlot&) { return kNotImplemented; }
uint8_t Sign(const KeySlot&, const Bytes&, Bytes&) { return kNotImplemented; }
uint8_t Verify(uint8_t, const Bytes&, const Bytes&, const Bytes&) { return kNotImplemented; }
uint8_t Encrypt(uint8_t, const Bytes&, const Bytes&, Bytes&) { return kNotImplemented; }
uint8_t Decrypt(const KeySlot&, const Bytes&, Bytes&) { return kNotImplemented; }
uint8_t GetCommonKey(const KeySlot&, const Bytes&, uint8_t, const Bytes&, uint32_t, const Bytes&, Bytes&) {
  return kNotImplemented;
}
void RandomBytes(uint8_t* out, size_t n) { RAND_bytes(out, static_cast<int>(n)); }
}  // namespace tokensim::crypto

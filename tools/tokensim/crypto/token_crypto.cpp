#include "token_crypto.h"

#include <openssl/err.h>
#include <openssl/rand.h>

#include <new>

#include "crypto_error.h"
#include "key_algorithm.h"
#include "ossl_util.h"

namespace tokensim::crypto {

namespace {

// Runs one command body; every failure becomes the status the command answers with.
template <typename Body>
uint8_t Run(Body&& body) {
  uint8_t result = status::kOk;
  try {
    body();
  } catch (const CryptoError& e) {
    result = e.status();
  } catch (const std::bad_alloc&) {
    result = status::kInternal;
  }
  ERR_clear_error();  // refused inputs leave OpenSSL's error queue filled
  return result;
}

}  // namespace

uint8_t GenerateKey(uint8_t paramSet, KeySlot& slot) {
  return Run([&] {
    KeySlot fresh;
    fresh.paramSet = paramSet;
    KeyAlgorithm::For(paramSet).Generate(paramSet, fresh.privateBlob, fresh.publicKey);
    Wipe(slot.privateBlob);
    slot = std::move(fresh);
  });
}

uint8_t LoadKey(uint8_t paramSet, const Bytes& blob, KeySlot& slot) {
  return Run([&] {
    KeySlot loaded;
    loaded.paramSet = paramSet;
    KeyAlgorithm::For(paramSet).Load(paramSet, blob, loaded.privateBlob, loaded.publicKey);
    Wipe(slot.privateBlob);
    slot = std::move(loaded);
  });
}

uint8_t Sign(const KeySlot& slot, const Bytes& data, Bytes& signature) {
  return Run([&] { signature = KeyAlgorithm::For(slot.paramSet).Sign(slot.paramSet, slot.privateBlob, data); });
}

uint8_t Verify(uint8_t paramSet, const Bytes& publicKey, const Bytes& signature, const Bytes& data) {
  return Run([&] {
    if (!KeyAlgorithm::For(paramSet).Verify(paramSet, publicKey, signature, data))
      throw CryptoError(status::kSignatureInvalid, "signature does not verify");
  });
}

uint8_t Encrypt(uint8_t paramSet, const Bytes& publicKey, const Bytes& data, Bytes& result) {
  return Run([&] { result = KeyAlgorithm::For(paramSet).Encrypt(paramSet, publicKey, data); });
}

uint8_t Decrypt(const KeySlot& slot, const Bytes& data, Bytes& result) {
  return Run([&] { result = KeyAlgorithm::For(slot.paramSet).Decrypt(slot.paramSet, slot.privateBlob, data); });
}

uint8_t GetCommonKey(const KeySlot& slot, const Bytes& peerPoint, uint8_t cofactor, const Bytes& firstBlock,
                     uint32_t word, const Bytes& secondBlock, Bytes& sharedKey) {
  return Run([&] {
    if (cofactor > 1) throw CryptoError(status::kInvalidData, "cofactor flag is neither 0 nor 1");
    sharedKey = KeyAlgorithm::For(slot.paramSet)
                    .CommonKey(slot.paramSet, slot.privateBlob, peerPoint, cofactor == 1, firstBlock, word,
                               secondBlock);
  });
}

void ClearKeySlot(KeySlot& slot) {
  Wipe(slot.privateBlob);
  slot.publicKey.clear();
  slot.paramSet = 0;
}

void RandomBytes(uint8_t* out, size_t n) {
  if (n == 0) return;
  if (RAND_bytes(out, static_cast<int>(n)) != 1) throw std::runtime_error("random generator failed");
}

}  // namespace tokensim::crypto

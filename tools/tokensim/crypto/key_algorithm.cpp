#include "key_algorithm.h"

#include "crypto_error.h"
#include "dstu4145_algorithm.h"
#include "ecdsa_algorithm.h"
#include "rsa_algorithm.h"

namespace tokensim::crypto {

namespace {
[[noreturn]] void Unsupported() {
  throw CryptoError(status::kUnsupportedParamSet, "operation not offered for this parameter set");
}
}  // namespace

void KeyAlgorithm::Load(uint8_t, const Bytes&, Bytes&, Bytes&) const { Unsupported(); }
Bytes KeyAlgorithm::Encrypt(uint8_t, const Bytes&, const Bytes&) const { Unsupported(); }
Bytes KeyAlgorithm::Decrypt(uint8_t, const Bytes&, const Bytes&) const { Unsupported(); }
Bytes KeyAlgorithm::CommonKey(uint8_t, const Bytes&, const Bytes&, bool, const Bytes&, uint32_t,
                              const Bytes&) const {
  Unsupported();
}

const KeyAlgorithm& KeyAlgorithm::For(uint8_t paramSet) {
  static const Dstu4145Algorithm dstu;
  static const RsaAlgorithm rsa;
  static const EcdsaAlgorithm ecdsa;
  switch (paramSet) {
    case 6:
    case 7:
    case 8:
    case 13:
      return rsa;
    case 14:
    case 15:
    case 16:
      return ecdsa;
    case 9:
    case 10:
    case 11:
    case 12:
      return dstu;
    default:
      Unsupported();
  }
}

}  // namespace tokensim::crypto

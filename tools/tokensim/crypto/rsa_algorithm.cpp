#include "rsa_algorithm.h"

#include <openssl/core_names.h>
#include <openssl/rsa.h>

#include <array>

#include "crypto_error.h"
#include "ossl_util.h"

namespace tokensim::crypto {

namespace {

constexpr unsigned long kPublicExponent = 65537;
constexpr uint8_t kExponentTail[5] = {0x00, 0x03, 0x01, 0x00, 0x01};

// Modulus bytes N of a parameter set.
size_t ModulusBytes(uint8_t paramSet) {
  switch (paramSet) {
    case 13: return 64;
    case 6: return 128;
    case 7: return 192;
    case 8: return 256;
    default: throw CryptoError(status::kUnsupportedParamSet, "not an RSA parameter set");
  }
}

// Blob component order; the names are OpenSSL's parameter names.
constexpr std::array<const char*, 7> kComponents = {
    OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
    OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
    OSSL_PKEY_PARAM_RSA_COEFFICIENT1};

using Components = std::array<BnPtr, 7>;

Components ParseBlob(const Bytes& blob) {
  Components parts;
  size_t pos = 0;
  for (BnPtr& part : parts) {
    if (blob.size() - pos < 2) throw CryptoError(status::kBadLength, "RSA blob truncated");
    const size_t len = (size_t{blob[pos]} << 8) | blob[pos + 1];
    pos += 2;
    if (len == 0 || blob.size() - pos < len) throw CryptoError(status::kBadLength, "RSA blob truncated");
    part = BnFromBigEndian(blob.data() + pos, len);
    pos += len;
  }
  if (pos != blob.size()) throw CryptoError(status::kBadLength, "bytes after the RSA blob");
  return parts;
}

Bytes BuildBlob(const Components& parts, size_t modulusBytes) {
  Bytes blob;
  for (size_t i = 0; i < parts.size(); ++i) {
    // n and d at the modulus width, the CRT values at half of it.
    const size_t width = i < 2 ? modulusBytes : modulusBytes / 2;
    Bytes value = BnToBigEndian(parts[i].get(), width);
    blob.push_back(static_cast<uint8_t>(width >> 8));
    blob.push_back(static_cast<uint8_t>(width));
    blob.insert(blob.end(), value.begin(), value.end());
    Wipe(value);
  }
  return blob;
}

Bytes PublicBlob(const BIGNUM* n, size_t modulusBytes) {
  Bytes blob = {static_cast<uint8_t>(modulusBytes >> 8), static_cast<uint8_t>(modulusBytes)};
  Bytes modulus = BnToBigEndian(n, modulusBytes);
  blob.insert(blob.end(), modulus.begin(), modulus.end());
  blob.insert(blob.end(), std::begin(kExponentTail), std::end(kExponentTail));
  return blob;
}

void CheckModulus(const BIGNUM* n, size_t modulusBytes) {
  if (BN_num_bytes(n) != static_cast<int>(modulusBytes) || !BN_is_odd(n))
    throw CryptoError(status::kInvalidKey, "modulus does not fit the parameter set");
}

// An EVP key from n alone (public) or from all seven components (private).
PkeyPtr MakeKey(const BIGNUM* n, const Components* parts) {
  ParamBldPtr bld = NewParamBld();
  BnPtr e = NewBn();
  Check(BN_set_word(e.get(), kPublicExponent), "BN_set_word");
  Check(OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, n), "n");
  Check(OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, e.get()), "e");
  if (parts != nullptr) {
    for (size_t i = 1; i < kComponents.size(); ++i)
      Check(OSSL_PARAM_BLD_push_BN(bld.get(), kComponents[i], (*parts)[i].get()), kComponents[i]);
  }
  return PkeyFromParams("RSA", bld.get(), parts != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY);
}

BnPtr ParsePublicBlob(uint8_t paramSet, const Bytes& blob) {
  const size_t modulusBytes = ModulusBytes(paramSet);
  if (blob.size() != modulusBytes + 7 || ((size_t{blob[0]} << 8) | blob[1]) != modulusBytes)
    throw CryptoError(status::kBadLength, "RSA public key blob length");
  if (!std::equal(std::begin(kExponentTail), std::end(kExponentTail), blob.end() - 5))
    throw CryptoError(status::kInvalidKey, "RSA public exponent is not 65537");
  BnPtr n = BnFromBigEndian(blob.data() + 2, modulusBytes);
  CheckModulus(n.get(), modulusBytes);
  return n;
}

// The input as an N-byte block below the modulus.
Bytes Block(const Bytes& data, const BIGNUM* n, size_t modulusBytes) {
  if (data.empty() || data.size() > modulusBytes) throw CryptoError(status::kBadLength, "RSA input length");
  Bytes block(modulusBytes - data.size(), 0);
  block.insert(block.end(), data.begin(), data.end());
  BnPtr value = BnFromBigEndian(block.data(), block.size());
  if (BN_cmp(value.get(), n) >= 0) {
    Wipe(block);
    throw CryptoError(status::kInvalidData, "RSA input not below the modulus");
  }
  return block;
}

enum class Direction { kPublic, kPrivate };

Bytes RawOperation(EVP_PKEY* key, Direction direction, const Bytes& block) {
  PkeyCtxPtr ctx = NewPkeyCtx(key);
  const bool isPublic = direction == Direction::kPublic;
  Check(isPublic ? EVP_PKEY_encrypt_init(ctx.get()) : EVP_PKEY_decrypt_init(ctx.get()), "init");
  Check(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING), "RSA_NO_PADDING");
  Bytes out(block.size());
  size_t length = out.size();
  const int ok = isPublic ? EVP_PKEY_encrypt(ctx.get(), out.data(), &length, block.data(), block.size())
                          : EVP_PKEY_decrypt(ctx.get(), out.data(), &length, block.data(), block.size());
  if (ok <= 0) {
    Wipe(out);
    throw CryptoError(status::kInternal, "raw RSA operation failed");
  }
  out.resize(length);
  return out;
}

struct PrivateKey {
  Components parts;
  PkeyPtr key;
  size_t modulusBytes;
};

PrivateKey LoadPrivate(uint8_t paramSet, const Bytes& blob) {
  PrivateKey k{ParseBlob(blob), nullptr, ModulusBytes(paramSet)};
  CheckModulus(k.parts[0].get(), k.modulusBytes);
  k.key = MakeKey(k.parts[0].get(), &k.parts);
  return k;
}

}  // namespace

void RsaAlgorithm::Generate(uint8_t paramSet, Bytes& privateBlob, Bytes& publicKey) const {
  const size_t modulusBytes = ModulusBytes(paramSet);
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  Check(ctx != nullptr, "EVP_PKEY_CTX_new_from_name");
  Check(EVP_PKEY_keygen_init(ctx.get()), "EVP_PKEY_keygen_init");
  Check(EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(modulusBytes * 8)), "bits");
  EVP_PKEY* raw = nullptr;
  Check(EVP_PKEY_generate(ctx.get(), &raw), "EVP_PKEY_generate");
  PkeyPtr key(raw);
  Components parts;
  for (size_t i = 0; i < kComponents.size(); ++i) {
    BIGNUM* bn = nullptr;
    Check(EVP_PKEY_get_bn_param(key.get(), kComponents[i], &bn), kComponents[i]);
    parts[i].reset(bn);
  }
  CheckModulus(parts[0].get(), modulusBytes);
  publicKey = PublicBlob(parts[0].get(), modulusBytes);
  privateBlob = BuildBlob(parts, modulusBytes);
}

void RsaAlgorithm::Load(uint8_t paramSet, const Bytes& blob, Bytes& privateBlob, Bytes& publicKey) const {
  PrivateKey k = LoadPrivate(paramSet, blob);
  // The components must form one key: p q = n, e d = 1 and the CRT values.
  PkeyCtxPtr ctx = NewPkeyCtx(k.key.get());
  if (EVP_PKEY_pairwise_check(ctx.get()) != 1) throw CryptoError(status::kInvalidKey, "RSA components disagree");
  publicKey = PublicBlob(k.parts[0].get(), k.modulusBytes);
  privateBlob = blob;
}

Bytes RsaAlgorithm::Sign(uint8_t paramSet, const Bytes& privateBlob, const Bytes& data) const {
  return Decrypt(paramSet, privateBlob, data);
}

Bytes RsaAlgorithm::Decrypt(uint8_t paramSet, const Bytes& privateBlob, const Bytes& data) const {
  PrivateKey k = LoadPrivate(paramSet, privateBlob);
  Bytes block = Block(data, k.parts[0].get(), k.modulusBytes);
  WipeOnExit wipe(block);
  return RawOperation(k.key.get(), Direction::kPrivate, block);
}

Bytes RsaAlgorithm::Encrypt(uint8_t paramSet, const Bytes& publicKey, const Bytes& data) const {
  BnPtr n = ParsePublicBlob(paramSet, publicKey);
  PkeyPtr key = MakeKey(n.get(), nullptr);
  return RawOperation(key.get(), Direction::kPublic, Block(data, n.get(), ModulusBytes(paramSet)));
}

bool RsaAlgorithm::Verify(uint8_t paramSet, const Bytes& publicKey, const Bytes& signature,
                          const Bytes& data) const {
  const size_t modulusBytes = ModulusBytes(paramSet);
  BnPtr n = ParsePublicBlob(paramSet, publicKey);
  if (signature.size() != modulusBytes) throw CryptoError(status::kBadLength, "RSA signature length");
  if (data.empty() || data.size() > modulusBytes) return false;
  BnPtr s = BnFromBigEndian(signature.data(), signature.size());
  if (BN_cmp(s.get(), n.get()) >= 0) return false;
  PkeyPtr key = MakeKey(n.get(), nullptr);
  const Bytes recovered = RawOperation(key.get(), Direction::kPublic, signature);
  Bytes expected(modulusBytes - data.size(), 0);
  expected.insert(expected.end(), data.begin(), data.end());
  return recovered == expected;
}

}  // namespace tokensim::crypto

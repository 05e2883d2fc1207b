// OpenSSL's own view of the keys the simulator answers with, for independent checks.
#pragma once

#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "token_crypto.h"

namespace tokensim::crypto::testing {

struct EvpPkeyDeleter {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using EvpKey = std::unique_ptr<EVP_PKEY, EvpPkeyDeleter>;

// A public key built by OpenSSL from parameters: the modulus (RSA, e = 65537) or a named
// curve and an uncompressed point (EC).
inline EvpKey PublicKeyFromParams(const char* type, const std::string& group, const Bytes& modulusOrPoint) {
  OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
  BIGNUM* n = nullptr;
  BIGNUM* e = nullptr;
  if (group.empty()) {
    n = BN_bin2bn(modulusOrPoint.data(), static_cast<int>(modulusOrPoint.size()), nullptr);
    e = BN_new();
    BN_set_word(e, 65537);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e);
  } else {
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, group.c_str(), 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, modulusOrPoint.data(), modulusOrPoint.size());
  }
  OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr);
  EVP_PKEY* key = nullptr;
  EVP_PKEY_fromdata_init(ctx);
  EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params);
  EVP_PKEY_CTX_free(ctx);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(bld);
  BN_free(n);
  BN_free(e);
  return EvpKey(key);
}

// Verifies `signature` over `message` with the digest and OpenSSL's default padding.
inline bool EvpVerify(EVP_PKEY* key, const char* digest, const Bytes& message, const Bytes& signature) {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  bool ok = EVP_DigestVerifyInit_ex(md, nullptr, digest, nullptr, nullptr, key, nullptr) == 1 &&
            EVP_DigestVerify(md, signature.data(), signature.size(), message.data(), message.size()) == 1;
  EVP_MD_CTX_free(md);
  return ok;
}

// The digest of the message by OpenSSL's name of the digest ("SHA384").
inline Bytes Digest(const char* name, const Bytes& message) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  EVP_Digest(message.data(), message.size(), out.data(), &length, EVP_get_digestbyname(name), nullptr);
  out.resize(length);
  return out;
}

inline Bytes Sha256(const Bytes& message) {
  Bytes out(32);
  unsigned int len = 0;
  EVP_Digest(message.data(), message.size(), out.data(), &len, EVP_sha256(), nullptr);
  return out;
}

// OpenSSL's verdict on an ECDSA signature r||s (equal halves) over the digest, with the key built
// from the curve's name and the uncompressed point.
inline bool EcdsaRawVerifies(const std::string& group, const Bytes& point, const Bytes& digest, const Bytes& rs) {
  EvpKey key = PublicKeyFromParams("EC", group, point);
  if (!key || rs.empty() || rs.size() % 2 != 0) return false;
  const int half = static_cast<int>(rs.size() / 2);
  ECDSA_SIG* sig = ECDSA_SIG_new();
  ECDSA_SIG_set0(sig, BN_bin2bn(rs.data(), half, nullptr), BN_bin2bn(rs.data() + half, half, nullptr));
  unsigned char* encoded = nullptr;
  const int encodedLength = i2d_ECDSA_SIG(sig, &encoded);
  ECDSA_SIG_free(sig);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key.get(), nullptr);
  const bool ok = EVP_PKEY_verify_init(ctx) == 1 &&
                  EVP_PKEY_verify(ctx, encoded, encodedLength, digest.data(), digest.size()) == 1;
  EVP_PKEY_CTX_free(ctx);
  OPENSSL_free(encoded);
  return ok;
}

}  // namespace tokensim::crypto::testing

// Owning handles and byte conversions for the OpenSSL objects the simulator uses.
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "token_crypto.h"

namespace tokensim::crypto {

struct BnFree {
  void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct BnCtxFree {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
struct GroupFree {
  void operator()(EC_GROUP* g) const { EC_GROUP_free(g); }
};
struct PointFree {
  void operator()(EC_POINT* p) const { EC_POINT_clear_free(p); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};

struct ParamBldFree {
  void operator()(OSSL_PARAM_BLD* b) const { OSSL_PARAM_BLD_free(b); }
};

using BnPtr = std::unique_ptr<BIGNUM, BnFree>;
using BnCtxPtr = std::unique_ptr<BN_CTX, BnCtxFree>;
using GroupPtr = std::unique_ptr<EC_GROUP, GroupFree>;
using PointPtr = std::unique_ptr<EC_POINT, PointFree>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, ParamBldFree>;

// Every allocation failure becomes status 11 (internal error).
BnPtr NewBn();
// A BIGNUM in OpenSSL's secure heap when there is one, for private values.
BnPtr NewSecretBn();
BnCtxPtr NewBnCtx();
PointPtr NewPoint(const EC_GROUP* group);
BnPtr BnFromHex(const char* hex);
BnPtr BnFromBigEndian(const uint8_t* data, size_t len);
BnPtr BnFromLittleEndian(const uint8_t* data, size_t len);
// Fixed-width encodings; a value wider than `len` is an internal error.
Bytes BnToBigEndian(const BIGNUM* bn, size_t len);
Bytes BnToLittleEndian(const BIGNUM* bn, size_t len);

ParamBldPtr NewParamBld();
// An EVP key of `type` ("RSA", "EC") from the parameters pushed to `bld`; `selection` is
// EVP_PKEY_PUBLIC_KEY or EVP_PKEY_KEYPAIR. Parameters OpenSSL refuses answer 37 (invalid key).
PkeyPtr PkeyFromParams(const char* type, OSSL_PARAM_BLD* bld, int selection);
PkeyCtxPtr NewPkeyCtx(EVP_PKEY* key);

// Overwrites a byte string before it is dropped.
void Wipe(Bytes& bytes);

// Wipes the held bytes when it goes out of scope.
class WipeOnExit {
 public:
  explicit WipeOnExit(Bytes& bytes) : bytes_(bytes) {}
  ~WipeOnExit() { Wipe(bytes_); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  Bytes& bytes_;
};

// Throws CryptoError(kInternal) when an OpenSSL call reported failure.
void Check(int ok, const char* what);

}  // namespace tokensim::crypto

// GOST 34.311-95 (GOST R 34.11-94) hash with a caller's S-box, start vector zero, and the
// GOST 28147-89 block encryption it is built on. Used for the key derivation after DSTU 4145
// key agreement; speed does not matter here.
//
// S-box layout (the DSTU 4145 "DKE" form, 64 bytes): byte 8r + k holds substitution r, the one
// applied to nibble r of the 32-bit round value (r = 0 the least significant nibble): high
// nibble = output for input 2k, low nibble = output for input 2k + 1.
// Byte order: 32-bit words little-endian; the digest is H least significant byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "token_crypto.h"

namespace tokensim::crypto {

class Gost34311 {
 public:
  static constexpr size_t kSboxBytes = 64;
  static constexpr size_t kDigestBytes = 32;
  using Block = std::array<uint8_t, 32>;

  // `sbox` must hold kSboxBytes bytes.
  explicit Gost34311(const uint8_t* sbox);
  ~Gost34311();
  Gost34311(const Gost34311&) = delete;
  Gost34311& operator=(const Gost34311&) = delete;

  void Update(const uint8_t* data, size_t len);
  Block Final();

  // GOST 28147-89 simple replacement of one 8-byte block with a 32-byte key.
  void EncryptBlock(const uint8_t* key, const uint8_t* in, uint8_t* out) const;

 private:
  uint32_t Round(uint32_t x) const;
  void Step(const Block& m);
  void Absorb(const Block& m);

  uint8_t sbox_[8][16];
  Block h_{};
  Block sigma_{};
  Block length_{};  // bits, 256-bit little-endian
  Block pending_{};
  size_t pendingLen_ = 0;
};

}  // namespace tokensim::crypto

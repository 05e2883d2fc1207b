#include "gost34311.h"

#include <openssl/crypto.h>

#include <algorithm>

namespace tokensim::crypto {

namespace {

using Block = Gost34311::Block;

// The standard's constant C3, least significant byte first.
constexpr Block kC3 = {0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00,
                       0x00, 0xff, 0xff, 0x00, 0xff, 0x00, 0x00, 0xff, 0xff, 0x00, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff};

uint32_t Load32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void Store32(uint32_t v, uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

Block Xor(const Block& a, const Block& b) {
  Block out;
  for (size_t i = 0; i < out.size(); ++i) out[i] = a[i] ^ b[i];
  return out;
}

// A: bytes 8..31 move down, (old 0..7) ^ (old 8..15) goes on top.
Block TransformA(const Block& y) {
  Block out;
  for (size_t i = 0; i < 24; ++i) out[i] = y[i + 8];
  for (size_t i = 0; i < 8; ++i) out[24 + i] = y[i] ^ y[i + 8];
  return out;
}

// P: out[4k + i] = in[8i + k].
Block TransformP(const Block& y) {
  Block out;
  for (size_t k = 0; k < 8; ++k)
    for (size_t i = 0; i < 4; ++i) out[4 * k + i] = y[8 * i + k];
  return out;
}

// psi on sixteen little-endian 16-bit words: shift down, new top word w0^w1^w2^w3^w12^w15.
Block Psi(const Block& y, int times) {
  Block cur = y;
  for (int t = 0; t < times; ++t) {
    Block next;
    const uint8_t lo = cur[0] ^ cur[2] ^ cur[4] ^ cur[6] ^ cur[24] ^ cur[30];
    const uint8_t hi = cur[1] ^ cur[3] ^ cur[5] ^ cur[7] ^ cur[25] ^ cur[31];
    for (size_t i = 0; i < 30; ++i) next[i] = cur[i + 2];
    next[30] = lo;
    next[31] = hi;
    cur = next;
  }
  return cur;
}

// 256-bit little-endian addition, the final carry dropped.
void Add256(Block& acc, const Block& v) {
  unsigned carry = 0;
  for (size_t i = 0; i < acc.size(); ++i) {
    const unsigned sum = acc[i] + v[i] + carry;
    acc[i] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
  }
}

}  // namespace

Gost34311::Gost34311(const uint8_t* sbox) {
  for (int r = 0; r < 8; ++r) {
    for (int k = 0; k < 8; ++k) {
      sbox_[r][2 * k] = sbox[8 * r + k] >> 4;
      sbox_[r][2 * k + 1] = sbox[8 * r + k] & 0x0F;
    }
  }
}

Gost34311::~Gost34311() {
  OPENSSL_cleanse(h_.data(), h_.size());
  OPENSSL_cleanse(pending_.data(), pending_.size());
  OPENSSL_cleanse(sigma_.data(), sigma_.size());
}

uint32_t Gost34311::Round(uint32_t x) const {
  uint32_t s = 0;
  for (int r = 0; r < 8; ++r) s |= uint32_t{sbox_[r][(x >> (4 * r)) & 0x0F]} << (4 * r);
  return (s << 11) | (s >> 21);
}

void Gost34311::EncryptBlock(const uint8_t* key, const uint8_t* in, uint8_t* out) const {
  uint32_t k[8];
  for (int i = 0; i < 8; ++i) k[i] = Load32(key + 4 * i);
  uint32_t a = Load32(in);
  uint32_t b = Load32(in + 4);
  // Key order 0..7 three times, then 7..0.
  for (int i = 0; i < 32; ++i) {
    const uint32_t rk = i < 24 ? k[i % 8] : k[31 - i];
    const uint32_t t = Round(a + rk);
    const uint32_t nextA = b ^ t;
    b = a;
    a = nextA;
  }
  // The last round does not swap.
  Store32(b, out);
  Store32(a, out + 4);
  OPENSSL_cleanse(k, sizeof k);
}

void Gost34311::Step(const Block& m) {
  Block s;
  Block u = h_;
  Block v = m;
  Block key = TransformP(Xor(u, v));
  EncryptBlock(key.data(), h_.data(), s.data());
  for (size_t j = 1; j < 4; ++j) {
    u = TransformA(u);
    if (j == 2) u = Xor(u, kC3);
    v = TransformA(TransformA(v));
    key = TransformP(Xor(u, v));
    EncryptBlock(key.data(), h_.data() + 8 * j, s.data() + 8 * j);
  }
  h_ = Psi(Xor(h_, Psi(Xor(m, Psi(s, 12)), 1)), 61);
  OPENSSL_cleanse(key.data(), key.size());
}

void Gost34311::Absorb(const Block& m) {
  Step(m);
  Add256(sigma_, m);
  Block bits{};
  bits[1] = 1;  // 256
  Add256(length_, bits);
}

void Gost34311::Update(const uint8_t* data, size_t len) {
  while (len > 0) {
    const size_t take = std::min(len, pending_.size() - pendingLen_);
    std::copy(data, data + take, pending_.begin() + static_cast<std::ptrdiff_t>(pendingLen_));
    pendingLen_ += take;
    data += take;
    len -= take;
    if (pendingLen_ == pending_.size()) {
      Absorb(pending_);
      pendingLen_ = 0;
    }
  }
}

Gost34311::Block Gost34311::Final() {
  if (pendingLen_ > 0) {
    Block last{};
    std::copy(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingLen_), last.begin());
    Step(last);
    Add256(sigma_, last);
    Block bits{};
    const size_t count = pendingLen_ * 8;
    bits[0] = static_cast<uint8_t>(count);
    bits[1] = static_cast<uint8_t>(count >> 8);
    Add256(length_, bits);
    pendingLen_ = 0;
  }
  Step(length_);
  Step(sigma_);
  return h_;
}

}  // namespace tokensim::crypto

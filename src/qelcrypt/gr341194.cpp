#include "qelcrypt/gr341194.h"

#include "qelcrypt/g28147_core.h"

#include <cstring>

// 32-byte strings are handled as four 64-bit words; the routines assume a little-endian host.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "GOST 34.311 code assumes a little-endian host");

namespace {

struct Block256 {
    uint64_t w[4];
};

Block256 load256(const uint8_t* p)
{
    Block256 b;
    std::memcpy(b.w, p, 32);
    return b;
}

void store256(uint8_t* p, const Block256& b) { std::memcpy(p, b.w, 32); }

Block256 xor256(const Block256& a, const Block256& b)
{
    return {{a.w[0] ^ b.w[0], a.w[1] ^ b.w[1], a.w[2] ^ b.w[2], a.w[3] ^ b.w[3]}};
}

// The standard's constant C3 (C2 and C4 are zero).
const uint8_t kC3Bytes[32] = {0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0xff, 0x00, 0xff,
                              0x00, 0xff, 0x00, 0xff, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff, 0x00,
                              0x00, 0xff, 0xff, 0x00, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff};

// A: bytes 8..31 move down, bytes 24..31 become (old 0..7) ^ (old 8..15).
Block256 gr341194_md_a(const Block256& y) { return {{y.w[1], y.w[2], y.w[3], y.w[0] ^ y.w[1]}}; }

// P: out[4k + i] = in[8i + k]; returns the result as the eight key words K0..K7.
void gr341194_md_p(const Block256& in, uint32_t* key)
{
    uint8_t b[32];
    store256(b, in);
    for (unsigned k = 0; k < 8; ++k)
        key[k] = uint32_t(b[k]) | uint32_t(b[8 + k]) << 8 | uint32_t(b[16 + k]) << 16 | uint32_t(b[24 + k]) << 24;
}

// The round keys of the encryption under P(W), in encryption order.
void gr341194_md_schedule(const Block256& w, uint32_t* k)
{
    uint32_t key[8];
    gr341194_md_p(w, key);
    g28147_make_schedule(k, key, OrderEncr);
}

// Encrypts H's 8-byte blocks j and j + 1 under their own schedules, side by side.
void gr341194_md_x(const uint32_t* KExt, const uint32_t (*k)[32], const uint8_t* H, uint8_t* S, unsigned j)
{
    const uint8_t* h = H + 8 * j;
    uint32_t n1 = g28147_load32(h), n2 = g28147_load32(h + 4);
    uint32_t m1 = g28147_load32(h + 8), m2 = g28147_load32(h + 12);
    g28147_core32x2(n1, n2, k[j], m1, m2, k[j + 1], KExt);
    uint8_t* s = S + 8 * j;
    g28147_store32(s, n1);
    g28147_store32(s + 4, n2);
    g28147_store32(s + 8, m1);
    g28147_store32(s + 12, m2);
}

// psi^n over 16-bit little-endian words: words[16 + i] = the i-th new word, so the result is
// words[n .. n + 15]. The caller's array holds 16 + n words.
void gr341194_md_psi(uint16_t* words, unsigned n)
{
    for (unsigned i = 0; i < n; ++i)
        words[16 + i] = words[i] ^ words[i + 1] ^ words[i + 2] ^ words[i + 3] ^ words[i + 12] ^ words[i + 15];
}

// New H = psi^61(H ^ psi(M ^ psi^12(S))).
void gr341194_md_mix(uint8_t* H, const uint8_t* M, const uint8_t* S)
{
    uint16_t w[16 + 61];
    std::memcpy(w, S, 32);
    gr341194_md_psi(w, 12);
    uint16_t m[16], h[16];
    std::memcpy(m, M, 32);
    std::memcpy(h, H, 32);
    uint16_t t[16 + 1];
    for (unsigned i = 0; i < 16; ++i) t[i] = w[12 + i] ^ m[i];
    gr341194_md_psi(t, 1);
    for (unsigned i = 0; i < 16; ++i) w[i] = t[1 + i] ^ h[i];
    gr341194_md_psi(w, 61);
    std::memcpy(H, w + 61, 32);
}

// The compression function: H = step(H, M).
void gr341194_md_step(const uint32_t* KExt, uint8_t* H, const uint8_t* M)
{
    static const Block256 C3 = load256(kC3Bytes);
    uint32_t k[4][32];
    Block256 U = load256(H), V = load256(M);
    gr341194_md_schedule(xor256(U, V), k[0]);
    for (unsigned j = 1; j < 4; ++j) {
        U = gr341194_md_a(U);
        if (j == 2) U = xor256(U, C3);
        V = gr341194_md_a(gr341194_md_a(V));
        gr341194_md_schedule(xor256(U, V), k[j]);
    }
    uint8_t S[32];
    gr341194_md_x(KExt, k, H, S, 0);
    gr341194_md_x(KExt, k, H, S, 2);
    gr341194_md_mix(H, M, S);
}

// a += b for 256-bit little-endian numbers; the final carry is dropped.
void gr341194_md_add256(uint8_t* a, const uint8_t* b)
{
    unsigned carry = 0;
    for (unsigned i = 0; i < 32; ++i) {
        carry += unsigned(a[i]) + b[i];
        a[i] = uint8_t(carry);
        carry >>= 8;
    }
}

// a += n for a 256-bit little-endian number and a 32-bit n.
void gr341194_md_add32(uint8_t* a, uint32_t n)
{
    uint64_t carry = n;
    for (unsigned i = 0; i < 32 && carry != 0; ++i) {
        carry += a[i];
        a[i] = uint8_t(carry);
        carry >>= 8;
    }
}

void gr341194_md_updblocks(gr341194_md_ctx* ctx, const uint8_t* in, uint32_t blocks)
{
    for (uint32_t i = 0; i < blocks; ++i, in += 32) {
        gr341194_md_step(ctx->KExt, ctx->H, in);
        gr341194_md_add32(ctx->L, 256);
        gr341194_md_add256(ctx->Sigma, in);
    }
}

} // namespace

gr341194_md_ctx* gr341194_md_init_ext(gr341194_md_ctx* ctx, const uint32_t* sv, const uint32_t* KExt)
{
    std::memset(ctx, 0, sizeof(*ctx));
    std::memcpy(ctx->H, static_cast<const void*>(sv), 32);
    ctx->KExt = KExt;
    return ctx;
}

void gr341194_md_update(gr341194_md_ctx* ctx, const uint8_t* in, uint32_t len)
{
    if (in == nullptr || len == 0) return;
    if (ctx->blockLen > 0) {
        const uint32_t fill = 32 - ctx->blockLen < len ? 32 - ctx->blockLen : len;
        std::memcpy(ctx->block + ctx->blockLen, in, fill);
        ctx->blockLen += fill;
        in += fill;
        len -= fill;
        if (ctx->blockLen < 32) return;
        gr341194_md_updblocks(ctx, ctx->block, 1);
        ctx->blockLen = 0;
    }
    gr341194_md_updblocks(ctx, in, len / 32);
    ctx->blockLen = len % 32;
    std::memcpy(ctx->block, in + (len - ctx->blockLen), ctx->blockLen);
}

uint8_t* gr341194_md_final(gr341194_md_ctx* ctx, uint8_t* out)
{
    gr341194_md_add32(ctx->L, 8 * ctx->blockLen);
    if (ctx->blockLen > 0) {
        std::memset(ctx->block + ctx->blockLen, 0, 32 - ctx->blockLen);
        gr341194_md_add256(ctx->Sigma, ctx->block);
        gr341194_md_step(ctx->KExt, ctx->H, ctx->block);
    }
    gr341194_md_step(ctx->KExt, ctx->H, ctx->L);
    gr341194_md_step(ctx->KExt, ctx->H, ctx->Sigma);
    std::memcpy(out, ctx->H, 32);
    return out;
}

void gr341194_md_mem_xor(uint8_t* out, const uint8_t* a, const uint8_t* b, uint32_t len)
{
    for (uint32_t i = 0; i < len; ++i) out[i] = a[i] ^ b[i];
}

#include "qelcrypt/g28147_core.h"

namespace {

const uint32_t C2 = 0x01010101; // added modulo 2^32 to N1
const uint32_t C1 = 0x01010104; // added modulo 2^32 - 1 to N2

// Advances the counter.
inline void advance(g28147_ofb_ctx* ctx)
{
    ctx->N1 += C2;
    // Addition modulo 2^32 - 1 with end-around carry: the result is never 0.
    ctx->N2 = ctx->N2 < 0xFEFEFEFCu ? ctx->N2 + C1 : ctx->N2 + C1 + 1;
}

// Advances the counter and returns its encryption as the next gamma block.
inline void next_gamma(g28147_ofb_ctx* ctx, uint32_t& g1, uint32_t& g2)
{
    advance(ctx);
    g1 = ctx->N1;
    g2 = ctx->N2;
    g28147_core32(g1, g2, ctx->k, ctx->KExt);
}

} // namespace

void g28147_ofb_init_ext(g28147_ofb_ctx* ctx, const uint32_t* x, const uint32_t* iv, const uint32_t* KExt)
{
    G28147_REQUIRE(ctx != 0);
    G28147_REQUIRE(x != 0);
    G28147_REQUIRE(iv != 0);
    G28147_REQUIRE(KExt != 0);
    std::memset(ctx, 0, sizeof(*ctx));
    g28147_make_schedule(ctx->k, x, XOrderOfb);
    ctx->KExt = KExt;
    uint32_t w[2];
    g28147_copy_words(w, iv, 2);
    g28147_core32(w[0], w[1], ctx->k, KExt);
    ctx->N1 = w[0];
    ctx->N2 = w[1];
    ctx->used = 8;
}

void g28147_ofb_update(g28147_ofb_ctx* ctx, const uint8_t* in, uint8_t* out, uint32_t len)
{
    G28147_REQUIRE(ctx != 0);
    G28147_REQUIRE_IN(in, len);
    G28147_REQUIRE_OUT(out, len);
    uint32_t off = 0;
    while (off < len && ctx->used < 8) {
        out[off] = in[off] ^ ctx->gamma[ctx->used++];
        ++off;
    }
    uint32_t g1, g2;
    for (; len - off >= 16; off += 16) {
        advance(ctx);
        g1 = ctx->N1;
        g2 = ctx->N2;
        advance(ctx);
        uint32_t h1 = ctx->N1, h2 = ctx->N2;
        g28147_core32x2(g1, g2, ctx->k, h1, h2, ctx->k, ctx->KExt);
        g28147_store32(out + off, g28147_load32(in + off) ^ g1);
        g28147_store32(out + off + 4, g28147_load32(in + off + 4) ^ g2);
        g28147_store32(out + off + 8, g28147_load32(in + off + 8) ^ h1);
        g28147_store32(out + off + 12, g28147_load32(in + off + 12) ^ h2);
    }
    for (; len - off >= 8; off += 8) {
        next_gamma(ctx, g1, g2);
        g28147_store32(out + off, g28147_load32(in + off) ^ g1);
        g28147_store32(out + off + 4, g28147_load32(in + off + 4) ^ g2);
    }
    if (off < len) {
        next_gamma(ctx, g1, g2);
        g28147_store32(ctx->gamma, g1);
        g28147_store32(ctx->gamma + 4, g2);
        ctx->used = 0;
        while (off < len) {
            out[off] = in[off] ^ ctx->gamma[ctx->used++];
            ++off;
        }
    }
}

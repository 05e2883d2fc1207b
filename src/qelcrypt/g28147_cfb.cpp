#include "qelcrypt/g28147_core.h"

namespace {

void check_update_args(const g28147_cfb_ctx* ctx, const uint8_t* in, const uint8_t* out, uint32_t len)
{
    G28147_REQUIRE(ctx != 0);
    G28147_REQUIRE_IN(in, len);
    G28147_REQUIRE_OUT(out, len);
}

// XORs the 1..7 bytes of a final partial block with the gamma (N1's bytes, then N2's).
void xor_partial(const g28147_cfb_ctx* ctx, const uint8_t* in, uint8_t* out, uint32_t r)
{
    uint32_t g1 = ctx->N1, g2 = ctx->N2;
    g28147_core32(g1, g2, ctx->k, ctx->KExt);
    uint8_t gamma[8];
    g28147_store32(gamma, g1);
    g28147_store32(gamma + 4, g2);
    for (uint32_t i = 0; i < r; ++i) out[i] = in[i] ^ gamma[i];
}

} // namespace

void g28147_cfb_init_ext(g28147_cfb_ctx* ctx, int direction, const uint32_t* x, const uint32_t* iv,
                         const uint32_t* KExt)
{
    G28147_REQUIRE(ctx != 0);
    G28147_REQUIRE(x != 0);
    G28147_REQUIRE(iv != 0);
    G28147_REQUIRE(KExt != 0);
    std::memset(ctx, 0, sizeof(*ctx));
    ctx->direction = uint32_t(direction);
    g28147_make_schedule(ctx->k, x, OrderEnc);
    uint32_t w[2];
    g28147_copy_words(w, iv, 2);
    ctx->N1 = w[0];
    ctx->N2 = w[1];
    ctx->KExt = KExt;
}

void g28147_cfb_update(g28147_cfb_ctx* ctx, const uint8_t* in, uint8_t* out, uint32_t len)
{
    G28147_REQUIRE(ctx != 0);
    if (ctx->direction == 1)
        g28147_cfb_enc_update_blocks(ctx, in, out, len);
    else
        g28147_cfb_dec_update_blocks(ctx, in, out, len);
}

void g28147_cfb_enc_update_blocks(g28147_cfb_ctx* ctx, const uint8_t* in, uint8_t* out, uint32_t len)
{
    check_update_args(ctx, in, out, len);
    const uint32_t* k = ctx->k;
    const uint32_t* T = ctx->KExt;
    uint32_t n1 = ctx->N1, n2 = ctx->N2;
    uint32_t off = 0;
    for (; len - off >= 8; off += 8) {
        g28147_core32(n1, n2, k, T);
        n1 ^= g28147_load32(in + off);
        n2 ^= g28147_load32(in + off + 4);
        g28147_store32(out + off, n1);
        g28147_store32(out + off + 4, n2);
    }
    ctx->N1 = n1;
    ctx->N2 = n2;
    if (off < len) xor_partial(ctx, in + off, out + off, len - off);
}

void g28147_cfb_dec_update_blocks(g28147_cfb_ctx* ctx, const uint8_t* in, uint8_t* out, uint32_t len)
{
    check_update_args(ctx, in, out, len);
    const uint32_t* k = ctx->k;
    const uint32_t* T = ctx->KExt;
    uint32_t n1 = ctx->N1, n2 = ctx->N2;
    uint32_t off = 0;
    // Each gamma depends only on the previous cipher block, so two blocks run side by side.
    for (; len - off >= 16; off += 16) {
        const uint32_t c1 = g28147_load32(in + off), c2 = g28147_load32(in + off + 4);
        const uint32_t d1 = g28147_load32(in + off + 8), d2 = g28147_load32(in + off + 12);
        uint32_t m1 = c1, m2 = c2;
        g28147_core32x2(n1, n2, k, m1, m2, k, T);
        g28147_store32(out + off, n1 ^ c1);
        g28147_store32(out + off + 4, n2 ^ c2);
        g28147_store32(out + off + 8, m1 ^ d1);
        g28147_store32(out + off + 12, m2 ^ d2);
        n1 = d1;
        n2 = d2;
    }
    for (; len - off >= 8; off += 8) {
        g28147_core32(n1, n2, k, T);
        const uint32_t c1 = g28147_load32(in + off), c2 = g28147_load32(in + off + 4);
        g28147_store32(out + off, n1 ^ c1);
        g28147_store32(out + off + 4, n2 ^ c2);
        n1 = c1;
        n2 = c2;
    }
    ctx->N1 = n1;
    ctx->N2 = n2;
    if (off < len) xor_partial(ctx, in + off, out + off, len - off);
}

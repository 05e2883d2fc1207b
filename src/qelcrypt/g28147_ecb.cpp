#include "qelcrypt/g28147_core.h"

void g28147_ecb_init_ext(g28147_ecb_ctx* ctx, int direction, const uint32_t* x, const uint32_t* KExt)
{
    G28147_REQUIRE(ctx != 0);
    G28147_REQUIRE(x != 0);
    G28147_REQUIRE(KExt != 0);
    std::memset(ctx, 0, sizeof(*ctx));
    g28147_make_schedule(ctx->k, x, direction == 1 ? OrderEncr : OrderDecr);
    ctx->KExt = KExt;
}

void g28147_ecb_update(g28147_ecb_ctx* ctx, const uint8_t* in, uint8_t* out, uint32_t len)
{
    G28147_REQUIRE(ctx != 0);
    G28147_REQUIRE_IN(in, len);
    G28147_REQUIRE_OUT(out, len);
    G28147_REQUIRE((len % 8 ) == 0);
    const uint32_t* k = ctx->k;
    const uint32_t* T = ctx->KExt;
    uint32_t off = 0;
    for (; len - off >= 16; off += 16) {
        uint32_t n1 = g28147_load32(in + off), n2 = g28147_load32(in + off + 4);
        uint32_t m1 = g28147_load32(in + off + 8), m2 = g28147_load32(in + off + 12);
        g28147_core32x2(n1, n2, k, m1, m2, k, T);
        g28147_store32(out + off, n1);
        g28147_store32(out + off + 4, n2);
        g28147_store32(out + off + 8, m1);
        g28147_store32(out + off + 12, m2);
    }
    for (; off < len; off += 8) {
        uint32_t n1 = g28147_load32(in + off), n2 = g28147_load32(in + off + 4);
        g28147_core32(n1, n2, k, T);
        g28147_store32(out + off, n1);
        g28147_store32(out + off + 4, n2);
    }
}

#include "qelcrypt/g28147_core.h"

namespace {
const uint32_t kCountLimit = 10; // enough to tell "fewer than 9 bytes" from "at least 9"
}

void g28147_hmac_init_ext(g28147_hmac_ctx* ctx, const uint32_t* x, const uint32_t* KExt)
{
    G28147_REQUIRE(ctx != 0);
    G28147_REQUIRE(x != 0);
    G28147_REQUIRE(KExt != 0);
    std::memset(ctx, 0, sizeof(*ctx));
    g28147_make_schedule(ctx->k, x, OrderEnc);
    ctx->KExt = KExt;
}

void g28147_hmac_updblocks(g28147_hmac_ctx* ctx, const uint8_t* data, uint32_t len)
{
    const uint32_t* k = ctx->k;
    const uint32_t* T = ctx->KExt;
    uint32_t n1 = ctx->N1, n2 = ctx->N2;
    uint32_t off = 0;
    for (; len - off >= 8; off += 8) {
        n1 ^= g28147_load32(data + off);
        n2 ^= g28147_load32(data + off + 4);
        g28147_core16(n1, n2, k, T);
    }
    if (off < len) {
        uint8_t last[8] = {0};
        std::memcpy(last, data + off, len - off);
        n1 ^= g28147_load32(last);
        n2 ^= g28147_load32(last + 4);
        g28147_core16(n1, n2, k, T);
    }
    ctx->N1 = n1;
    ctx->N2 = n2;
    ctx->count = len >= kCountLimit - ctx->count ? kCountLimit : ctx->count + len;
}

void g28147_hmac_update(g28147_hmac_ctx* ctx, const uint8_t* in, uint32_t len)
{
    G28147_REQUIRE(ctx != 0);
    G28147_REQUIRE_IN(in, len);
    if (len == 0) return;
    if (ctx->pendingLen + len < 8) {
        std::memcpy(ctx->pending + ctx->pendingLen, in, len);
        ctx->pendingLen += len;
        return;
    }
    if (ctx->pendingLen > 0) {
        const uint32_t fill = 8 - ctx->pendingLen;
        std::memcpy(ctx->pending + ctx->pendingLen, in, fill);
        g28147_hmac_updblocks(ctx, ctx->pending, 8);
        in += fill;
        len -= fill;
    }
    const uint32_t whole = len & ~7u;
    if (whole > 0) g28147_hmac_updblocks(ctx, in, whole);
    ctx->pendingLen = len - whole;
    std::memcpy(ctx->pending, in + whole, ctx->pendingLen);
}

int g28147_hmac_final(g28147_hmac_ctx* ctx, uint32_t* hmac)
{
    G28147_REQUIRE(ctx != 0);
    G28147_REQUIRE(hmac != 0);
    if (ctx->pendingLen > 0) {
        g28147_hmac_updblocks(ctx, ctx->pending, ctx->pendingLen);
        ctx->pendingLen = 0;
    }
    if (ctx->count < 9) return 0;
    *hmac = ctx->N1;
    return 1;
}

int g28147_hmac_final_verify(g28147_hmac_ctx* ctx, uint32_t hmac)
{
    uint32_t mac = 0;
    return g28147_hmac_final(ctx, &mac) && mac == hmac ? 1 : 0;
}

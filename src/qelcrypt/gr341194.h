// GOST 34.311-95 (GOST R 34.11-94) hash over a pre-expanded GOST 28147-89 S-box and a caller's
// start vector. 32-byte strings are held least significant byte first; the digest is H in memory order.
#pragma once

#include <cstdint>

enum : uint32_t { GR341194_BLOCK_SIZE = 32, GR341194_DIGEST_SIZE = 32 };

struct gr341194_md_ctx {
    uint8_t block[32];        // pending bytes
    uint32_t blockLen;        // 0..31
    uint8_t H[32];            // chaining value
    uint8_t L[32];            // message length in bits, 256-bit little-endian
    uint8_t Sigma[32];        // control sum, 256-bit little-endian
    const uint32_t* KExt;
};

gr341194_md_ctx* gr341194_md_init_ext(gr341194_md_ctx* ctx, const uint32_t* sv, const uint32_t* KExt);
// A null input or a length of 0 does nothing.
void gr341194_md_update(gr341194_md_ctx* ctx, const uint8_t* in, uint32_t len);
// Finishes the hash into out (32 bytes) and returns out; the context is not reset.
uint8_t* gr341194_md_final(gr341194_md_ctx* ctx, uint8_t* out);
void gr341194_md_mem_xor(uint8_t* out, const uint8_t* a, const uint8_t* b, uint32_t len);

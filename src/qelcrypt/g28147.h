// GOST 28147-89 block cipher: ECB, CFB, gamma (counter) and MAC modes over a pre-expanded S-box.
// Plain routines on caller-owned contexts: no heap memory, no classes. Blocks are two
// little-endian 32-bit words (N1 = bytes 0..3, N2 = bytes 4..7); keys are eight words in memory order.
#pragma once

#include <cstdint>

// Expanded substitution table: four tables of 256 words with the 11-bit rotation folded in.
enum : uint32_t { G28147_KEXT_WORDS = 1024, G28147_SBLOCK_SIZE = 128, G28147_BLOCK_SIZE = 8 };

struct g28147_ecb_ctx {
    uint32_t k[32];           // round keys in the order the rounds use them
    const uint32_t* KExt;
};

struct g28147_cfb_ctx {
    uint32_t N1, N2;          // feedback register
    uint32_t k[32];
    const uint32_t* KExt;
    uint32_t direction;       // 1 encrypt, anything else decrypt
};

struct g28147_ofb_ctx {
    uint32_t N1, N2;          // counter (N3, N4 of the standard)
    uint32_t k[32];
    const uint32_t* KExt;
    uint8_t gamma[8];         // current gamma block
    uint32_t used;            // gamma bytes already used, 0..8
};

struct g28147_hmac_ctx {
    uint32_t N1, N2;          // MAC state
    uint32_t k[32];           // the MAC cycle uses the first 16
    const uint32_t* KExt;
    uint8_t pending[8];
    uint32_t pendingLen;      // 0..7
    uint32_t count;           // bytes processed, saturating at 10
};

// Fills KExt from a 128-byte S-block (entry [8 * v + c] substitutes nibble 7 - c for input v).
// Returns KExt, or null (table partly written) when an entry is 16 or more.
uint32_t* g28147_make_kext(uint32_t* KExt, const uint8_t* sblock);

// 32 rounds (32-Z / 32-R by key order): out1 = N1, out2 = N2 of the final non-swapping step.
void g28147_32Steps(uint32_t n1, uint32_t n2, const uint32_t* k, const uint32_t* KExt,
                    uint32_t* out1, uint32_t* out2);
// 16 rounds of the MAC cycle (16-Z) with k[0..15].
void g28147_16Steps(uint32_t n1, uint32_t n2, const uint32_t* k, const uint32_t* KExt,
                    uint32_t* out1, uint32_t* out2);

void g28147_ecb_init_ext(g28147_ecb_ctx* ctx, int direction, const uint32_t* x, const uint32_t* KExt);
void g28147_ecb_update(g28147_ecb_ctx* ctx, const uint8_t* in, uint8_t* out, uint32_t len);

void g28147_cfb_init_ext(g28147_cfb_ctx* ctx, int direction, const uint32_t* x, const uint32_t* iv,
                         const uint32_t* KExt);
// A trailing partial block (len % 8 != 0) can only end a message: the register is not advanced.
void g28147_cfb_update(g28147_cfb_ctx* ctx, const uint8_t* in, uint8_t* out, uint32_t len);
void g28147_cfb_enc_update_blocks(g28147_cfb_ctx* ctx, const uint8_t* in, uint8_t* out, uint32_t len);
void g28147_cfb_dec_update_blocks(g28147_cfb_ctx* ctx, const uint8_t* in, uint8_t* out, uint32_t len);

void g28147_ofb_init_ext(g28147_ofb_ctx* ctx, const uint32_t* x, const uint32_t* iv, const uint32_t* KExt);
// Encryption and decryption alike; unused gamma bytes carry over to the next call.
void g28147_ofb_update(g28147_ofb_ctx* ctx, const uint8_t* in, uint8_t* out, uint32_t len);

void g28147_hmac_init_ext(g28147_hmac_ctx* ctx, const uint32_t* x, const uint32_t* KExt);
void g28147_hmac_update(g28147_hmac_ctx* ctx, const uint8_t* in, uint32_t len);
// Non-zero and *hmac = N1 when at least 9 bytes were fed; 0 (nothing stored) otherwise.
int g28147_hmac_final(g28147_hmac_ctx* ctx, uint32_t* hmac);
// 1 when the MAC equals the expected word, 0 otherwise (also for fewer than 9 bytes).
int g28147_hmac_final_verify(g28147_hmac_ctx* ctx, uint32_t hmac);
void g28147_hmac_updblocks(g28147_hmac_ctx* ctx, const uint8_t* data, uint32_t len);

// Round-key orders over the 32 rounds (key word indices).
extern const uint8_t OrderEnc[32];
extern const uint8_t OrderDec[32];
extern const uint8_t OrderEncr[32];
extern const uint8_t OrderDecr[32];
extern const uint8_t XOrderOfb[32];

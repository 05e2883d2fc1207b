// Internals shared by the GOST 28147-89 routines: byte order, argument checks and the unrolled cores.
#pragma once

#include "qelcrypt/g28147.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Argument checks stay on in release builds: a null buffer or a bad ECB length is a programming error.
#define G28147_REQUIRE_TEXT(cond, text)                                                        \
    do {                                                                                       \
        if (!(cond)) g28147_check_failed(text, __FILE__, __LINE__);                            \
    } while (0)
#define G28147_REQUIRE(cond) G28147_REQUIRE_TEXT(cond, #cond)
// Data pointers are checked when there is data to read or write: an empty call is a no-op, so a
// caller's empty buffer (often a null pointer) never stops the process.
#define G28147_REQUIRE_IN(in, len) G28147_REQUIRE_TEXT((in) != 0 || (len) == 0, "! ( (in == 0) && (len>0) )")
#define G28147_REQUIRE_OUT(out, len) G28147_REQUIRE_TEXT((out) != 0 || (len) == 0, "! ( (out == 0) && (len>0) )")

[[noreturn]] inline void g28147_check_failed(const char* text, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: assertion failed: %s\n", file, line, text);
    std::abort();
}

inline uint32_t g28147_load32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void g28147_store32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Key and IV words are taken in the caller's memory order; copying avoids misaligned loads.
inline void g28147_copy_words(uint32_t* dst, const uint32_t* src, unsigned count)
{
    std::memcpy(dst, static_cast<const void*>(src), count * sizeof(uint32_t));
}

// Round-key schedule: k[i] = key[order[i]].
inline void g28147_make_schedule(uint32_t* k, const uint32_t* key, const uint8_t* order)
{
    uint32_t w[8];
    g28147_copy_words(w, key, 8);
    for (unsigned i = 0; i < 32; ++i) k[i] = w[order[i]];
}

#define G28147_F(T, x) (T[(x) >> 24] ^ T[256 + (((x) >> 16) & 255)] ^ T[512 + (((x) >> 8) & 255)] ^ T[768 + ((x)&255)])
// Two rounds without the swap: the roles of a and b alternate.
#define G28147_ROUND2(T, a, b, k, i)                                                           \
    do {                                                                                       \
        uint32_t t_ = (a) + (k)[i];                                                            \
        (b) ^= G28147_F(T, t_);                                                                \
        t_ = (b) + (k)[(i) + 1];                                                               \
        (a) ^= G28147_F(T, t_);                                                                \
    } while (0)

// 16 rounds; the state ends as (n1, n2) after the 16th swapping step.
inline void g28147_core16(uint32_t& n1, uint32_t& n2, const uint32_t* k, const uint32_t* T)
{
    uint32_t a = n1, b = n2;
    G28147_ROUND2(T, a, b, k, 0);
    G28147_ROUND2(T, a, b, k, 2);
    G28147_ROUND2(T, a, b, k, 4);
    G28147_ROUND2(T, a, b, k, 6);
    G28147_ROUND2(T, a, b, k, 8);
    G28147_ROUND2(T, a, b, k, 10);
    G28147_ROUND2(T, a, b, k, 12);
    G28147_ROUND2(T, a, b, k, 14);
    n1 = a;
    n2 = b;
}

// 32 rounds; the final step does not swap, so the output block is (b, a).
inline void g28147_core32(uint32_t& n1, uint32_t& n2, const uint32_t* k, const uint32_t* T)
{
    uint32_t a = n1, b = n2;
    G28147_ROUND2(T, a, b, k, 0);
    G28147_ROUND2(T, a, b, k, 2);
    G28147_ROUND2(T, a, b, k, 4);
    G28147_ROUND2(T, a, b, k, 6);
    G28147_ROUND2(T, a, b, k, 8);
    G28147_ROUND2(T, a, b, k, 10);
    G28147_ROUND2(T, a, b, k, 12);
    G28147_ROUND2(T, a, b, k, 14);
    G28147_ROUND2(T, a, b, k, 16);
    G28147_ROUND2(T, a, b, k, 18);
    G28147_ROUND2(T, a, b, k, 20);
    G28147_ROUND2(T, a, b, k, 22);
    G28147_ROUND2(T, a, b, k, 24);
    G28147_ROUND2(T, a, b, k, 26);
    G28147_ROUND2(T, a, b, k, 28);
    G28147_ROUND2(T, a, b, k, 30);
    n1 = b;
    n2 = a;
}

// Two independent blocks interleaved: one round's table reads wait on its addition, so two
// chains keep the load units busy. Same result as g28147_core32 on each block with its own keys.
#define G28147_ROUND2X2(T, a, b, c, d, k, kk, i)                                               \
    do {                                                                                       \
        uint32_t t_ = (a) + (k)[i], u_ = (c) + (kk)[i];                                        \
        (b) ^= G28147_F(T, t_);                                                                \
        (d) ^= G28147_F(T, u_);                                                                \
        t_ = (b) + (k)[(i) + 1];                                                               \
        u_ = (d) + (kk)[(i) + 1];                                                              \
        (a) ^= G28147_F(T, t_);                                                                \
        (c) ^= G28147_F(T, u_);                                                                \
    } while (0)

inline void g28147_core32x2(uint32_t& n1, uint32_t& n2, const uint32_t* k, uint32_t& m1, uint32_t& m2,
                            const uint32_t* kk, const uint32_t* T)
{
    uint32_t a = n1, b = n2, c = m1, d = m2;
    for (unsigned i = 0; i < 32; i += 8) {
        G28147_ROUND2X2(T, a, b, c, d, k, kk, i);
        G28147_ROUND2X2(T, a, b, c, d, k, kk, i + 2);
        G28147_ROUND2X2(T, a, b, c, d, k, kk, i + 4);
        G28147_ROUND2X2(T, a, b, c, d, k, kk, i + 6);
    }
    n1 = b;
    n2 = a;
    m1 = d;
    m2 = c;
}

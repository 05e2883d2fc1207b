// Throughput of our GOST 28147-89 modes and GOST 34.311 hash against the OpenSSL GOST engine,
// measured on the same buffer in one run. Usage: gost_bench [MiB per measurement, default 16]
//
// S-boxes: ours uses DKE1 (the DSTU 4145 default); the engine takes its S-box from its parameter
// sets only (the cipher and MAC use id-Gost28147-89-CryptoPro-A-ParamSet, the hash the
// GOST R 34.11-94 CryptoPro set). Table-driven code runs at the same speed for any S-box values.

#include "national/dke_tables.h"
#include "national/kext_cache.h"
#include "qelcrypt/g28147.h"
#include "qelcrypt/gr341194.h"

#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Figure {
    double mbps = 0;   // 0: not available
};

// Best of three runs of `passes` calls of `run` over a buffer of `size` bytes.
double Measure(size_t size, size_t passes, const std::function<void()>& run)
{
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        for (size_t i = 0; i < passes; ++i) run();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double mbps = double(size) * double(passes) / seconds / 1e6;
        if (mbps > best) best = mbps;
    }
    return best;
}

class Engine {
public:
    Engine()
    {
        ENGINE_load_builtin_engines();
        engine_ = ENGINE_by_id("gost");
        if (engine_ != nullptr && !ENGINE_init(engine_)) {
            ENGINE_free(engine_);
            engine_ = nullptr;
        }
        // The MAC's key method is found only through the default tables.
        if (engine_ != nullptr) ENGINE_set_default(engine_, ENGINE_METHOD_ALL);
    }
    ~Engine()
    {
        if (engine_ != nullptr) {
            ENGINE_finish(engine_);
            ENGINE_free(engine_);
        }
    }
    ENGINE* get() const { return engine_; }
    const EVP_CIPHER* Cipher(const char* name) const
    {
        return engine_ ? ENGINE_get_cipher(engine_, OBJ_sn2nid(name)) : nullptr;
    }
    const EVP_MD* Digest(const char* name) const
    {
        return engine_ ? ENGINE_get_digest(engine_, OBJ_sn2nid(name)) : nullptr;
    }

private:
    ENGINE* engine_ = nullptr;
};

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "engine call failed: %s\n", what);
        ERR_print_errors_fp(stderr);
        std::exit(1);
    }
}

void PrintRow(const char* mode, double ours, double theirs)
{
    if (theirs > 0)
        std::printf("%-26s %10.1f %10.1f %8.2f\n", mode, ours, theirs, ours / theirs);
    else
        std::printf("%-26s %10.1f %10s %8s\n", mode, ours, "n/a", "-");
}

} // namespace

int main(int argc, char** argv)
{
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    const size_t size = 1 << 20;
    const size_t passes = mib ? mib : 16;

    std::vector<uint8_t> in(size), out(size + 64);
    for (size_t i = 0; i < size; ++i) in[i] = uint8_t(i * 131 + 7);
    uint8_t keyBytes[32];
    for (unsigned i = 0; i < 32; ++i) keyBytes[i] = uint8_t(i);
    uint32_t key[8];
    std::memcpy(key, keyBytes, 32);
    const uint32_t iv[2] = {0xF4F3F2F1, 0xF8F7F6F5};
    const auto table = qel::KExtCache::Instance().Get(qel::DkeBytes(qel::glbDkeTables[0]));
    const uint32_t* kext = table->Words();

    Engine engine;
    if (engine.get() == nullptr) std::fprintf(stderr, "OpenSSL GOST engine not available: engine columns empty\n");

    // Engine cipher over the whole buffer in one update; a fresh init per pass like ours.
    auto engineCipher = [&](const char* name, int encrypt) -> double {
        const EVP_CIPHER* cipher = engine.Cipher(name);
        if (cipher == nullptr) return 0;
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        const double mbps = Measure(size, passes, [&] {
            int len = 0;
            Check(EVP_CipherInit_ex(ctx, cipher, engine.get(), keyBytes, reinterpret_cast<const uint8_t*>(iv), encrypt),
                  "init");
            Check(EVP_CipherUpdate(ctx, out.data(), &len, in.data(), int(size)), "update");
        });
        EVP_CIPHER_CTX_free(ctx);
        return mbps;
    };
    auto engineDigest = [&](const EVP_MD* md, EVP_PKEY* macKey) -> double {
        if (md == nullptr) return 0;
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        const double mbps = Measure(size, passes, [&] {
            unsigned char digest[64];
            size_t len = sizeof(digest);
            if (macKey != nullptr) {
                Check(EVP_DigestSignInit(ctx, nullptr, md, nullptr, macKey) == 1, "mac init");
                Check(EVP_DigestSignUpdate(ctx, in.data(), size) == 1, "mac update");
                Check(EVP_DigestSignFinal(ctx, digest, &len) == 1, "mac final");
            } else {
                unsigned int dlen = 0;
                Check(EVP_DigestInit_ex(ctx, md, engine.get()) == 1, "digest init");
                Check(EVP_DigestUpdate(ctx, in.data(), size) == 1, "digest update");
                Check(EVP_DigestFinal_ex(ctx, digest, &dlen) == 1, "digest final");
            }
        });
        EVP_MD_CTX_free(ctx);
        return mbps;
    };

    std::printf("GOST throughput, %zu x 1 MiB per measurement, best of 3 (MB/s)\n", passes);
    std::printf("S-box: ours DKE1; engine its CryptoPro parameter sets (speed does not depend on S-box values)\n\n");
    std::printf("%-26s %10s %10s %8s\n", "mode", "ours", "engine", "ratio");

    PrintRow("GOST 28147-89 ECB", Measure(size, passes, [&] {
                 g28147_ecb_ctx ctx;
                 g28147_ecb_init_ext(&ctx, 1, key, kext);
                 g28147_ecb_update(&ctx, in.data(), out.data(), uint32_t(size));
             }),
             0);
    PrintRow("GOST 28147-89 CFB encrypt", Measure(size, passes, [&] {
                 g28147_cfb_ctx ctx;
                 g28147_cfb_init_ext(&ctx, 1, key, iv, kext);
                 g28147_cfb_update(&ctx, in.data(), out.data(), uint32_t(size));
             }),
             engineCipher("gost89", 1));
    PrintRow("GOST 28147-89 CFB decrypt", Measure(size, passes, [&] {
                 g28147_cfb_ctx ctx;
                 g28147_cfb_init_ext(&ctx, 0, key, iv, kext);
                 g28147_cfb_update(&ctx, in.data(), out.data(), uint32_t(size));
             }),
             engineCipher("gost89", 0));
    PrintRow("GOST 28147-89 counter", Measure(size, passes, [&] {
                 g28147_ofb_ctx ctx;
                 g28147_ofb_init_ext(&ctx, key, iv, kext);
                 g28147_ofb_update(&ctx, in.data(), out.data(), uint32_t(size));
             }),
             engineCipher("gost89-cnt", 1));

    double engineMac = 0;
    if (engine.get() != nullptr) {
        const int macNid = OBJ_sn2nid("gost-mac");
        EVP_PKEY* macKey = EVP_PKEY_new_mac_key(macNid, engine.get(), keyBytes, 32);
        if (macKey != nullptr) {
            engineMac = engineDigest(engine.Digest("gost-mac"), macKey);
            EVP_PKEY_free(macKey);
        } else {
            std::fprintf(stderr, "engine MAC key not accepted\n");
        }
    }
    PrintRow("GOST 28147-89 MAC", Measure(size, passes, [&] {
                 g28147_hmac_ctx ctx;
                 uint32_t mac = 0;
                 g28147_hmac_init_ext(&ctx, key, kext);
                 g28147_hmac_update(&ctx, in.data(), uint32_t(size));
                 g28147_hmac_final(&ctx, &mac);
             }),
             engineMac);

    const uint32_t zero[8] = {0};
    PrintRow("GOST 34.311 hash", Measure(size, passes, [&] {
                 gr341194_md_ctx ctx;
                 uint8_t digest[32];
                 gr341194_md_init_ext(&ctx, zero, kext);
                 gr341194_md_update(&ctx, in.data(), uint32_t(size));
                 gr341194_md_final(&ctx, digest);
             }),
             engineDigest(engine.Digest("md_gost94"), nullptr));
    return 0;
}

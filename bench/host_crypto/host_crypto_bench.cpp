// Host cryptography throughput: SHA-256 (C_DigestInit + C_Digest) and Triple-DES CBC
// (C_EncryptInit + C_Encrypt) through the token library, beside OpenSSL's EVP on the same data,
// for 1 MiB and 64-byte messages. Prints MB/s of each and the ratio OpenSSL / library; for
// SHA-256 also mbed TLS called directly, which shows the library's own share of the time.
//
//   tools/tokensim/rig.sh --sim "--so-pin 87654321 --user-pin 12345678" -- build/bench/host_crypto/host_crypto_bench [module]
#include <dlfcn.h>
#include <mbedtls/sha256.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ckbase/zr_pkcs11.h"

namespace {

CK_FUNCTION_LIST_PTR p11 = nullptr;

void Check(CK_RV rv, const char* call)
{
    if (rv == CKR_OK) return;
    std::fprintf(stderr, "host_crypto_bench: %s failed: 0x%08lX\n", call, static_cast<unsigned long>(rv));
    std::exit(1);
}

// MB/s of the body run over `bytes` bytes per round, for about a third of a second.
double Throughput(size_t bytes, const std::function<void()>& body)
{
    using Clock = std::chrono::steady_clock;
    body();  // warm-up
    size_t rounds = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 16; ++i) body();
        rounds += 16;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < 0.35);
    return static_cast<double>(bytes) * rounds / elapsed / 1e6;
}

void Row(const char* what, size_t bytes, double ours, double other)
{
    std::printf("%-24s %9zu %12.1f %12.1f %8.2f\n", what, bytes, ours, other, other / ours);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : ZR_MODULE;
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "host_crypto_bench: %s\n", dlerror());
        return 1;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    Check(getList(&p11), "C_GetFunctionList");
    Check(p11->C_Initialize(nullptr), "C_Initialize");
    CK_SLOT_ID slot = 0;
    CK_ULONG count = 1;
    Check(p11->C_GetSlotList(CK_TRUE, &slot, &count), "C_GetSlotList");
    if (count == 0) {
        std::fprintf(stderr, "host_crypto_bench: no token (run it inside the rig)\n");
        return 1;
    }
    CK_SESSION_HANDLE session = 0;
    Check(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), "C_OpenSession");
    const char pin[] = "12345678";
    Check(p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)), 8), "C_Login");

    unsigned char keyValue[24];
    for (int i = 0; i < 24; ++i) keyValue[i] = static_cast<unsigned char>(0x31 + i * 7);
    unsigned char iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
    CK_KEY_TYPE keyType = CKK_DES3;
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE keyTemplate[] = {{CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                  {CKA_TOKEN, &no, sizeof no}, {CKA_VALUE, keyValue, sizeof keyValue}};
    CK_OBJECT_HANDLE key = 0;
    Check(p11->C_CreateObject(session, keyTemplate, 4, &key), "C_CreateObject");

    std::printf("%-24s %9s %12s %12s %8s\n", "operation", "bytes", "library MB/s", "other MB/s", "ratio");
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_CIPHER_CTX* cipher = EVP_CIPHER_CTX_new();
    for (size_t size : {size_t(1) << 20, size_t(64)}) {
        std::vector<unsigned char> data(size), out(size + 64);
        for (size_t i = 0; i < size; ++i) data[i] = static_cast<unsigned char>(i * 31);

        CK_MECHANISM sha256{CKM_SHA256, nullptr, 0};
        const double oursSha = Throughput(size, [&] {
            CK_ULONG length = out.size();
            Check(p11->C_DigestInit(session, &sha256), "C_DigestInit");
            Check(p11->C_Digest(session, data.data(), data.size(), out.data(), &length), "C_Digest");
        });
        const double sslSha = Throughput(size, [&] {
            unsigned int length = 0;
            EVP_DigestInit_ex(md, EVP_sha256(), nullptr);
            EVP_DigestUpdate(md, data.data(), data.size());
            EVP_DigestFinal_ex(md, out.data(), &length);
        });
        Row("SHA-256 digest", size, oursSha, sslSha);
        // mbed TLS alone on the same data: what the library adds beyond its digest code.
        const double mbedSha = Throughput(size, [&] { mbedtls_sha256_ret(data.data(), data.size(), out.data(), 0); });
        Row("  mbed TLS SHA-256 alone", size, oursSha, mbedSha);

        CK_MECHANISM cbc{CKM_DES3_CBC, iv, sizeof iv};
        const double oursDes = Throughput(size, [&] {
            CK_ULONG length = out.size();
            Check(p11->C_EncryptInit(session, &cbc, key), "C_EncryptInit");
            Check(p11->C_Encrypt(session, data.data(), data.size(), out.data(), &length), "C_Encrypt");
        });
        const double sslDes = Throughput(size, [&] {
            int length = 0;
            EVP_EncryptInit_ex(cipher, EVP_des_ede3_cbc(), nullptr, keyValue, iv);
            EVP_CIPHER_CTX_set_padding(cipher, 0);
            EVP_EncryptUpdate(cipher, out.data(), &length, data.data(), static_cast<int>(data.size()));
            EVP_EncryptFinal_ex(cipher, out.data() + length, &length);
        });
        Row("Triple-DES CBC encrypt", size, oursDes, sslDes);
    }
    EVP_MD_CTX_free(md);
    EVP_CIPHER_CTX_free(cipher);
    p11->C_Logout(session);
    p11->C_CloseSession(session);
    p11->C_Finalize(nullptr);
    return 0;
}

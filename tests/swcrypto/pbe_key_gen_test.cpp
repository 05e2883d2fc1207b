#include "swcrypto/pbe_key_gen.h"

#include <gtest/gtest.h>
#include <mbedtls/pkcs12.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>

#include <string>

#include "swcrypto_test_util.h"

namespace {

using swtest::CodeOf;
using swtest::Hex;

std::string Bytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 11);
    return bytes;
}

CK_PBE_PARAMS Params(std::string& password, std::string& salt, CK_ULONG iterations, unsigned char* iv)
{
    return CK_PBE_PARAMS{iv, reinterpret_cast<CK_UTF8CHAR_PTR>(&password[0]), password.size(),
                         reinterpret_cast<CK_BYTE_PTR>(&salt[0]), salt.size(), iterations};
}

std::string Derived(unsigned char id, CK_PBE_PARAMS& params, uint32_t length)
{
    vdk::SafeBuffer out;
    mbt::TokSha1PBE3DESEdeCbcKeyGenMechanism::Derive(id, params, length, out);
    return Hex(out);
}

// Inputs of at most 64 bytes: mbed TLS's own PKCS #12 derivation (it refuses longer ones).
TEST(PbeDerivation, EqualsMbedTlsDerivation)
{
    struct Case {
        size_t password, salt;
        CK_ULONG iterations;
    };
    for (const Case& c : {Case{8, 8, 1}, Case{1, 64, 1}, Case{64, 20, 2}, Case{13, 8, 2048}}) {
        std::string password = Bytes(c.password, 0x41), salt = Bytes(c.salt, 7);
        CK_PBE_PARAMS params = Params(password, salt, c.iterations, nullptr);
        for (unsigned char id : {1, 2}) {
            unsigned char expected[24];
            ASSERT_EQ(mbedtls_pkcs12_derivation(expected, 24, reinterpret_cast<const unsigned char*>(password.data()),
                                                password.size(), reinterpret_cast<const unsigned char*>(salt.data()),
                                                salt.size(), MBEDTLS_MD_SHA1, id, static_cast<int>(c.iterations)),
                      0);
            EXPECT_EQ(Derived(id, params, 24), Hex(expected, 24)) << c.password << "/" << c.salt << "/" << c.iterations;
        }
    }
}

// Longer inputs (more than one 64-byte block of salt or password): OpenSSL's derivation.
TEST(PbeDerivation, LongSaltAndPasswordEqualOpenSsl)
{
    struct Case {
        size_t password, salt;
        CK_ULONG iterations;
    };
    for (const Case& c : {Case{8, 65, 1}, Case{8, 65, 5}, Case{130, 65, 3}}) {
        std::string password = Bytes(c.password, 0x30), salt = Bytes(c.salt, 3);
        CK_PBE_PARAMS params = Params(password, salt, c.iterations, nullptr);
        for (unsigned char id : {1, 2}) {
            unsigned char expected[24];
            ASSERT_EQ(PKCS12_key_gen_uni(reinterpret_cast<unsigned char*>(&password[0]), static_cast<int>(password.size()),
                                         reinterpret_cast<unsigned char*>(&salt[0]), static_cast<int>(salt.size()), id,
                                         static_cast<int>(c.iterations), 24, expected, EVP_sha1()),
                      1);
            EXPECT_EQ(Derived(id, params, 24), Hex(expected, 24)) << c.password << "/" << c.salt << "/" << c.iterations;
        }
    }
    std::string password = "pw", salt = "salt";
    CK_PBE_PARAMS zero = Params(password, salt, 0, nullptr);
    EXPECT_EQ(CodeOf([&] { Derived(1, zero, 24); }), CKR_MECHANISM_PARAM_INVALID);
}

TEST(PbeDerivation, ParameterChecks)
{
    std::string password = "password", salt = "saltsalt";
    unsigned char iv[8];
    struct Case {
        const char* what;
        CK_PBE_PARAMS params;
    };
    const CK_PBE_PARAMS good = Params(password, salt, 1, iv);
    CK_PBE_PARAMS noPassword = good, emptyPassword = good, noSalt = good, emptySalt = good, noIv = good;
    noPassword.pPassword = nullptr;
    emptyPassword.ulPasswordLen = 0;
    noSalt.pSalt = nullptr;
    emptySalt.ulSaltLen = 0;
    noIv.pInitVector = nullptr;
    class Probe : public mbt::TokSha1PBE3DESEdeCbcKeyGenMechanism {
    public:
        KeyPointer CreateSecretKey() override { return nullptr; }
        zrck::TokMechanism* Clone() const override { return nullptr; }
    } probe;
    for (const Case& c : {Case{"no password", noPassword}, Case{"empty password", emptyPassword},
                          Case{"no salt", noSalt}, Case{"empty salt", emptySalt}, Case{"no IV output", noIv}}) {
        const zrck::MechanismParameter parameter(CKM_PBE_SHA1_DES3_EDE_CBC, tru::Buffer(&c.params, sizeof c.params));
        EXPECT_EQ(CodeOf([&] { probe.SetParameter(parameter); }), CKR_MECHANISM_PARAM_INVALID) << c.what;
    }
    // The 32-bit platforms' size (24 bytes) is not this platform's CK_PBE_PARAMS.
    const zrck::MechanismParameter shorter(CKM_PBE_SHA1_DES3_EDE_CBC, tru::Buffer(&good, 24));
    EXPECT_EQ(CodeOf([&] { probe.SetParameter(shorter); }), CKR_MECHANISM_PARAM_INVALID);
    const zrck::MechanismParameter right(CKM_PBE_SHA1_DES3_EDE_CBC, tru::Buffer(&good, sizeof good));
    EXPECT_EQ(CodeOf([&] { probe.SetParameter(right); }), CKR_OK);
}

}  // namespace

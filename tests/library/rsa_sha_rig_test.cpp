// SHA-1 to SHA-512 with RSA on the token through the Cryptoki functions, checked by OpenSSL.
#include <openssl/rand.h>

#include "rsa_rig_fixture.h"

using namespace rsatest;

namespace {

struct ShaCase {
    CK_MECHANISM_TYPE type;
    const char* digest;
    size_t digestInfoLength;
};

const ShaCase kShaCases[] = {
    {CKM_SHA1_RSA_PKCS, "SHA1", 35},     {CKM_SHA224_RSA_PKCS, "SHA224", 47}, {CKM_SHA256_RSA_PKCS, "SHA256", 51},
    {CKM_SHA384_RSA_PKCS, "SHA384", 67}, {CKM_SHA512_RSA_PKCS, "SHA512", 83},
};

Bytes Random(size_t length) {
    Bytes bytes(length);
    RAND_bytes(bytes.data(), static_cast<int>(length));
    return bytes;
}

class ShaRsaSizes : public RsaRigTest, public ::testing::WithParamInterface<CK_ULONG> {};

TEST_P(ShaRsaSizes, EachHashSignsWhatOpenSslVerifiesOrIsTooLongForTheKey) {
    StartUser();
    if (IsSkipped() || HasFatalFailure()) return;
    const CK_ULONG bits = GetParam();
    const KeyPair pair = Generate(bits, "sha");
    const OpenSslKey openssl(Attribute(pair.publicKey, CKA_MODULUS), {1, 0, 1});
    const Bytes data = Random(1000);
    for (const ShaCase& c : kShaCases) {
        SCOPED_TRACE(c.digest);
        CK_MECHANISM mechanism{c.type, nullptr, 0};
        CK_MECHANISM_INFO info{};
        ASSERT_EQ(p11->C_GetMechanismInfo(0, c.type, &info), CKR_OK);
        EXPECT_EQ(info.flags, 0x2801u);
        ASSERT_EQ(p11->C_SignInit(session, &mechanism, pair.privateKey), CKR_OK);
        if (c.digestInfoLength + 11 > bits / 8) {
            Bytes signature(bits / 8);
            CK_ULONG length = signature.size();
            EXPECT_EQ(p11->C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), signature.data(), &length),
                      CKR_DATA_LEN_RANGE);
            continue;
        }
        const Bytes signature = Output(p11->C_Sign, data);
        ASSERT_EQ(signature.size(), bits / 8);
        EXPECT_TRUE(openssl.VerifyDigest(c.digest, data, signature));
        EXPECT_EQ(Verify(c.type, pair.publicKey, data, signature), CKR_OK);
        Bytes changed = data;
        changed[10] ^= 0x80;
        EXPECT_EQ(Verify(c.type, pair.publicKey, changed, signature), CKR_SIGNATURE_INVALID);
    }
}

INSTANTIATE_TEST_SUITE_P(Bits, ShaRsaSizes, ::testing::Values(512, 1024, 2048),
                         [](const ::testing::TestParamInfo<CK_ULONG>& info) { return std::to_string(info.param); });

TEST_F(RsaRigTest, ShaRsaMultiPartEqualsSinglePartAndShortBuffersKeepTheHash) {
    librarytest::FrozenCacheClock clock;
    StartUser();
    if (IsSkipped() || HasFatalFailure()) return;
    const KeyPair pair = Generate(1024, "multi");
    const Bytes data = Random(300);
    CK_MECHANISM mechanism{CKM_SHA256_RSA_PKCS, nullptr, 0};
    const Bytes single = Sign(CKM_SHA256_RSA_PKCS, pair.privateKey, data);

    ASSERT_EQ(p11->C_SignInit(session, &mechanism, pair.privateKey), CKR_OK);
    for (size_t at = 0; at < data.size(); at += 70) {
        const size_t piece = std::min<size_t>(70, data.size() - at);
        ASSERT_EQ(p11->C_SignUpdate(session, const_cast<uint8_t*>(data.data() + at), piece), CKR_OK);
    }
    Bytes signature(128);
    CK_ULONG length = 10;
    const uint64_t before = Total();
    EXPECT_EQ(p11->C_SignFinal(session, signature.data(), &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 128u);
    EXPECT_EQ(Total(), before);
    ASSERT_EQ(p11->C_SignFinal(session, signature.data(), &length), CKR_OK);
    EXPECT_EQ(signature, single);

    ASSERT_EQ(p11->C_VerifyInit(session, &mechanism, pair.publicKey), CKR_OK);
    ASSERT_EQ(p11->C_VerifyUpdate(session, const_cast<uint8_t*>(data.data()), 100), CKR_OK);
    ASSERT_EQ(p11->C_VerifyUpdate(session, const_cast<uint8_t*>(data.data() + 100), data.size() - 100), CKR_OK);
    EXPECT_EQ(p11->C_VerifyFinal(session, signature.data(), signature.size()), CKR_OK);

    // The hash mechanisms neither encrypt nor recover.
    EXPECT_EQ(p11->C_EncryptInit(session, &mechanism, pair.publicKey), CKR_MECHANISM_INVALID);
    EXPECT_EQ(p11->C_VerifyRecoverInit(session, &mechanism, pair.publicKey), CKR_MECHANISM_INVALID);
}

}  // namespace

// Password-based Triple-DES key generation through the token library's C_ functions, checked
// against mbed TLS's PKCS #12 derivation.
#include <mbedtls/des.h>
#include <mbedtls/pkcs12.h>

#include "host_crypto_rig_fixture.h"
#include "objects/tok_des3_mechanisms.h"  // CK_PBE_PARAMS, which the p11-kit header lacks

using namespace librarytest;

namespace {

std::string Pkcs12(const std::string& password, const std::string& salt, int iterations, unsigned char id, size_t length)
{
    std::string out(length, '\0');
    EXPECT_EQ(mbedtls_pkcs12_derivation(reinterpret_cast<unsigned char*>(&out[0]), length,
                                        reinterpret_cast<const unsigned char*>(password.data()), password.size(),
                                        reinterpret_cast<const unsigned char*>(salt.data()), salt.size(),
                                        MBEDTLS_MD_SHA1, id, iterations),
              0);
    return out;
}

std::string WithParity(std::string key)
{
    for (size_t at = 0; at < key.size(); at += 8) {
        mbedtls_des_key_set_parity(reinterpret_cast<unsigned char*>(&key[at]));
    }
    return key;
}

class PbeRig : public HostCryptoRig {
protected:
    void SetUp() override
    {
        StartBoth();
        if (IsSkipped() || HasFatalFailure()) return;
        session = Open(fullSlot);
        ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    }

    // Generates with the given extra attributes (after CKA_TOKEN false, CKA_SENSITIVE false,
    // CKA_EXTRACTABLE true).
    CK_RV Generate(CK_PBE_PARAMS params, std::vector<CK_ATTRIBUTE> extra, CK_OBJECT_HANDLE& key,
                   CK_ULONG parameterLength = sizeof(CK_PBE_PARAMS), bool token = false)
    {
        static CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
        std::vector<CK_ATTRIBUTE> attributes = {{CKA_TOKEN, token ? &yes : &no, 1},
                                                {CKA_SENSITIVE, &no, sizeof no},
                                                {CKA_EXTRACTABLE, &yes, sizeof yes}};
        attributes.insert(attributes.end(), extra.begin(), extra.end());
        CK_MECHANISM mechanism{CKM_PBE_SHA1_DES3_EDE_CBC, &params, parameterLength};
        key = 0;
        return p11->C_GenerateKey(session, &mechanism, attributes.data(), attributes.size(), &key);
    }

    CK_PBE_PARAMS Params(CK_ULONG iterations)
    {
        return CK_PBE_PARAMS{iv, reinterpret_cast<CK_UTF8CHAR_PTR>(&password[0]), password.size(),
                             reinterpret_cast<CK_BYTE_PTR>(&salt[0]), salt.size(), iterations};
    }

    std::string Attribute(CK_OBJECT_HANDLE key, CK_ATTRIBUTE_TYPE type, size_t size)
    {
        std::string value(size, '\0');
        CK_ATTRIBUTE attribute{type, In(value), size};
        EXPECT_EQ(p11->C_GetAttributeValue(session, key, &attribute, 1), CKR_OK);
        value.resize(attribute.ulValueLen);
        return value;
    }

    CK_SESSION_HANDLE session = 0;
    std::string password = "correct horse";
    std::string salt = std::string("\x5A\x17\x00\x42", 4) + "salty";
    unsigned char iv[8] = {};
};

TEST_F(PbeRig, MechanismRowOnBothModels)
{
    for (CK_SLOT_ID slot : {fullSlot, liteSlot}) {
        CK_MECHANISM_INFO info{};
        ASSERT_EQ(p11->C_GetMechanismInfo(slot, CKM_PBE_SHA1_DES3_EDE_CBC, &info), CKR_OK);
        EXPECT_EQ(info.flags, CKF_GENERATE);
        EXPECT_EQ(info.ulMinKeySize, 24u);
        EXPECT_EQ(info.ulMaxKeySize, 24u);
    }
}

TEST_F(PbeRig, KeyAndIvEqualMbedTlsDerivation)
{
    for (CK_ULONG iterations : {1ul, 3ul, 1000ul}) {
        CK_OBJECT_HANDLE key = 0;
        // No CKA_KEY_TYPE: the key is a Triple-DES key.
        ASSERT_EQ(Generate(Params(iterations), {}, key), CKR_OK) << iterations;
        const int c = static_cast<int>(iterations);
        EXPECT_EQ(Attribute(key, CKA_VALUE, 24), WithParity(Pkcs12(password, salt, c, 1, 24))) << iterations;
        EXPECT_EQ(Bytes(iv, 8), Pkcs12(password, salt, c, 2, 8)) << iterations;
        CK_KEY_TYPE keyType = 0;
        CK_MECHANISM_TYPE generatedBy = 0;
        CK_ATTRIBUTE read[] = {{CKA_KEY_TYPE, &keyType, sizeof keyType},
                               {CKA_KEY_GEN_MECHANISM, &generatedBy, sizeof generatedBy}};
        ASSERT_EQ(p11->C_GetAttributeValue(session, key, read, 2), CKR_OK);
        EXPECT_EQ(keyType, CKK_DES3);
        EXPECT_EQ(generatedBy, CKM_PBE_SHA1_DES3_EDE_CBC);
    }
    // A token key too; its value has DES parity.
    CK_KEY_TYPE des3 = CKK_DES3;
    CK_ULONG valueLength = 24;
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(Generate(Params(2),
                       {{CKA_KEY_TYPE, &des3, sizeof des3}, {CKA_VALUE_LEN, &valueLength, sizeof valueLength}},
                       key, sizeof(CK_PBE_PARAMS), true),
              CKR_OK);
    EXPECT_EQ(Attribute(key, CKA_VALUE, 24), WithParity(Pkcs12(password, salt, 2, 1, 24)));
}

TEST_F(PbeRig, RefusedTemplatesAndParameters)
{
    CK_ULONG shortLength = 16;
    CK_KEY_TYPE generic = CKK_GENERIC_SECRET;
    CK_OBJECT_CLASS publicKey = CKO_PUBLIC_KEY;
    std::string value(24, '\x01');
    struct Case {
        const char* what;
        std::vector<CK_ATTRIBUTE> extra;
        CK_ULONG iterations;
        CK_ULONG parameterLength;
        CK_RV rv;
    };
    const Case cases[] = {
        {"value length 16", {{CKA_VALUE_LEN, &shortLength, sizeof shortLength}}, 1, sizeof(CK_PBE_PARAMS),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"generic key type", {{CKA_KEY_TYPE, &generic, sizeof generic}}, 1, sizeof(CK_PBE_PARAMS),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"value given", {{CKA_VALUE, In(value), value.size()}}, 1, sizeof(CK_PBE_PARAMS), CKR_ATTRIBUTE_TYPE_INVALID},
        {"public key class", {{CKA_CLASS, &publicKey, sizeof publicKey}}, 1, sizeof(CK_PBE_PARAMS),
         CKR_TEMPLATE_INCONSISTENT},
        {"iteration count 0", {}, 0, sizeof(CK_PBE_PARAMS), CKR_MECHANISM_PARAM_INVALID},
        {"32-bit parameter size", {}, 1, 24, CKR_MECHANISM_PARAM_INVALID},
    };
    for (const Case& c : cases) {
        std::fill(iv, iv + 8, 0xEE);
        CK_OBJECT_HANDLE key = 0;
        EXPECT_EQ(Generate(Params(c.iterations), c.extra, key, c.parameterLength), c.rv) << c.what;
        EXPECT_EQ(Bytes(iv, 8), std::string(8, '\xEE')) << c.what << ": the IV is written only on success";
    }
}

}  // namespace

// RSA through the Cryptoki functions of the token library: a user session, small call helpers,
// and OpenSSL as the independent party that checks signatures and encrypts or decrypts.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <cstdint>
#include <string>
#include <vector>

#include "module_rig_fixture.h"

namespace rsatest {

using Bytes = std::vector<uint8_t>;
using librarytest::kUserPin;

struct KeyPair {
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

// An OpenSSL RSA key (e = 65537) and its components as big-endian bytes.
class OpenSslKey {
public:
    explicit OpenSslKey(int bits) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr);
        EVP_PKEY_keygen_init(ctx);
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, bits);
        EVP_PKEY_keygen(ctx, &key_);
        EVP_PKEY_CTX_free(ctx);
    }
    // The public half only.
    OpenSslKey(const Bytes& modulus, const Bytes& exponent) {
        BIGNUM* n = BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr);
        BIGNUM* e = BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr);
        OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
        OSSL_PARAM_BLD_push_BN(build, "n", n);
        OSSL_PARAM_BLD_push_BN(build, "e", e);
        OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
        EVP_PKEY_fromdata_init(ctx);
        EVP_PKEY_fromdata(ctx, &key_, EVP_PKEY_PUBLIC_KEY, params);
        EVP_PKEY_CTX_free(ctx);
        OSSL_PARAM_free(params);
        OSSL_PARAM_BLD_free(build);
        BN_free(n);
        BN_free(e);
    }
    ~OpenSslKey() { EVP_PKEY_free(key_); }
    OpenSslKey(const OpenSslKey&) = delete;
    OpenSslKey& operator=(const OpenSslKey&) = delete;

    // "n", "e", "d", "rsa-factor1", "rsa-factor2", "rsa-exponent1", "rsa-exponent2", "rsa-coefficient1".
    Bytes Component(const char* name) const {
        BIGNUM* value = nullptr;
        EVP_PKEY_get_bn_param(key_, name, &value);
        Bytes bytes(BN_num_bytes(value));
        BN_bn2bin(value, bytes.data());
        BN_free(value);
        return bytes;
    }
    // Padding RSA_PKCS1_PADDING or RSA_NO_PADDING.
    Bytes PublicEncrypt(const Bytes& data, int padding) const { return Run(data, padding, true, false); }
    Bytes PublicDecrypt(const Bytes& signature) const { return Run(signature, RSA_PKCS1_PADDING, false, false); }
    Bytes PrivateDecrypt(const Bytes& data) const { return Run(data, RSA_PKCS1_PADDING, false, true); }
    // The verdict of an RSA PKCS#1 v1.5 signature over the data with the digest's name.
    bool VerifyDigest(const char* digest, const Bytes& data, const Bytes& signature) const {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        bool ok = EVP_DigestVerifyInit(ctx, nullptr, EVP_get_digestbyname(digest), nullptr, key_) == 1 &&
                  EVP_DigestVerify(ctx, signature.data(), signature.size(), data.data(), data.size()) == 1;
        EVP_MD_CTX_free(ctx);
        return ok;
    }

private:
    Bytes Run(const Bytes& input, int padding, bool encrypt, bool usePrivate) const {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key_, nullptr);
        Bytes out(EVP_PKEY_get_size(key_));
        size_t length = out.size();
        int ok = 0;
        if (encrypt) {
            ok = EVP_PKEY_encrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, padding) == 1 &&
                 EVP_PKEY_encrypt(ctx, out.data(), &length, input.data(), input.size()) == 1;
        } else if (usePrivate) {
            ok = EVP_PKEY_decrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, padding) == 1 &&
                 EVP_PKEY_decrypt(ctx, out.data(), &length, input.data(), input.size()) == 1;
        } else {
            ok = EVP_PKEY_verify_recover_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, padding) == 1 &&
                 EVP_PKEY_verify_recover(ctx, out.data(), &length, input.data(), input.size()) == 1;
        }
        EVP_PKEY_CTX_free(ctx);
        out.resize(ok ? length : 0);
        return out;
    }

    EVP_PKEY* key_ = nullptr;
};

class RsaRigTest : public librarytest::ModuleRigTest {
protected:
    void StartUser(std::vector<std::string> more = {}) {
        Start(nullptr, {librarytest::InitialisedToken(more)});
        if (IsSkipped() || HasFatalFailure()) return;
        OpenUserSession();
    }

    void OpenUserSession() {
        session = Open();
        ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    }

    // C_Finalize and C_Initialize: the library reads everything from the token again.
    void Reload() {
        ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
        initialized = false;
        ASSERT_EQ(Initialize(nullptr), CKR_OK);
        OpenUserSession();
    }

    std::vector<CK_OBJECT_HANDLE> Find(std::vector<CK_ATTRIBUTE> search) {
        std::vector<CK_OBJECT_HANDLE> found(16);
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjectsInit(session, search.data(), search.size()), CKR_OK);
        EXPECT_EQ(p11->C_FindObjects(session, found.data(), found.size(), &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        found.resize(count);
        return found;
    }

    CK_OBJECT_HANDLE FindKey(CK_OBJECT_CLASS objectClass, const std::string& label) {
        CK_KEY_TYPE keyType = CKK_RSA;
        const std::vector<CK_OBJECT_HANDLE> found = Find({{CKA_CLASS, &objectClass, sizeof objectClass},
                                                          {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                                          {CKA_LABEL, const_cast<char*>(label.data()), label.size()}});
        EXPECT_EQ(found.size(), 1u) << label;
        return found.empty() ? CK_INVALID_HANDLE : found[0];
    }

    CK_RV GenerateRv(CK_ULONG bits, const std::string& label, KeyPair& pair, bool publicOnToken = true) {
        CK_BBOOL yes = CK_TRUE;
        CK_BBOOL onToken = publicOnToken ? CK_TRUE : CK_FALSE;
        CK_ATTRIBUTE publicTemplate[] = {{CKA_MODULUS_BITS, &bits, sizeof bits},
                                         {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                         {CKA_TOKEN, &onToken, sizeof onToken}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                          {CKA_TOKEN, &yes, sizeof yes}};
        CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        return p11->C_GenerateKeyPair(session, &mechanism, publicTemplate, 3, privateTemplate, 2, &pair.publicKey,
                                      &pair.privateKey);
    }

    KeyPair Generate(CK_ULONG bits, const std::string& label) {
        KeyPair pair;
        EXPECT_EQ(GenerateRv(bits, label, pair), CKR_OK) << bits;
        return pair;
    }

    // C_CreateObject of an OpenSSL key's private half with all seven components.
    CK_RV Import(const OpenSslKey& key, const std::string& label, CK_OBJECT_HANDLE& handle) {
        static const char* const names[] = {"n", "e", "d", "rsa-factor1", "rsa-factor2", "rsa-exponent1",
                                            "rsa-exponent2", "rsa-coefficient1"};
        static const CK_ATTRIBUTE_TYPE types[] = {CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT,
                                                  CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2,
                                                  CKA_COEFFICIENT};
        std::vector<Bytes> values;
        for (const char* name : names) values.push_back(key.Component(name));
        CK_OBJECT_CLASS objectClass = CKO_PRIVATE_KEY;
        CK_KEY_TYPE keyType = CKK_RSA;
        std::vector<CK_ATTRIBUTE> attributes = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                                {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                                {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        for (size_t i = 0; i < values.size(); ++i) attributes.push_back({types[i], values[i].data(), values[i].size()});
        return p11->C_CreateObject(session, attributes.data(), attributes.size(), &handle);
    }

    CK_OBJECT_HANDLE CreatePublic(const Bytes& modulus, const std::string& label) {
        CK_OBJECT_CLASS objectClass = CKO_PUBLIC_KEY;
        CK_KEY_TYPE keyType = CKK_RSA;
        uint8_t exponent[] = {1, 0, 1};
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                     {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                     {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                     {CKA_MODULUS, const_cast<uint8_t*>(modulus.data()), modulus.size()},
                                     {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}};
        CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
        EXPECT_EQ(p11->C_CreateObject(session, attributes, 5, &handle), CKR_OK);
        return handle;
    }

    Bytes Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, CK_RV* rv = nullptr) {
        Bytes value(1024);
        CK_ATTRIBUTE record{type, value.data(), value.size()};
        const CK_RV result = p11->C_GetAttributeValue(session, object, &record, 1);
        if (rv != nullptr) *rv = result;
        value.resize(result == CKR_OK ? record.ulValueLen : 0);
        return value;
    }

    int Flag(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
        const Bytes value = Attribute(object, type);
        return value.size() == 1 ? (value[0] != CK_FALSE ? 1 : 0) : -1;
    }

    CK_ULONG ULong(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
        const Bytes value = Attribute(object, type);
        CK_ULONG result = ~CK_ULONG(0);
        if (value.size() == sizeof result) std::memcpy(&result, value.data(), sizeof result);
        return result;
    }

    // One of the single-part output calls after its Init: the length query, then the call.
    using OutputCall = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR);
    Bytes Output(OutputCall call, const Bytes& input, CK_RV expected = CKR_OK) {
        CK_ULONG length = 0;
        CK_RV rv = call(session, const_cast<uint8_t*>(input.data()), input.size(), nullptr, &length);
        if (rv != CKR_OK) {
            EXPECT_EQ(rv, expected);
            return Bytes();
        }
        Bytes out(length);
        rv = call(session, const_cast<uint8_t*>(input.data()), input.size(), out.data(), &length);
        EXPECT_EQ(rv, expected);
        out.resize(rv == CKR_OK ? length : 0);
        return out;
    }

    Bytes Sign(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data) {
        CK_MECHANISM mechanism{type, nullptr, 0};
        EXPECT_EQ(p11->C_SignInit(session, &mechanism, key), CKR_OK);
        return Output(p11->C_Sign, data);
    }

    CK_RV Verify(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data, const Bytes& signature) {
        CK_MECHANISM mechanism{type, nullptr, 0};
        const CK_RV rv = p11->C_VerifyInit(session, &mechanism, key);
        if (rv != CKR_OK) return rv;
        return p11->C_Verify(session, const_cast<uint8_t*>(data.data()), data.size(),
                             const_cast<uint8_t*>(signature.data()), signature.size());
    }

    Bytes Encrypt(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data) {
        CK_MECHANISM mechanism{type, nullptr, 0};
        EXPECT_EQ(p11->C_EncryptInit(session, &mechanism, key), CKR_OK);
        return Output(p11->C_Encrypt, data);
    }

    Bytes Decrypt(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data, CK_RV expected = CKR_OK) {
        CK_MECHANISM mechanism{type, nullptr, 0};
        EXPECT_EQ(p11->C_DecryptInit(session, &mechanism, key), CKR_OK);
        return Output(p11->C_Decrypt, data, expected);
    }

    Bytes VerifyRecover(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& signature,
                        CK_RV expected = CKR_OK) {
        CK_MECHANISM mechanism{type, nullptr, 0};
        EXPECT_EQ(p11->C_VerifyRecoverInit(session, &mechanism, key), CKR_OK);
        return Output(p11->C_VerifyRecover, signature, expected);
    }

    uint64_t Total() const { return rig->Control(0).Counters()["total"]; }

    CK_SESSION_HANDLE session = 0;
};

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace rsatest

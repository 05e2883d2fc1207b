// Triple-DES keys on the token and CBC / CBC-PAD through the token library's C_ functions,
// checked against OpenSSL's des-ede3-cbc.
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

#include "host_crypto_rig_fixture.h"

using namespace librarytest;

namespace {

const std::string kIv = "\x01\x23\x45\x67\x89\xAB\xCD\xEF";

// Three distinct DES keys with odd parity.
std::string KeyValue()
{
    std::string value;
    for (int i = 0; i < 24; ++i) value += static_cast<char>(0x10 + i * 9);
    for (char& c : value) {
        unsigned char b = static_cast<unsigned char>(c) & 0xFE;
        b |= (__builtin_popcount(b) % 2 == 0) ? 1 : 0;
        c = static_cast<char>(b);
    }
    return value;
}

std::string OpenSslEncrypt(const std::string& key, const std::string& data, bool pad)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                       reinterpret_cast<const unsigned char*>(kIv.data()));
    EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    std::string out(data.size() + 16, '\0');
    int length = 0, tail = 0;
    EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(&out[0]), &length,
                      reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(&out[length]), &tail);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(length + tail);
    return out;
}

std::string Data(size_t size)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 13 + 5);
    return data;
}

class Des3Rig : public HostCryptoRig {
protected:
    void SetUp() override
    {
        StartBoth();
        if (IsSkipped() || HasFatalFailure()) return;
        session = Open(fullSlot);
        ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    }

    CK_OBJECT_HANDLE CreateKey(const std::string& value, bool token, const std::string& label, CK_BBOOL sensitive,
                               CK_RV expected = CKR_OK)
    {
        CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
        CK_KEY_TYPE keyType = CKK_DES3;
        CK_BBOOL onToken = token ? CK_TRUE : CK_FALSE;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE attributes[] = {
            {CKA_CLASS, &keyClass, sizeof keyClass},
            {CKA_KEY_TYPE, &keyType, sizeof keyType},
            {CKA_TOKEN, &onToken, sizeof onToken},
            {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
            {CKA_VALUE, const_cast<char*>(value.data()), value.size()},
            {CKA_SENSITIVE, &sensitive, sizeof sensitive},
            {CKA_EXTRACTABLE, &yes, sizeof yes},
        };
        CK_OBJECT_HANDLE key = 0;
        EXPECT_EQ(p11->C_CreateObject(session, attributes, 7, &key), expected) << label;
        return key;
    }

    std::string Encrypt(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const std::string& data)
    {
        CK_MECHANISM mechanism{type, const_cast<char*>(kIv.data()), kIv.size()};
        EXPECT_EQ(p11->C_EncryptInit(session, &mechanism, key), CKR_OK);
        CK_ULONG length = 0;
        EXPECT_EQ(p11->C_Encrypt(session, In(data), data.size(), nullptr, &length), CKR_OK);
        std::string out(length, '\0');
        EXPECT_EQ(p11->C_Encrypt(session, In(data), data.size(), In(out), &length), CKR_OK);
        out.resize(length);
        return out;
    }

    CK_RV Decrypt(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const std::string& data, std::string& out)
    {
        CK_MECHANISM mechanism{type, const_cast<char*>(kIv.data()), kIv.size()};
        EXPECT_EQ(p11->C_DecryptInit(session, &mechanism, key), CKR_OK);
        CK_ULONG length = data.size();
        out.assign(length, '\0');
        const CK_RV rv = p11->C_Decrypt(session, In(data), data.size(), In(out), &length);
        out.resize(rv == CKR_OK ? length : 0);
        return rv;
    }

    CK_OBJECT_HANDLE Find(const std::string& label)
    {
        CK_ATTRIBUTE search[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        EXPECT_EQ(p11->C_FindObjectsInit(session, search, 1), CKR_OK);
        CK_OBJECT_HANDLE found = 0;
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjects(session, &found, 1, &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        return count == 1 ? found : 0;
    }

    CK_SESSION_HANDLE session = 0;
};

TEST_F(Des3Rig, MechanismRowsOnBothModels)
{
    for (CK_SLOT_ID slot : {fullSlot, liteSlot}) {
        for (CK_MECHANISM_TYPE type : {CKM_DES3_CBC, CKM_DES3_CBC_PAD}) {
            CK_MECHANISM_INFO info{};
            ASSERT_EQ(p11->C_GetMechanismInfo(slot, type, &info), CKR_OK);
            EXPECT_EQ(info.flags, CKF_ENCRYPT | CKF_DECRYPT);
            EXPECT_EQ(info.ulMinKeySize, 24u);
            EXPECT_EQ(info.ulMaxKeySize, 24u);
        }
    }
}

TEST_F(Des3Rig, TokenKeyEqualsOpenSslAndSurvivesAReload)
{
    const std::string value = KeyValue();
    ASSERT_NE(CreateKey(value, true, "des3-kept", CK_FALSE), 0u);
    const std::string data = Data(45);
    const std::string whole = data.substr(0, 40);
    p11->C_Finalize(nullptr);
    initialized = false;
    ASSERT_EQ(Initialize(nullptr), CKR_OK);
    session = Open(fullSlot);
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    const CK_OBJECT_HANDLE key = Find("des3-kept");
    ASSERT_NE(key, 0u);
    EXPECT_EQ(Encrypt(CKM_DES3_CBC, key, whole), OpenSslEncrypt(value, whole, false));
    const std::string padded = Encrypt(CKM_DES3_CBC_PAD, key, data);
    EXPECT_EQ(padded, OpenSslEncrypt(value, data, true));
    std::string plain;
    ASSERT_EQ(Decrypt(CKM_DES3_CBC_PAD, key, padded, plain), CKR_OK);
    EXPECT_EQ(plain, data);
    ASSERT_EQ(Decrypt(CKM_DES3_CBC, key, OpenSslEncrypt(value, whole, false), plain), CKR_OK);
    EXPECT_EQ(plain, whole);
    // Not sensitive: the stored value reads back.
    std::string read(24, '\0');
    CK_ATTRIBUTE valueAttribute{CKA_VALUE, In(read), 24};
    ASSERT_EQ(p11->C_GetAttributeValue(session, key, &valueAttribute, 1), CKR_OK);
    EXPECT_EQ(read, value);
}

TEST_F(Des3Rig, ParityIsSetOnEveryValueGiven)
{
    const CK_OBJECT_HANDLE key = CreateKey(std::string(24, '\0'), false, "zeros", CK_FALSE);
    std::string read(24, '\0');
    CK_ATTRIBUTE valueAttribute{CKA_VALUE, In(read), 24};
    ASSERT_EQ(p11->C_GetAttributeValue(session, key, &valueAttribute, 1), CKR_OK);
    EXPECT_EQ(read, std::string(24, '\x01'));
    CreateKey(std::string(16, '\0'), false, "short", CK_FALSE, CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST_F(Des3Rig, PaddingTable)
{
    const std::string value = KeyValue();
    const CK_OBJECT_HANDLE key = CreateKey(value, false, "pad", CK_FALSE);
    // The entry layer refuses empty input (CKR_DATA_LEN_RANGE) before any mechanism sees it.
    for (size_t size : {1u, 7u, 8u, 13u, 16u, 23u}) {
        const std::string data = Data(size);
        const std::string cipher = Encrypt(CKM_DES3_CBC_PAD, key, data);
        EXPECT_EQ(cipher.size(), size - size % 8 + 8) << size;
        EXPECT_EQ(cipher, OpenSslEncrypt(value, data, true)) << size;
    }
    // CBC alone: whole blocks only, in both directions.
    CK_MECHANISM cbc{CKM_DES3_CBC, const_cast<char*>(kIv.data()), kIv.size()};
    ASSERT_EQ(p11->C_EncryptInit(session, &cbc, key), CKR_OK);
    std::string out(16, '\0');
    CK_ULONG length = out.size();
    EXPECT_EQ(p11->C_Encrypt(session, In(Data(7)), 7, In(out), &length), CKR_DATA_LEN_RANGE);
    ASSERT_EQ(p11->C_DecryptInit(session, &cbc, key), CKR_OK);
    length = out.size();
    EXPECT_EQ(p11->C_Decrypt(session, In(Data(12)), 12, In(out), &length), CKR_DATA_LEN_RANGE);
    // A parameter that is no 8-byte IV.
    CK_MECHANISM shortIv{CKM_DES3_CBC_PAD, const_cast<char*>(kIv.data()), 7};
    EXPECT_EQ(p11->C_EncryptInit(session, &shortIv, key), CKR_MECHANISM_PARAM_INVALID);
}

TEST_F(Des3Rig, CbcPadUpdateSequences)
{
    const std::string value = KeyValue();
    const CK_OBJECT_HANDLE key = CreateKey(value, false, "seq", CK_FALSE);
    struct Sequence {
        std::vector<size_t> updates;
        std::vector<CK_ULONG> outputs;  // per update, then the final
        CK_RV lastUpdate;               // of the last update
    };
    const Sequence encryptions[] = {
        {{8, 5}, {8, 8, 0}, CKR_OK},
        {{8, 8}, {8, 8, 8}, CKR_OK},
        {{3}, {8, 0}, CKR_OK},
        {{8, 5, 8}, {8, 8}, CKR_DATA_LEN_RANGE},
    };
    CK_MECHANISM mechanism{CKM_DES3_CBC_PAD, const_cast<char*>(kIv.data()), kIv.size()};
    for (const Sequence& s : encryptions) {
        ASSERT_EQ(p11->C_EncryptInit(session, &mechanism, key), CKR_OK);
        std::string all, cipher;
        size_t at = 0;
        for (size_t i = 0; i < s.updates.size(); ++i) {
            const std::string part = Data(64).substr(at, s.updates[i]);
            at += part.size();
            std::string out(32, '\0');
            CK_ULONG length = out.size();
            const CK_RV rv = p11->C_EncryptUpdate(session, In(part), part.size(), In(out), &length);
            if (i + 1 == s.updates.size() && s.lastUpdate != CKR_OK) {
                EXPECT_EQ(rv, s.lastUpdate);
                break;
            }
            ASSERT_EQ(rv, CKR_OK);
            EXPECT_EQ(length, s.outputs[i]);
            all += part;
            cipher += out.substr(0, length);
        }
        if (s.lastUpdate != CKR_OK) continue;
        std::string out(16, '\0');
        CK_ULONG length = out.size();
        ASSERT_EQ(p11->C_EncryptFinal(session, In(out), &length), CKR_OK);
        EXPECT_EQ(length, s.outputs.back());
        cipher += out.substr(0, length);
        EXPECT_EQ(cipher, OpenSslEncrypt(value, all, true));
    }

    // Decryption holds back the last block of every update.
    const std::string data = Data(20);
    const std::string cipher = OpenSslEncrypt(value, data, true);  // 24 bytes
    ASSERT_EQ(p11->C_DecryptInit(session, &mechanism, key), CKR_OK);
    CK_ULONG length = 0;
    EXPECT_EQ(p11->C_DecryptFinal(session, nullptr, &length), CKR_ENCRYPTED_DATA_LEN_RANGE);
    ASSERT_EQ(p11->C_DecryptInit(session, &mechanism, key), CKR_OK);
    std::string plain, out(24, '\0');
    length = out.size();
    ASSERT_EQ(p11->C_DecryptUpdate(session, In(cipher), 8, In(out), &length), CKR_OK);
    EXPECT_EQ(length, 0u);
    length = out.size();
    // In place: the output is the input.
    std::string rest = cipher.substr(8);
    ASSERT_EQ(p11->C_DecryptUpdate(session, In(rest), 16, In(rest), &length), CKR_OK);
    EXPECT_EQ(length, 16u);
    plain += rest.substr(0, length);
    length = out.size();
    ASSERT_EQ(p11->C_DecryptFinal(session, In(out), &length), CKR_OK);
    EXPECT_EQ(length, 4u);
    plain += out.substr(0, length);
    EXPECT_EQ(plain, data);
}

TEST_F(Des3Rig, WrongKeyOrPaddingIsEncryptedDataInvalid)
{
    const std::string value = KeyValue();
    const CK_OBJECT_HANDLE key = CreateKey(value, false, "right", CK_FALSE);
    std::string other = value;
    std::reverse(other.begin(), other.end());
    const CK_OBJECT_HANDLE wrong = CreateKey(other, false, "wrong", CK_FALSE);
    int invalid = 0;
    for (size_t size = 1; size <= 32; ++size) {
        const std::string cipher = Encrypt(CKM_DES3_CBC_PAD, key, Data(size));
        std::string plain;
        const CK_RV rv = Decrypt(CKM_DES3_CBC_PAD, wrong, cipher, plain);
        EXPECT_TRUE(rv == CKR_OK || rv == CKR_ENCRYPTED_DATA_INVALID) << rv;
        if (rv == CKR_ENCRYPTED_DATA_INVALID) ++invalid;
    }
    EXPECT_GT(invalid, 20);
    // A plain CBC block of value 0x09 as its last byte is no padding.
    const std::string block = OpenSslEncrypt(value, std::string(7, 'x') + "\x09", false);
    std::string plain;
    EXPECT_EQ(Decrypt(CKM_DES3_CBC_PAD, key, block, plain), CKR_ENCRYPTED_DATA_INVALID);
    // Short output for the whole ciphertext: the ciphertext length is asked.
    const std::string cipher = Encrypt(CKM_DES3_CBC_PAD, key, Data(13));
    CK_MECHANISM mechanism{CKM_DES3_CBC_PAD, const_cast<char*>(kIv.data()), kIv.size()};
    ASSERT_EQ(p11->C_DecryptInit(session, &mechanism, key), CKR_OK);
    std::string out(13, '\0');
    CK_ULONG length = out.size();
    EXPECT_EQ(p11->C_Decrypt(session, In(cipher), cipher.size(), In(out), &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 16u);
}

TEST_F(Des3Rig, WrapWithTrustedIsKeptAndSensitiveKeysArePrivate)
{
    // A public, non-sensitive key and a key created sensitive without CKA_PRIVATE false.
    CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
    CK_KEY_TYPE keyType = CKK_DES3;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    const std::string value = KeyValue();
    struct Case {
        const char* label;
        CK_BBOOL wrapWithTrusted;
        CK_BBOOL sensitive;
        CK_BBOOL isPrivate;
        CK_BBOOL expectedPrivate;
    };
    const Case cases[] = {
        {"trusted-false", CK_FALSE, CK_FALSE, CK_FALSE, CK_FALSE},
        {"trusted-true", CK_TRUE, CK_FALSE, CK_FALSE, CK_FALSE},
        {"sensitive-public", CK_FALSE, CK_TRUE, CK_FALSE, CK_TRUE},
    };
    for (const Case& c : cases) {
        CK_BBOOL wrap = c.wrapWithTrusted, sensitive = c.sensitive, priv = c.isPrivate;
        CK_ATTRIBUTE attributes[] = {
            {CKA_CLASS, &keyClass, sizeof keyClass},
            {CKA_KEY_TYPE, &keyType, sizeof keyType},
            {CKA_TOKEN, &yes, sizeof yes},
            {CKA_PRIVATE, &priv, sizeof priv},
            {CKA_LABEL, const_cast<char*>(c.label), std::strlen(c.label)},
            {CKA_VALUE, const_cast<char*>(value.data()), value.size()},
            {CKA_SENSITIVE, &sensitive, sizeof sensitive},
            {CKA_WRAP_WITH_TRUSTED, &wrap, sizeof wrap},
        };
        CK_OBJECT_HANDLE key = 0;
        ASSERT_EQ(p11->C_CreateObject(session, attributes, 8, &key), CKR_OK) << c.label;
    }
    p11->C_Finalize(nullptr);
    initialized = false;
    ASSERT_EQ(Initialize(nullptr), CKR_OK);
    session = Open(fullSlot);
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    for (const Case& c : cases) {
        const CK_OBJECT_HANDLE key = Find(c.label);
        ASSERT_NE(key, 0u) << c.label;
        CK_BBOOL wrap = 0xEE, priv = 0xEE;
        CK_ATTRIBUTE read[] = {{CKA_WRAP_WITH_TRUSTED, &wrap, 1}, {CKA_PRIVATE, &priv, 1}};
        ASSERT_EQ(p11->C_GetAttributeValue(session, key, read, 2), CKR_OK) << c.label;
        EXPECT_EQ(wrap, c.wrapWithTrusted) << c.label;
        EXPECT_EQ(priv, c.expectedPrivate) << c.label;
    }
    // Only false to true later; the sensitive key still encrypts like OpenSSL.
    const CK_OBJECT_HANDLE plain = Find("trusted-false");
    CK_ATTRIBUTE turnOn{CKA_WRAP_WITH_TRUSTED, &yes, 1};
    EXPECT_EQ(p11->C_SetAttributeValue(session, plain, &turnOn, 1), CKR_OK);
    const CK_OBJECT_HANDLE trusted = Find("trusted-true");
    CK_ATTRIBUTE turnOff{CKA_WRAP_WITH_TRUSTED, &no, 1};
    EXPECT_NE(p11->C_SetAttributeValue(session, trusted, &turnOff, 1), CKR_OK);
    const std::string data = Data(16);
    EXPECT_EQ(Encrypt(CKM_DES3_CBC, Find("sensitive-public"), data), OpenSslEncrypt(value, data, false));
}

TEST_F(Des3Rig, ClearingSensitiveIsReadOnly)
{
    const CK_OBJECT_HANDLE key = CreateKey(KeyValue(), true, "one-way", CK_TRUE);
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ATTRIBUTE turnOff{CKA_SENSITIVE, &no, 1};
    EXPECT_EQ(p11->C_SetAttributeValue(session, key, &turnOff, 1), CKR_ATTRIBUTE_READ_ONLY);
    CK_ATTRIBUTE keepOn{CKA_SENSITIVE, &yes, 1};
    EXPECT_EQ(p11->C_SetAttributeValue(session, key, &keepOn, 1), CKR_OK);
    CK_BBOOL sensitive = 0xEE;
    CK_ATTRIBUTE read{CKA_SENSITIVE, &sensitive, 1};
    ASSERT_EQ(p11->C_GetAttributeValue(session, key, &read, 1), CKR_OK);
    EXPECT_EQ(sensitive, CK_TRUE);
}

}  // namespace

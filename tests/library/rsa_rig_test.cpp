// RSA keys and mechanisms of the token through the Cryptoki functions, with OpenSSL as the
// independent party.
#include <openssl/rand.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "rsa_rig_fixture.h"

using namespace rsatest;

namespace {

Bytes Random(size_t length) {
    Bytes bytes(length);
    RAND_bytes(bytes.data(), static_cast<int>(length));
    return bytes;
}

// The PKCS#1 v1.5 block type 1 of the data for a k-byte modulus.
Bytes SignatureBlock(const Bytes& data, size_t k) {
    Bytes block(k, 0xFF);
    block[0] = 0x00;
    block[1] = 0x01;
    block[k - data.size() - 1] = 0x00;
    std::copy(data.begin(), data.end(), block.end() - data.size());
    return block;
}

class RsaSizes : public RsaRigTest, public ::testing::WithParamInterface<CK_ULONG> {};

TEST_P(RsaSizes, GeneratedPairSignsDecryptsAndRecoversAsOpenSslExpects) {
    StartUser();
    if (IsSkipped() || HasFatalFailure()) return;
    const CK_ULONG bits = GetParam();
    const size_t k = bits / 8;
    const KeyPair pair = Generate(bits, "gen");
    ASSERT_NE(pair.privateKey, CK_INVALID_HANDLE);

    const Bytes modulus = Attribute(pair.publicKey, CKA_MODULUS);
    ASSERT_EQ(modulus.size(), k);
    EXPECT_EQ(Attribute(pair.privateKey, CKA_MODULUS), modulus);
    EXPECT_EQ(Attribute(pair.publicKey, CKA_PUBLIC_EXPONENT), Bytes({1, 0, 1}));
    EXPECT_EQ(ULong(pair.publicKey, CKA_MODULUS_BITS), bits);
    for (CK_OBJECT_HANDLE key : {pair.publicKey, pair.privateKey}) {
        EXPECT_EQ(Flag(key, CKA_LOCAL), 1);
        EXPECT_EQ(ULong(key, CKA_KEY_GEN_MECHANISM), CKM_RSA_PKCS_KEY_PAIR_GEN);
        EXPECT_EQ(Flag(key, CKA_TOKEN), 1);
    }
    EXPECT_EQ(Flag(pair.privateKey, CKA_SENSITIVE), 1);
    EXPECT_EQ(Flag(pair.privateKey, CKA_NEVER_EXTRACTABLE), 1);
    EXPECT_EQ(Flag(pair.publicKey, CKA_PRIVATE), 0);
    CK_RV rv = CKR_OK;
    Attribute(pair.privateKey, CKA_PRIVATE_EXPONENT, &rv);
    EXPECT_EQ(rv, CKR_ATTRIBUTE_SENSITIVE);

    const OpenSslKey openssl(modulus, {1, 0, 1});
    const Bytes data = Random(k - 11);

    // Signature and its recovery.
    const Bytes signature = Sign(CKM_RSA_PKCS, pair.privateKey, data);
    ASSERT_EQ(signature.size(), k);
    EXPECT_EQ(openssl.PublicDecrypt(signature), data);
    EXPECT_EQ(Verify(CKM_RSA_PKCS, pair.publicKey, data, signature), CKR_OK);
    EXPECT_EQ(VerifyRecover(CKM_RSA_PKCS, pair.publicKey, signature), data);
    Bytes changed = signature;
    changed[k / 2] ^= 0x01;
    EXPECT_EQ(Verify(CKM_RSA_PKCS, pair.publicKey, data, changed), CKR_SIGNATURE_INVALID);
    EXPECT_EQ(Verify(CKM_RSA_PKCS, pair.publicKey, Random(20), signature), CKR_SIGNATURE_INVALID);

    // The raw operation over the padded block gives the same signature, and recovers the block.
    EXPECT_EQ(Sign(CKM_RSA_X_509, pair.privateKey, SignatureBlock(data, k)), signature);
    EXPECT_EQ(VerifyRecover(CKM_RSA_X_509, pair.publicKey, signature), SignatureBlock(data, k));
    EXPECT_EQ(Verify(CKM_RSA_X_509, pair.publicKey, SignatureBlock(data, k), signature), CKR_OK);

    // Encryption both ways.
    const Bytes secret = Random(k / 4);
    EXPECT_EQ(Decrypt(CKM_RSA_PKCS, pair.privateKey, openssl.PublicEncrypt(secret, RSA_PKCS1_PADDING)), secret);
    const Bytes ours = Encrypt(CKM_RSA_PKCS, pair.publicKey, secret);
    ASSERT_EQ(ours.size(), k);
    EXPECT_EQ(Decrypt(CKM_RSA_PKCS, pair.privateKey, ours), secret);
    const Bytes block = Decrypt(CKM_RSA_X_509, pair.privateKey, ours);
    ASSERT_EQ(block.size(), k);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0x02);
    EXPECT_EQ(Bytes(block.end() - secret.size(), block.end()), secret);
}

INSTANTIATE_TEST_SUITE_P(Bits, RsaSizes, ::testing::Values(512, 1024, 1536, 2048),
                         [](const ::testing::TestParamInfo<CK_ULONG>& info) { return std::to_string(info.param); });

// A data call whose input or signature has a length the key cannot take.
enum class Call { Verify, VerifyFinal, VerifyRecover, Encrypt, Decrypt, Sign };

struct LengthCase {
    const char* name;
    CK_MECHANISM_TYPE type;
    Call call;
    size_t (*input)(size_t k);      // the data, or the signature of a recovery
    size_t (*signature)(size_t k);  // Verify and VerifyFinal only
    CK_RV expected;
};

size_t Twenty(size_t) { return 20; }
size_t Four(size_t) { return 4; }
size_t K(size_t k) { return k; }
size_t KMinus1(size_t k) { return k - 1; }
size_t KPlus1(size_t k) { return k + 1; }

const LengthCase kLengthCases[] = {
    {"pkcs verify, short signature", CKM_RSA_PKCS, Call::Verify, Twenty, KMinus1, CKR_SIGNATURE_LEN_RANGE},
    {"pkcs verify, long signature", CKM_RSA_PKCS, Call::Verify, Twenty, KPlus1, CKR_SIGNATURE_LEN_RANGE},
    {"pkcs verify, 4-byte signature", CKM_RSA_PKCS, Call::Verify, Twenty, Four, CKR_SIGNATURE_LEN_RANGE},
    {"x509 verify, short signature", CKM_RSA_X_509, Call::Verify, K, KMinus1, CKR_SIGNATURE_LEN_RANGE},
    {"x509 verify, long signature", CKM_RSA_X_509, Call::Verify, K, KPlus1, CKR_SIGNATURE_LEN_RANGE},
    {"x509 verify, long data", CKM_RSA_X_509, Call::Verify, KPlus1, K, CKR_DATA_LEN_RANGE},
    {"sha1 verify, long signature", CKM_SHA1_RSA_PKCS, Call::Verify, Twenty, KPlus1, CKR_SIGNATURE_LEN_RANGE},
    {"sha224 verify, short signature", CKM_SHA224_RSA_PKCS, Call::Verify, Twenty, KMinus1, CKR_SIGNATURE_LEN_RANGE},
    {"sha256 final, short signature", CKM_SHA256_RSA_PKCS, Call::VerifyFinal, Twenty, KMinus1,
     CKR_SIGNATURE_LEN_RANGE},
    {"sha384 final, long signature", CKM_SHA384_RSA_PKCS, Call::VerifyFinal, Twenty, KPlus1, CKR_SIGNATURE_LEN_RANGE},
    {"sha512 verify, 4-byte signature", CKM_SHA512_RSA_PKCS, Call::Verify, Twenty, Four, CKR_SIGNATURE_LEN_RANGE},
    {"pkcs recover, short signature", CKM_RSA_PKCS, Call::VerifyRecover, KMinus1, nullptr, CKR_SIGNATURE_LEN_RANGE},
    {"x509 recover, long signature", CKM_RSA_X_509, Call::VerifyRecover, KPlus1, nullptr, CKR_SIGNATURE_LEN_RANGE},
    {"x509 encrypt, long data", CKM_RSA_X_509, Call::Encrypt, KPlus1, nullptr, CKR_DATA_LEN_RANGE},
    {"x509 sign, long data", CKM_RSA_X_509, Call::Sign, KPlus1, nullptr, CKR_DATA_LEN_RANGE},
    {"pkcs decrypt, short input", CKM_RSA_PKCS, Call::Decrypt, KMinus1, nullptr, CKR_ENCRYPTED_DATA_LEN_RANGE},
    {"x509 decrypt, long input", CKM_RSA_X_509, Call::Decrypt, KPlus1, nullptr, CKR_ENCRYPTED_DATA_LEN_RANGE},
};

class RsaLengths : public RsaRigTest, public ::testing::WithParamInterface<CK_ULONG> {
protected:
    librarytest::FrozenCacheClock clock_;  // the calls' command counts
};

TEST_P(RsaLengths, WrongLengthsAreRefusedOnTheHostAndSendNothing) {
    StartUser();
    if (IsSkipped() || HasFatalFailure()) return;
    const size_t k = GetParam() / 8;
    const KeyPair pair = Generate(GetParam(), "lengths");
    ASSERT_NE(pair.privateKey, CK_INVALID_HANDLE);
    for (const LengthCase& c : kLengthCases) {
        SCOPED_TRACE(c.name);
        Bytes input = Random(c.input(k));
        input[0] = 0;  // a block below the modulus: only its length can be wrong
        Bytes signature = c.signature != nullptr ? Random(c.signature(k)) : Bytes();
        CK_MECHANISM mechanism{c.type, nullptr, 0};
        switch (c.call) {
            case Call::Verify:
            case Call::VerifyFinal: ASSERT_EQ(p11->C_VerifyInit(session, &mechanism, pair.publicKey), CKR_OK); break;
            case Call::VerifyRecover:
                ASSERT_EQ(p11->C_VerifyRecoverInit(session, &mechanism, pair.publicKey), CKR_OK);
                break;
            case Call::Encrypt: ASSERT_EQ(p11->C_EncryptInit(session, &mechanism, pair.publicKey), CKR_OK); break;
            case Call::Decrypt: ASSERT_EQ(p11->C_DecryptInit(session, &mechanism, pair.privateKey), CKR_OK); break;
            case Call::Sign: ASSERT_EQ(p11->C_SignInit(session, &mechanism, pair.privateKey), CKR_OK); break;
        }
        Bytes out(k + 16);
        CK_ULONG outLength = out.size();
        const uint64_t before = Total();
        CK_RV rv = CKR_OK;
        switch (c.call) {
            case Call::Verify:
                rv = p11->C_Verify(session, input.data(), input.size(), signature.data(), signature.size());
                break;
            case Call::VerifyFinal:
                rv = p11->C_VerifyUpdate(session, input.data(), input.size());
                if (rv == CKR_OK) rv = p11->C_VerifyFinal(session, signature.data(), signature.size());
                break;
            case Call::VerifyRecover:
                rv = p11->C_VerifyRecover(session, input.data(), input.size(), out.data(), &outLength);
                break;
            case Call::Encrypt: rv = p11->C_Encrypt(session, input.data(), input.size(), out.data(), &outLength); break;
            case Call::Decrypt: rv = p11->C_Decrypt(session, input.data(), input.size(), out.data(), &outLength); break;
            case Call::Sign: rv = p11->C_Sign(session, input.data(), input.size(), out.data(), &outLength); break;
        }
        EXPECT_EQ(rv, c.expected);
        EXPECT_EQ(Total(), before) << "a length the key cannot take is refused before anything is sent";
    }
}

INSTANTIATE_TEST_SUITE_P(Bits, RsaLengths, ::testing::Values(512, 1024, 1536, 2048),
                         [](const ::testing::TestParamInfo<CK_ULONG>& info) {
                             return "rsa" + std::to_string(info.param);
                         });

TEST_F(RsaRigTest, ImportedOpenSslKeySignsAndDecryptsAndItsBlobIsTheSevenComponents) {
    char pattern[] = "/tmp/rsa-rig-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string state = std::string(pattern) + "/token.state";
    StartUser({"--state", state});
    if (IsSkipped() || HasFatalFailure()) return;
    const OpenSslKey key(1024);
    CK_OBJECT_HANDLE imported = CK_INVALID_HANDLE;
    ASSERT_EQ(Import(key, "imported", imported), CKR_OK);
    const CK_OBJECT_HANDLE publicKey = CreatePublic(key.Component("n"), "imported");

    const Bytes data = Random(36);
    EXPECT_EQ(key.PublicDecrypt(Sign(CKM_RSA_PKCS, imported, data)), data);
    EXPECT_EQ(key.PrivateDecrypt(Encrypt(CKM_RSA_PKCS, publicKey, data)), data);
    EXPECT_EQ(Decrypt(CKM_RSA_PKCS, imported, key.PublicEncrypt(data, RSA_PKCS1_PADDING)), data);
    EXPECT_EQ(Flag(imported, CKA_LOCAL), 0);
    EXPECT_EQ(Flag(imported, CKA_SENSITIVE), 1);

    // The token holds 2-byte big-endian lengths and the components, in order, nothing else.
    std::string expected;
    for (const char* name : {"n", "d", "rsa-factor1", "rsa-factor2", "rsa-exponent1", "rsa-exponent2",
                             "rsa-coefficient1"}) {
        const Bytes value = key.Component(name);
        const uint8_t length[2] = {uint8_t(value.size() >> 8), uint8_t(value.size())};
        for (uint8_t b : Bytes(length, length + 2)) expected += "0123456789abcdef"[b >> 4], expected += "0123456789abcdef"[b & 15];
        for (uint8_t b : value) expected += "0123456789abcdef"[b >> 4], expected += "0123456789abcdef"[b & 15];
    }
    std::ifstream in(state);
    std::string line;
    std::string stored;
    while (std::getline(in, line)) {
        if (line.rfind("key ", 0) == 0) stored = line;
    }
    std::istringstream fields(stored);
    std::string word, slot, paramSet, blob;
    fields >> word >> slot >> paramSet >> blob;
    EXPECT_EQ(paramSet, "6");
    std::string lowerBlob = blob;
    for (char& c : lowerBlob) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(lowerBlob, expected);
    std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
}

TEST_F(RsaRigTest, ImportRefusesIncompleteAndMisfitTemplatesBeforeTheTokenIsAsked) {
    StartUser();
    if (IsSkipped() || HasFatalFailure()) return;
    const OpenSslKey key(1024);
    const Bytes n = key.Component("n");
    const Bytes d = key.Component("d");
    CK_OBJECT_CLASS objectClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_BBOOL no = CK_FALSE;
    Bytes paddedN(1, 0);
    paddedN.insert(paddedN.end(), n.begin(), n.end());
    uint8_t three = 3;
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> extra;
        CK_RV expected;
    };
    const Case cases[] = {
        {"modulus and exponent only", {{CKA_MODULUS, const_cast<uint8_t*>(n.data()), n.size()},
                                       {CKA_PRIVATE_EXPONENT, const_cast<uint8_t*>(d.data()), d.size()}},
         CKR_TEMPLATE_INCOMPLETE},
        {"session key", {{CKA_MODULUS, const_cast<uint8_t*>(n.data()), n.size()},
                         {CKA_PRIVATE_EXPONENT, const_cast<uint8_t*>(d.data()), d.size()},
                         {CKA_TOKEN, &no, 1}},
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"public object", {{CKA_MODULUS, const_cast<uint8_t*>(n.data()), n.size()},
                           {CKA_PRIVATE_EXPONENT, const_cast<uint8_t*>(d.data()), d.size()},
                           {CKA_PRIVATE, &no, 1}},
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"exponent 3", {{CKA_MODULUS, const_cast<uint8_t*>(n.data()), n.size()},
                        {CKA_PRIVATE_EXPONENT, const_cast<uint8_t*>(d.data()), d.size()},
                        {CKA_PUBLIC_EXPONENT, &three, 1}},
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"1000-bit modulus", {{CKA_MODULUS, const_cast<uint8_t*>(n.data()), 125},
                              {CKA_PRIVATE_EXPONENT, const_cast<uint8_t*>(d.data()), d.size()}},
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"modulus bits given", {{CKA_MODULUS, const_cast<uint8_t*>(n.data()), n.size()},
                                {CKA_PRIVATE_EXPONENT, const_cast<uint8_t*>(d.data()), d.size()},
                                {CKA_MODULUS_BITS, &keyType, sizeof keyType}},
         CKR_TEMPLATE_INCONSISTENT},
    };
    rig->Control(0).ResetCounters();
    for (const Case& c : cases) {
        std::vector<CK_ATTRIBUTE> attributes = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                                {CKA_KEY_TYPE, &keyType, sizeof keyType}};
        attributes.insert(attributes.end(), c.extra.begin(), c.extra.end());
        CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
        EXPECT_EQ(p11->C_CreateObject(session, attributes.data(), attributes.size(), &handle), c.expected) << c.name;
    }
    EXPECT_EQ(rig->Control(0).Count("LoadKey"), 0u);
}

TEST_F(RsaRigTest, KeysComeBackAfterFinalizeWithTheirFlagsAndStillWork) {
    StartUser();
    if (IsSkipped() || HasFatalFailure()) return;
    const KeyPair pair = Generate(1024, "kept");
    const Bytes modulus = Attribute(pair.publicKey, CKA_MODULUS);
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE change[] = {{CKA_SIGN_RECOVER, &no, 1}};
    ASSERT_EQ(p11->C_SetAttributeValue(session, pair.privateKey, change, 1), CKR_OK);
    CK_ATTRIBUTE publicChange[] = {{CKA_ENCRYPT, &no, 1}};
    ASSERT_EQ(p11->C_SetAttributeValue(session, pair.publicKey, publicChange, 1), CKR_OK);
    Reload();
    if (HasFatalFailure()) return;

    const CK_OBJECT_HANDLE privateKey = FindKey(CKO_PRIVATE_KEY, "kept");
    const CK_OBJECT_HANDLE publicKey = FindKey(CKO_PUBLIC_KEY, "kept");
    EXPECT_EQ(Attribute(privateKey, CKA_MODULUS), modulus);
    EXPECT_EQ(Attribute(publicKey, CKA_MODULUS), modulus);
    EXPECT_EQ(ULong(publicKey, CKA_MODULUS_BITS), 1024u);
    EXPECT_EQ(ULong(privateKey, CKA_MODULUS_BITS), 1024u);
    EXPECT_EQ(Attribute(privateKey, CKA_PUBLIC_EXPONENT), Bytes({1, 0, 1}));
    EXPECT_EQ(Flag(privateKey, CKA_SIGN_RECOVER), 0);
    EXPECT_EQ(Flag(privateKey, CKA_SIGN), 1);
    EXPECT_EQ(Flag(privateKey, CKA_SENSITIVE), 1);
    EXPECT_EQ(Flag(privateKey, CKA_ALWAYS_SENSITIVE), 1);
    EXPECT_EQ(Flag(privateKey, CKA_NEVER_EXTRACTABLE), 1);
    EXPECT_EQ(Flag(privateKey, CKA_COPYABLE), 0);
    EXPECT_EQ(Flag(publicKey, CKA_ENCRYPT), 0);
    EXPECT_EQ(Flag(publicKey, CKA_VERIFY), 1);
    EXPECT_EQ(Flag(privateKey, CKA_LOCAL), 1);
    EXPECT_EQ(ULong(privateKey, CKA_KEY_GEN_MECHANISM), CKM_RSA_PKCS_KEY_PAIR_GEN);
    const Bytes data = Random(40);
    EXPECT_EQ(Verify(CKM_RSA_PKCS, publicKey, data, Sign(CKM_RSA_PKCS, privateKey, data)), CKR_OK);
    CK_OBJECT_HANDLE copy = CK_INVALID_HANDLE;
    EXPECT_EQ(p11->C_CopyObject(session, privateKey, nullptr, 0, &copy), CKR_COPY_PROHIBITED);
}

TEST_F(RsaRigTest, ImportedKeyStoredNotSensitiveReadsBackNotSensitive) {
    StartUser();
    if (IsSkipped() || HasFatalFailure()) return;
    const OpenSslKey key(1024);
    CK_OBJECT_HANDLE imported = CK_INVALID_HANDLE;
    ASSERT_EQ(Import(key, "plain", imported), CKR_OK);
    CK_BBOOL no = CK_FALSE;
    // A template that names a sensitivity attribute gets no defaults for the others.
    CK_OBJECT_HANDLE second = CK_INVALID_HANDLE;
    {
        const OpenSslKey other(1024);
        static const char* const names[] = {"n", "d", "rsa-factor1", "rsa-factor2", "rsa-exponent1", "rsa-exponent2",
                                            "rsa-coefficient1"};
        static const CK_ATTRIBUTE_TYPE types[] = {CKA_MODULUS, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2,
                                                  CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_COEFFICIENT};
        std::vector<Bytes> values;
        for (const char* name : names) values.push_back(other.Component(name));
        CK_OBJECT_CLASS objectClass = CKO_PRIVATE_KEY;
        CK_KEY_TYPE keyType = CKK_RSA;
        std::string label = "open";
        std::vector<CK_ATTRIBUTE> attributes = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                                {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                                {CKA_LABEL, label.data(), label.size()},
                                                {CKA_SENSITIVE, &no, 1},
                                                {CKA_WRAP_WITH_TRUSTED, &no, 1}};
        for (size_t i = 0; i < values.size(); ++i) attributes.push_back({types[i], values[i].data(), values[i].size()});
        ASSERT_EQ(p11->C_CreateObject(session, attributes.data(), attributes.size(), &second), CKR_OK);
    }
    EXPECT_EQ(Flag(second, CKA_SENSITIVE), 0);
    Reload();
    if (HasFatalFailure()) return;
    const CK_OBJECT_HANDLE back = FindKey(CKO_PRIVATE_KEY, "open");
    EXPECT_EQ(Flag(back, CKA_SENSITIVE), 0);
    EXPECT_EQ(Flag(back, CKA_ALWAYS_SENSITIVE), 0);
    EXPECT_EQ(Flag(back, CKA_NEVER_EXTRACTABLE), 0);
    EXPECT_EQ(Flag(back, CKA_WRAP_WITH_TRUSTED), 0);
}

TEST_F(RsaRigTest, TokenCommandsPerCall) {
    librarytest::FrozenCacheClock clock;
    StartUser();
    if (IsSkipped() || HasFatalFailure()) return;
    const KeyPair pair = Generate(2048, "count");
    const CK_OBJECT_HANDLE privateKey = FindKey(CKO_PRIVATE_KEY, "count");
    const CK_OBJECT_HANDLE publicKey = FindKey(CKO_PUBLIC_KEY, "count");
    const Bytes data = Random(32);
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};

    // Length queries send nothing; a signature is the token data revision read (is the key still
    // the one its handle names?) and one command.
    ASSERT_EQ(p11->C_SignInit(session, &mechanism, privateKey), CKR_OK);
    CK_ULONG length = 0;
    const uint64_t before = Total();
    ASSERT_EQ(p11->C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    EXPECT_EQ(Total(), before);
    Bytes signature(length);
    ASSERT_EQ(p11->C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), signature.data(), &length), CKR_OK);
    EXPECT_EQ(Total(), before + 2);

    ASSERT_EQ(p11->C_EncryptInit(session, &mechanism, publicKey), CKR_OK);
    const uint64_t beforeQuery = Total();
    length = 0;
    ASSERT_EQ(p11->C_Encrypt(session, const_cast<uint8_t*>(data.data()), data.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 256u);
    EXPECT_EQ(Total(), beforeQuery);
    Bytes tooLong(246, 0x41);
    EXPECT_EQ(p11->C_Encrypt(session, tooLong.data(), tooLong.size(), nullptr, &length), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(Total(), beforeQuery);
    ASSERT_EQ(p11->C_EncryptInit(session, &mechanism, publicKey), CKR_OK);
    Bytes one(32, 0x41);
    Bytes encrypted(256);
    length = encrypted.size();
    const uint64_t beforeEncrypt = Total();
    ASSERT_EQ(p11->C_Encrypt(session, one.data(), one.size(), encrypted.data(), &length), CKR_OK);
    EXPECT_LE(Total() - beforeEncrypt, 10u);

    ASSERT_EQ(p11->C_DecryptInit(session, &mechanism, privateKey), CKR_OK);
    const uint64_t beforeDecrypt = Total();
    Bytes small(100);
    length = small.size();
    EXPECT_EQ(p11->C_Decrypt(session, encrypted.data(), encrypted.size(), small.data(), &length),
              CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 256u);
    EXPECT_EQ(Total(), beforeDecrypt);
    Bytes plain(256);
    length = plain.size();
    ASSERT_EQ(p11->C_Decrypt(session, encrypted.data(), encrypted.size(), plain.data(), &length), CKR_OK);
    plain.resize(length);
    EXPECT_EQ(plain, one);
    EXPECT_EQ(Total(), beforeDecrypt + 2) << "the revision read and one decryption";
    (void)pair;
}

TEST_F(RsaRigTest, BadPaddingGivesOneUniformErrorPerOperation) {
    StartUser();
    if (IsSkipped() || HasFatalFailure()) return;
    const KeyPair pair = Generate(1024, "pad");
    const OpenSslKey openssl(Attribute(pair.publicKey, CKA_MODULUS), {1, 0, 1});
    const Bytes data = Random(20);
    Bytes typeOne = SignatureBlock(data, 128);
    Bytes noSeparator(128, 0x33);
    noSeparator[0] = 0x00;
    noSeparator[1] = 0x02;
    Bytes shortPadding(128, 0x33);
    shortPadding[0] = 0x00;
    shortPadding[1] = 0x02;
    shortPadding[6] = 0x00;
    for (const Bytes& block : {typeOne, noSeparator, shortPadding}) {
        Decrypt(CKM_RSA_PKCS, pair.privateKey, openssl.PublicEncrypt(block, RSA_NO_PADDING),
                CKR_ENCRYPTED_DATA_INVALID);
    }
    // A type 2 block is no signature.
    const Bytes encryptedBlock = Encrypt(CKM_RSA_PKCS, pair.publicKey, data);
    const Bytes typeTwo = Decrypt(CKM_RSA_X_509, pair.privateKey, encryptedBlock);
    const Bytes signedTypeTwo = Sign(CKM_RSA_X_509, pair.privateKey, typeTwo);
    VerifyRecover(CKM_RSA_PKCS, pair.publicKey, signedTypeTwo, CKR_SIGNATURE_INVALID);
}

TEST_F(RsaRigTest, KeySizesAndTemplatesAreCheckedBeforeAnythingIsSent) {
    StartUser();
    if (IsSkipped() || HasFatalFailure()) return;
    rig->Control(0).ResetCounters();
    KeyPair pair;
    for (CK_ULONG bits : {0ul, 1000ul, 4096ul, 256ul}) EXPECT_EQ(GenerateRv(bits, "x", pair), CKR_ATTRIBUTE_VALUE_INVALID) << bits;
    CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    std::string label = "no size";
    CK_ATTRIBUTE withoutBits[] = {{CKA_LABEL, label.data(), label.size()}};
    EXPECT_EQ(
        p11->C_GenerateKeyPair(session, &mechanism, withoutBits, 1, nullptr, 0, &pair.publicKey, &pair.privateKey),
        CKR_TEMPLATE_INCOMPLETE);
    EXPECT_EQ(rig->Control(0).Count("GenerateKey"), 0u);

    CK_ULONG bits = 1024;
    uint8_t three = 3;
    uint8_t padded[] = {0, 1, 0, 1};
    CK_BBOOL no = CK_FALSE;
    CK_OBJECT_CLASS wrongClass = CKO_PUBLIC_KEY;
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> publicExtra;
        std::vector<CK_ATTRIBUTE> privateExtra;
        CK_RV expected;
    };
    const Case cases[] = {
        {"exponent 3", {{CKA_PUBLIC_EXPONENT, &three, 1}}, {}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"private session key", {}, {{CKA_TOKEN, &no, 1}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"public private key", {}, {{CKA_PRIVATE, &no, 1}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"private class public", {}, {{CKA_CLASS, &wrongClass, sizeof wrongClass}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"modulus bits in private", {}, {{CKA_MODULUS_BITS, &bits, sizeof bits}}, CKR_ATTRIBUTE_READ_ONLY},
        {"exponent with a leading zero", {{CKA_PUBLIC_EXPONENT, padded, sizeof padded}}, {}, CKR_OK},
    };
    for (const Case& c : cases) {
        std::vector<CK_ATTRIBUTE> publicTemplate = {{CKA_MODULUS_BITS, &bits, sizeof bits}};
        publicTemplate.insert(publicTemplate.end(), c.publicExtra.begin(), c.publicExtra.end());
        std::vector<CK_ATTRIBUTE> privateTemplate = c.privateExtra;
        const uint64_t generated = rig->Control(0).Count("GenerateKey");
        EXPECT_EQ(p11->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), publicTemplate.size(),
                                         privateTemplate.empty() ? nullptr : privateTemplate.data(),
                                         privateTemplate.size(), &pair.publicKey, &pair.privateKey),
                  c.expected)
            << c.name;
        EXPECT_EQ(rig->Control(0).Count("GenerateKey") - generated, c.expected == CKR_OK ? 1u : 0u) << c.name;
    }
}

TEST_F(RsaRigTest, SessionPublicKeyBesideATokenPrivateKey) {
    StartUser();
    if (IsSkipped() || HasFatalFailure()) return;
    KeyPair pair;
    ASSERT_EQ(GenerateRv(1024, "sess", pair, false), CKR_OK);
    EXPECT_EQ(Flag(pair.publicKey, CKA_TOKEN), 0);
    const Bytes data = Random(30);
    EXPECT_EQ(Verify(CKM_RSA_PKCS, pair.publicKey, data, Sign(CKM_RSA_PKCS, pair.privateKey, data)), CKR_OK);
    Reload();
    if (HasFatalFailure()) return;
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    EXPECT_TRUE(Find({{CKA_CLASS, &publicClass, sizeof publicClass}}).empty());
    FindKey(CKO_PRIVATE_KEY, "sess");
}

struct Firmware {
    const char* version;
    const char* model;
    bool rsa;
    bool rsa512;
};

class RsaFirmware : public RsaRigTest, public ::testing::WithParamInterface<Firmware> {};

TEST_P(RsaFirmware, MechanismListAndSmallestKeyFollowTheModelAndVersion) {
    const Firmware& f = GetParam();
    StartUser({"--firmware", f.version, "--model", f.model});
    if (IsSkipped() || HasFatalFailure()) return;
    CK_ULONG count = 0;
    ASSERT_EQ(p11->C_GetMechanismList(0, nullptr, &count), CKR_OK);
    std::vector<CK_MECHANISM_TYPE> types(count);
    ASSERT_EQ(p11->C_GetMechanismList(0, types.data(), &count), CKR_OK);
    const CK_MECHANISM_TYPE rsaTypes[] = {CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_RSA_PKCS, CKM_RSA_X_509};
    for (CK_MECHANISM_TYPE type : rsaTypes) {
        EXPECT_EQ(std::count(types.begin(), types.end(), type), f.rsa ? 1 : 0) << type;
    }
    if (!f.rsa) return;
    CK_MECHANISM_INFO info{};
    ASSERT_EQ(p11->C_GetMechanismInfo(0, CKM_RSA_PKCS, &info), CKR_OK);
    EXPECT_EQ(info.ulMinKeySize, f.rsa512 ? 512u : 1024u);
    EXPECT_EQ(info.ulMaxKeySize, 2048u);
    EXPECT_EQ(info.flags, 0x67B01u);
    ASSERT_EQ(p11->C_GetMechanismInfo(0, CKM_RSA_X_509, &info), CKR_OK);
    EXPECT_EQ(info.flags, 0x7B01u);
    ASSERT_EQ(p11->C_GetMechanismInfo(0, CKM_RSA_PKCS_KEY_PAIR_GEN, &info), CKR_OK);
    EXPECT_EQ(info.flags, 0x10001u);
    KeyPair pair;
    EXPECT_EQ(GenerateRv(512, "small", pair), f.rsa512 ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID);
}

INSTANTIATE_TEST_SUITE_P(Tokens, RsaFirmware,
                         ::testing::Values(Firmware{"4.14", "full", true, false}, Firmware{"4.15", "full", true, true},
                                           Firmware{"5.0", "full", true, true}, Firmware{"5.15", "lite", false, false}),
                         [](const ::testing::TestParamInfo<Firmware>& info) {
                             std::string name = std::string(info.param.model) + "_" + info.param.version;
                             for (char& c : name) c = c == '.' ? '_' : c;
                             return name;
                         });

}  // namespace

namespace {

// The token's contents as its state file tells them: key slots and files.
std::vector<std::string> StoredItems(const std::string& state) {
    std::ifstream in(state);
    std::vector<std::string> items;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("key ", 0) == 0 || line.rfind("file ", 0) == 0) {
            std::istringstream fields(line);
            std::string kind, id;
            fields >> kind >> id;
            items.push_back(kind + " " + id);
        }
    }
    return items;
}

TEST_F(RsaRigTest, FailedGenerationLeavesNoKeyAndNoFilesBehind) {
    char pattern[] = "/tmp/rsa-rig-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string state = std::string(pattern) + "/token.state";
    StartUser({"--state", state});
    if (IsSkipped() || HasFatalFailure()) return;
    const std::vector<std::string> before = StoredItems(state);
    for (const char* kind : {"truncated", "bad-sw"}) {
        rig->Control(0).Request(std::string("malformed ") + kind + " 1 GenerateKey");
        KeyPair pair;
        EXPECT_NE(GenerateRv(1024, "broken", pair), CKR_OK) << kind;
        EXPECT_EQ(StoredItems(state), before) << kind;
    }
    rig->Control(0).ClearFaults();
    const KeyPair pair = Generate(1024, "whole");
    EXPECT_NE(StoredItems(state), before);
    Reload();
    if (HasFatalFailure()) return;
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    EXPECT_EQ(Find({{CKA_CLASS, &privateClass, sizeof privateClass}}).size(), 1u);
    (void)pair;
    std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
}

}  // namespace

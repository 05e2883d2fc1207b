// Cryptographic functions through the C_ functions on the toy mechanisms: single- and
// multi-part calls, length queries, and what becomes of the operation after an error.
#include <functional>
#include <thread>

#include "object_fixture.h"

namespace {

using zrtest::TOY_CIPHER;
using zrtest::TOY_DIGEST;
using zrtest::TOY_SIGN;

CK_MECHANISM Mechanism(CK_MECHANISM_TYPE type) { return CK_MECHANISM{type, nullptr, 0}; }

class CryptoTest : public ObjectTest {
protected:
    void SetUp() override {
        ObjectTest::SetUp();
        ASSERT_EQ(CKR_OK, UserLogin(rw));
        secret = MustCreate(rw, Secret("\x21" "key", {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY}));
    }
    CK_RV Init(CK_RV (*init)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE), CK_MECHANISM_TYPE type,
               CK_OBJECT_HANDLE key) {
        CK_MECHANISM mechanism = Mechanism(type);
        return init(rw, &mechanism, key);
    }
    CK_RV DigestInit() {
        CK_MECHANISM mechanism = Mechanism(TOY_DIGEST);
        return p11->C_DigestInit(rw, &mechanism);
    }
    CK_OBJECT_HANDLE KeyPair(bool alwaysAuthenticate, CK_OBJECT_HANDLE* publicKey) {
        Template pub = Template().Ulong(CKA_CLASS, CKO_PUBLIC_KEY).Bool(CKA_TOKEN, false);
        pub.Bool(CKA_VERIFY, true).Bool(CKA_VERIFY_RECOVER, true);
        *publicKey = MustCreate(rw, pub);
        Template priv = Template().Ulong(CKA_CLASS, CKO_PRIVATE_KEY).Bool(CKA_TOKEN, false);
        priv.Bool(CKA_SIGN, true).Bool(CKA_SIGN_RECOVER, true).Bool(CKA_ALWAYS_AUTHENTICATE, alwaysAuthenticate);
        return MustCreate(rw, priv);
    }

    CK_OBJECT_HANDLE secret = 0;
    std::string data = "abcdef";
};

TEST_F(CryptoTest, EncryptLengthQueriesKeepTheOperation) {
    ASSERT_EQ(CKR_OK, Init(p11->C_EncryptInit, TOY_CIPHER, secret));
    CK_ULONG length = 0;
    ASSERT_EQ(CKR_OK, p11->C_Encrypt(rw, Bytes(data), data.size(), nullptr, &length));
    EXPECT_EQ(data.size(), length);
    std::string out(length, '\0');
    CK_ULONG shortLength = length - 1;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, p11->C_Encrypt(rw, Bytes(data), data.size(), Bytes(out), &shortLength));
    EXPECT_EQ(length, shortLength);
    ASSERT_EQ(CKR_OK, p11->C_Encrypt(rw, Bytes(data), data.size(), Bytes(out), &length));
    EXPECT_EQ(std::string("@CBEDG"), out);
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_Encrypt(rw, Bytes(data), data.size(), Bytes(out), &length));

    // Decryption gives the data back, in parts.
    ASSERT_EQ(CKR_OK, Init(p11->C_DecryptInit, TOY_CIPHER, secret));
    std::string plain(out.size(), '\0');
    CK_ULONG part = 3;
    ASSERT_EQ(CKR_OK, p11->C_DecryptUpdate(rw, Bytes(out), 3, Bytes(plain), &part));
    part = 3;
    ASSERT_EQ(CKR_OK, p11->C_DecryptUpdate(rw, Bytes(out) + 3, 3, Bytes(plain) + 3, &part));
    CK_ULONG last = 0;
    ASSERT_EQ(CKR_OK, p11->C_DecryptFinal(rw, nullptr, &last));
    EXPECT_EQ(0u, last);
    ASSERT_EQ(CKR_OK, p11->C_DecryptFinal(rw, Bytes(plain), &last));
    EXPECT_EQ(data, plain);
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_DecryptFinal(rw, Bytes(plain), &last));
}

TEST_F(CryptoTest, ModeIsFixedByTheFirstDataCall) {
    std::string out(16, '\0');
    CK_ULONG length = out.size();
    ASSERT_EQ(CKR_OK, Init(p11->C_EncryptInit, TOY_CIPHER, secret));
    ASSERT_EQ(CKR_OK, p11->C_EncryptUpdate(rw, Bytes(data), data.size(), Bytes(out), &length));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, p11->C_Encrypt(rw, Bytes(data), data.size(), Bytes(out), &length));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_EncryptUpdate(rw, Bytes(data), data.size(), Bytes(out), &length));

    // A length query of a one-shot signature fixes the single-part mode.
    ASSERT_EQ(CKR_OK, Init(p11->C_SignInit, TOY_SIGN, secret));
    ASSERT_EQ(CKR_OK, p11->C_Sign(rw, Bytes(data), data.size(), nullptr, &length));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, p11->C_SignUpdate(rw, Bytes(data), data.size()));

    ASSERT_EQ(CKR_OK, Init(p11->C_SignInit, TOY_SIGN, secret));
    EXPECT_EQ(CKR_DATA_LEN_RANGE, p11->C_SignFinal(rw, Bytes(out), &length));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_SignFinal(rw, Bytes(out), &length));
}

TEST_F(CryptoTest, SignAndVerify) {
    std::string signature(4, '\0');
    CK_ULONG length = signature.size();
    ASSERT_EQ(CKR_OK, Init(p11->C_SignInit, TOY_SIGN, secret));
    ASSERT_EQ(CKR_OK, p11->C_SignUpdate(rw, Bytes(data), 2));
    ASSERT_EQ(CKR_OK, p11->C_SignUpdate(rw, Bytes(data) + 2, 4));
    ASSERT_EQ(CKR_OK, p11->C_SignFinal(rw, Bytes(signature), &length));
    EXPECT_EQ(std::string("\x55\x02\0\0", 4), signature);

    ASSERT_EQ(CKR_OK, Init(p11->C_VerifyInit, TOY_SIGN, secret));
    EXPECT_EQ(CKR_OK, p11->C_Verify(rw, Bytes(data), data.size(), Bytes(signature), signature.size()));
    ASSERT_EQ(CKR_OK, Init(p11->C_VerifyInit, TOY_SIGN, secret));
    ASSERT_EQ(CKR_OK, p11->C_VerifyUpdate(rw, Bytes(data), data.size()));
    EXPECT_EQ(CKR_OK, p11->C_VerifyFinal(rw, Bytes(signature), signature.size()));

    // A wrong signature ends the verification.
    std::string wrong = "\x01\x02\x03\x04";
    ASSERT_EQ(CKR_OK, Init(p11->C_VerifyInit, TOY_SIGN, secret));
    EXPECT_EQ(CKR_SIGNATURE_INVALID, p11->C_Verify(rw, Bytes(data), data.size(), Bytes(wrong), 4));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_Verify(rw, Bytes(data), data.size(), Bytes(wrong), 4));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_Verify(rw, Bytes(data), data.size(), Bytes(wrong), 0));

    // Empty input is refused by these mechanisms and ends the operation.
    ASSERT_EQ(CKR_OK, Init(p11->C_SignInit, TOY_SIGN, secret));
    EXPECT_EQ(CKR_DATA_LEN_RANGE, p11->C_Sign(rw, Bytes(data), 0, Bytes(signature), &length));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_Sign(rw, Bytes(data), 1, Bytes(signature), &length));
}

struct InitCase {
    const char* name;
    int init;  // 0 sign, 1 sign-recover, 2 verify-recover, 3 encrypt, 4 digest-typed sign
    int key;   // 0 secret, 1 public, 2 private without CKA_SIGN, 3 data object, 4 unknown, 5 none
    CK_RV expected;
};

class InitRules : public CryptoTest, public ::testing::WithParamInterface<InitCase> {};

TEST_P(InitRules, KeyAndMechanismChecks) {
    const InitCase& c = GetParam();
    CK_OBJECT_HANDLE publicKey = 0;
    KeyPair(false, &publicKey);
    const CK_OBJECT_HANDLE noSign = MustCreate(rw, Template().Ulong(CKA_CLASS, CKO_PRIVATE_KEY).Bool(CKA_TOKEN, false));
    const CK_OBJECT_HANDLE dataObject = MustCreate(rw, Data("d", false, false));
    const CK_OBJECT_HANDLE keys[] = {secret, publicKey, noSign, dataObject, 4242, 0};
    const CK_OBJECT_HANDLE key = keys[c.key];
    switch (c.init) {
        case 0: EXPECT_EQ(c.expected, Init(p11->C_SignInit, TOY_SIGN, key)); break;
        case 1: EXPECT_EQ(c.expected, Init(p11->C_SignRecoverInit, TOY_SIGN, key)); break;
        case 2: EXPECT_EQ(c.expected, Init(p11->C_VerifyRecoverInit, TOY_SIGN, key)); break;
        case 3: EXPECT_EQ(c.expected, Init(p11->C_EncryptInit, 0x7FFF0001, key)); break;
        default: EXPECT_EQ(c.expected, Init(p11->C_SignInit, TOY_DIGEST, key)); break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Crypto, InitRules,
    ::testing::Values(InitCase{"SignWithPublicKey", 0, 1, CKR_KEY_TYPE_INCONSISTENT},
                      InitCase{"SignWithoutSignFlag", 0, 2, CKR_KEY_FUNCTION_NOT_PERMITTED},
                      InitCase{"SignWithDataObject", 0, 3, CKR_OBJECT_HANDLE_INVALID},
                      InitCase{"SignWithUnknownHandle", 0, 4, CKR_KEY_HANDLE_INVALID},
                      InitCase{"SignWithHandleZero", 0, 5, CKR_KEY_HANDLE_INVALID},
                      InitCase{"SignRecoverWithSecret", 1, 0, CKR_KEY_TYPE_INCONSISTENT},
                      InitCase{"VerifyRecoverWithSecret", 2, 0, CKR_KEY_TYPE_INCONSISTENT},
                      InitCase{"UnknownMechanism", 3, 0, CKR_MECHANISM_INVALID},
                      InitCase{"MechanismTheKeyDoesNotAdmit", 4, 0, CKR_KEY_TYPE_INCONSISTENT}),
    [](const ::testing::TestParamInfo<InitCase>& info) { return std::string(info.param.name); });

TEST_F(CryptoTest, OneOperationAtATime) {
    ASSERT_EQ(CKR_OK, Init(p11->C_SignInit, TOY_SIGN, secret));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, Init(p11->C_EncryptInit, TOY_CIPHER, secret));
    std::string out(16, '\0');
    CK_ULONG length = out.size();
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_Encrypt(rw, Bytes(data), data.size(), Bytes(out), &length));
    EXPECT_EQ(CKR_OK, p11->C_Sign(rw, Bytes(data), data.size(), Bytes(out), &length));
    CK_MECHANISM bad = Mechanism(TOY_SIGN);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_SignInit(rw, nullptr, secret));
    EXPECT_EQ(CKR_KEY_HANDLE_INVALID, p11->C_SignInit(rw, &bad, 0));
}

TEST_F(CryptoTest, ContextSpecificLogin) {
    CK_OBJECT_HANDLE publicKey = 0;
    const CK_OBJECT_HANDLE key = KeyPair(true, &publicKey);
    std::string signature(4, '\0');
    CK_ULONG length = signature.size();
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, Login(rw, CKU_CONTEXT_SPECIFIC, ZR_FAKE_USER_PIN));
    ASSERT_EQ(CKR_OK, Init(p11->C_SignInit, TOY_SIGN, key));
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, p11->C_Sign(rw, Bytes(data), data.size(), Bytes(signature), &length));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_Sign(rw, Bytes(data), data.size(), Bytes(signature), &length));
    ASSERT_EQ(CKR_OK, Init(p11->C_SignInit, TOY_SIGN, key));
    ASSERT_EQ(CKR_OK, Login(rw, CKU_CONTEXT_SPECIFIC, ZR_FAKE_USER_PIN));
    EXPECT_EQ(CKR_OK, p11->C_Sign(rw, Bytes(data), data.size(), Bytes(signature), &length));
}

TEST_F(CryptoTest, RecoveryLengthRules) {
    CK_OBJECT_HANDLE publicKey = 0;
    const CK_OBJECT_HANDLE key = KeyPair(false, &publicKey);
    std::string signature(data.size(), '\0');
    CK_ULONG length = signature.size();
    ASSERT_EQ(CKR_OK, Init(p11->C_SignRecoverInit, TOY_SIGN, key));
    ASSERT_EQ(CKR_OK, p11->C_SignRecover(rw, Bytes(data), data.size(), Bytes(signature), &length));
    EXPECT_EQ("fedcba", signature);

    ASSERT_EQ(CKR_OK, Init(p11->C_VerifyRecoverInit, TOY_SIGN, publicKey));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_VerifyRecover(rw, Bytes(signature), signature.size(), nullptr, nullptr));
    CK_ULONG needed = 0;
    ASSERT_EQ(CKR_OK, p11->C_VerifyRecover(rw, Bytes(signature), signature.size(), nullptr, &needed));
    EXPECT_EQ(data.size(), needed);
    std::string recovered(needed, '\0');
    CK_ULONG shortLength = needed - 1;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL,
              p11->C_VerifyRecover(rw, Bytes(signature), signature.size(), Bytes(recovered), &shortLength));
    ASSERT_EQ(CKR_OK, p11->C_VerifyRecover(rw, Bytes(signature), signature.size(), Bytes(recovered), &needed));
    EXPECT_EQ(data, recovered);
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED,
              p11->C_VerifyRecover(rw, Bytes(signature), signature.size(), Bytes(recovered), &needed));
}

TEST_F(CryptoTest, DigestsAndDigestKey) {
    std::string digest(4, '\0');
    CK_ULONG length = digest.size();
    ASSERT_EQ(CKR_OK, DigestInit());
    ASSERT_EQ(CKR_OK, p11->C_Digest(rw, nullptr, 0, Bytes(digest), &length));
    EXPECT_EQ(std::string(4, '\0'), digest);

    ASSERT_EQ(CKR_OK, DigestInit());
    ASSERT_EQ(CKR_OK, p11->C_DigestUpdate(rw, Bytes(data), data.size()));
    ASSERT_EQ(CKR_OK, p11->C_DigestKey(rw, secret));
    ASSERT_EQ(CKR_OK, p11->C_DigestFinal(rw, Bytes(digest), &length));
    EXPECT_EQ(std::string("\xBF\x03\0\0", 4), digest);  // "abcdef" then "\x21key"

    CK_OBJECT_HANDLE publicKey = 0;
    const CK_OBJECT_HANDLE privateKey = KeyPair(false, &publicKey);
    const CK_OBJECT_HANDLE empty = MustCreate(rw, Secret("", {}));
    ASSERT_EQ(CKR_OK, DigestInit());
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_DigestKey(rw, privateKey));
    EXPECT_EQ(CKR_KEY_INDIGESTIBLE, p11->C_DigestKey(rw, empty));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_DigestFinal(rw, Bytes(digest), &length));
}

// An operation whose key was destroyed meanwhile answers its next call, a length query or a part
// fed in too, with CKR_KEY_HANDLE_INVALID and ends.
TEST_F(CryptoTest, ADestroyedKeyEndsTheOperationsThatUseIt) {
    std::string out(16, '\0');
    struct Call {
        const char* name;
        std::function<CK_RV()> call;
    };
    const Call calls[] = {
        {"EncryptLength", [&] {
             CK_ULONG length = 0;
             return p11->C_Encrypt(rw, Bytes(data), data.size(), nullptr, &length);
         }},
        {"EncryptUpdate", [&] {
             CK_ULONG length = out.size();
             return p11->C_EncryptUpdate(rw, Bytes(data), data.size(), Bytes(out), &length);
         }},
    };
    for (const Call& c : calls) {
        const CK_OBJECT_HANDLE key = MustCreate(rw, Secret("\x21" "key", {CKA_ENCRYPT}));
        ASSERT_EQ(CKR_OK, Init(p11->C_EncryptInit, TOY_CIPHER, key)) << c.name;
        ASSERT_EQ(CKR_OK, p11->C_DestroyObject(rw, key)) << c.name;
        EXPECT_EQ(CKR_KEY_HANDLE_INVALID, c.call()) << c.name;
        EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, c.call()) << c.name;
    }
}

TEST_F(CryptoTest, LibraryChecksInputLengths) {
    std::string out(16, '\0');
    CK_ULONG length = out.size();
    EXPECT_EQ(CKR_DATA_LEN_RANGE, p11->C_Encrypt(rw, Bytes(data), 0, Bytes(out), &length));
    EXPECT_EQ(CKR_ENCRYPTED_DATA_LEN_RANGE, p11->C_Decrypt(rw, Bytes(data), 0, Bytes(out), &length));
    EXPECT_EQ(CKR_DATA_LEN_RANGE, p11->C_SignRecover(rw, Bytes(data), 0, Bytes(out), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_Digest(rw, nullptr, 1, Bytes(out), &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_EncryptFinal(rw, Bytes(out), nullptr));
}

TEST_F(CryptoTest, DualUpdatesNeedASecondOperation) {
    ASSERT_EQ(CKR_OK, Init(p11->C_EncryptInit, TOY_CIPHER, secret));
    std::string out(16, '\0');
    CK_ULONG length = out.size();
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED,
              p11->C_DigestEncryptUpdate(rw, Bytes(data), data.size(), Bytes(out), &length));
    // The failed dual call chose the encryption's multi-part mode.
    EXPECT_EQ(CKR_OPERATION_ACTIVE, p11->C_Encrypt(rw, Bytes(data), data.size(), Bytes(out), &length));
    EXPECT_EQ(CKR_ENCRYPTED_DATA_LEN_RANGE, p11->C_DecryptVerifyUpdate(rw, Bytes(data), 0, Bytes(out), &length));
}

TEST_F(CryptoTest, ThreadsSharingASessionKeepItsOperationsWhole) {
    auto work = [this] {
        std::string input = "0123456789";
        for (int i = 0; i < 300; ++i) {
            CK_MECHANISM mechanism = Mechanism(TOY_DIGEST);
            std::string digest(4, '\0');
            CK_ULONG length = digest.size();
            const CK_RV init = p11->C_DigestInit(rw, &mechanism);
            const CK_RV rv = p11->C_Digest(rw, Bytes(input), input.size(), Bytes(digest), &length);
            EXPECT_TRUE(init == CKR_OK || init == CKR_OPERATION_ACTIVE) << init;
            EXPECT_TRUE(rv == CKR_OK || rv == CKR_OPERATION_NOT_INITIALIZED) << rv;
            if (rv == CKR_OK) {
                EXPECT_EQ(std::string("\x0D\x02\0\0", 4), digest);
            }
        }
    };
    std::thread first(work), second(work);
    first.join();
    second.join();
}

}  // namespace

// Saved operation states through the C_ functions: refused as the token says, and on a token
// that saves them, restored only when the record and the keys agree.
#include <dlfcn.h>

#include "object_fixture.h"

namespace {

using zrtest::TOY_CIPHER;
using zrtest::TOY_DIGEST;

class OperationStateTest : public ObjectTest {
protected:
    void SetUp() override {
        ObjectTest::SetUp();
        setSaveable = reinterpret_cast<void (*)(CK_BBOOL)>(dlsym(module.handle, "ZrFake_SetStateSaveable"));
        ASSERT_NE(nullptr, setSaveable);
        ASSERT_EQ(CKR_OK, UserLogin(rw));
    }
    void TearDown() override {
        setSaveable(CK_FALSE);
        ObjectTest::TearDown();
    }
    CK_RV StartDigest(CK_SESSION_HANDLE session, std::string part) {
        CK_MECHANISM mechanism{TOY_DIGEST, nullptr, 0};
        const CK_RV rv = p11->C_DigestInit(session, &mechanism);
        return rv != CKR_OK ? rv : p11->C_DigestUpdate(session, Bytes(part), part.size());
    }
    std::string FinishDigest(CK_SESSION_HANDLE session) {
        std::string digest(4, '\0');
        CK_ULONG length = digest.size();
        EXPECT_EQ(CKR_OK, p11->C_DigestFinal(session, Bytes(digest), &length));
        return digest;
    }
    std::string Save(CK_SESSION_HANDLE session) {
        CK_ULONG length = 0;
        EXPECT_EQ(CKR_OK, p11->C_GetOperationState(session, nullptr, &length));
        std::string state(length, '\0');
        CK_ULONG shortLength = length - 1;
        EXPECT_EQ(CKR_BUFFER_TOO_SMALL, p11->C_GetOperationState(session, Bytes(state), &shortLength));
        EXPECT_EQ(length, shortLength);
        EXPECT_EQ(CKR_OK, p11->C_GetOperationState(session, Bytes(state), &length));
        return state;
    }
    CK_RV Restore(CK_SESSION_HANDLE session, std::string state, CK_OBJECT_HANDLE encryption = 0,
                  CK_OBJECT_HANDLE authentication = 0) {
        return p11->C_SetOperationState(session, Bytes(state), state.size(), encryption, authentication);
    }

    void (*setSaveable)(CK_BBOOL) = nullptr;
};

TEST_F(OperationStateTest, RefusedByATokenThatSavesNone) {
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_GetOperationState(rw, nullptr, &length));
    ASSERT_EQ(CKR_OK, StartDigest(rw, "abc"));
    EXPECT_EQ(CKR_STATE_UNSAVEABLE, p11->C_GetOperationState(rw, nullptr, &length));
    EXPECT_EQ(CKR_STATE_UNSAVEABLE, Restore(rw, std::string(40, 'x')));
    EXPECT_EQ(std::string("\x26\x01\0\0", 4), FinishDigest(rw));
}

TEST_F(OperationStateTest, RestoresIntoAnotherSession) {
    setSaveable(CK_TRUE);
    ASSERT_EQ(CKR_OK, StartDigest(rw, "abc"));
    const std::string state = Save(rw);
    const CK_SESSION_HANDLE other = Open(0);
    ASSERT_EQ(CKR_OK, Restore(other, state));
    EXPECT_EQ(std::string("\x26\x01\0\0", 4), FinishDigest(other));
    EXPECT_EQ(std::string("\x26\x01\0\0", 4), FinishDigest(rw));  // saving changed nothing
}

TEST_F(OperationStateTest, AFailedRestoreLeavesTheRunningOperation) {
    setSaveable(CK_TRUE);
    const CK_OBJECT_HANDLE key = MustCreate(rw, Secret("\x01", {CKA_ENCRYPT}).Bytes(CKA_LABEL, "k"));
    ASSERT_EQ(CKR_OK, StartDigest(rw, "abc"));
    const std::string digestState = Save(rw);
    CK_MECHANISM cipher{TOY_CIPHER, nullptr, 0};
    std::string out(8, '\0');
    CK_ULONG length = 1;
    FinishDigest(rw);
    ASSERT_EQ(CKR_OK, p11->C_EncryptInit(rw, &cipher, key));
    const std::string cipherState = Save(rw);
    ASSERT_EQ(CKR_OK, p11->C_EncryptUpdate(rw, Bytes(out), 1, Bytes(out), &length));

    const CK_SESSION_HANDLE second = Open(0);
    ASSERT_EQ(CKR_OK, StartDigest(second, "zz"));
    EXPECT_EQ(CKR_KEY_NOT_NEEDED, Restore(second, digestState, key));
    EXPECT_EQ(CKR_KEY_NEEDED, Restore(second, cipherState));
    EXPECT_EQ(CKR_KEY_HANDLE_INVALID, Restore(second, cipherState, 4242));
    EXPECT_EQ(CKR_SAVED_STATE_INVALID, Restore(second, cipherState.substr(0, 24)));
    EXPECT_EQ(CKR_SAVED_STATE_INVALID, Restore(second, cipherState.substr(0, cipherState.size() - 1)));
    std::string otherFormat = digestState;
    otherFormat[32] = 2;
    EXPECT_EQ(CKR_SAVED_STATE_INVALID, Restore(second, otherFormat));
    std::string badKind = digestState;
    badKind[32 + 1 + 4 + 1] = 9;
    EXPECT_EQ(CKR_SAVED_STATE_INVALID, Restore(second, badKind));
    // A second operation (type, mode, kind 5, empty mark and state) for a session that runs one.
    const uint32_t digestType = TOY_DIGEST;
    std::string twoOperations = cipherState + std::string(reinterpret_cast<const char*>(&digestType), 4);
    twoOperations += std::string("\x00\x05\x00\x00\x00\x00", 6);
    EXPECT_EQ(CKR_SAVED_STATE_INVALID, Restore(second, twoOperations, key));
    EXPECT_EQ(std::string("\xF4\0\0\0", 4), FinishDigest(second));

    const CK_SESSION_HANDLE third = Open(0);
    ASSERT_EQ(CKR_OK, Restore(third, cipherState, key));
    std::string data = "A", encrypted(1, '\0');
    length = 1;
    ASSERT_EQ(CKR_OK, p11->C_Encrypt(third, Bytes(data), 1, Bytes(encrypted), &length));
    EXPECT_EQ("@", encrypted);
    ASSERT_EQ(CKR_OK, StartDigest(second, "zz"));
    Template renamed = Template().Bytes(CKA_LABEL, "renamed");
    ASSERT_EQ(CKR_OK, p11->C_SetAttributeValue(rw, key, renamed.Data(), renamed.Count()));
    EXPECT_EQ(CKR_KEY_CHANGED, Restore(second, cipherState, key));
    EXPECT_EQ(std::string("\xF4\0\0\0", 4), FinishDigest(second));
}

}  // namespace

// Answers about the token that must follow the device and stay inside the caller's buffers.
#include "cryptoki_rig_fixture.h"

using namespace librarytest;

namespace {

using TokenAnswersRig = CryptokiRigTest;

// The PIN-count flags follow the device at once after a login.
TEST_F(TokenAnswersRig, SuccessfulLoginClearsThePinCountFlag) {
    ASSERT_EQ(C_Logout(session), CKR_OK);
    const std::string wrong = "00000000";
    ASSERT_EQ(C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(wrong.data())), 8),
              CKR_PIN_INCORRECT);
    CK_TOKEN_INFO info{};
    ASSERT_EQ(C_GetTokenInfo(slotId, &info), CKR_OK);
    EXPECT_NE(info.flags & CKF_USER_PIN_COUNT_LOW, 0u);
    ASSERT_EQ(Login(session), CKR_OK);
    ASSERT_EQ(C_GetTokenInfo(slotId, &info), CKR_OK);
    EXPECT_EQ(info.flags & CKF_USER_PIN_COUNT_LOW, 0u) << "the right PIN reset the device's count";
}

// A mechanism list longer than the caller's buffer is never written past what is reported.
TEST_F(TokenAnswersRig, MechanismListWritesOnlyTheEntriesReported) {
    CK_ULONG count = 0;
    ASSERT_EQ(C_GetMechanismList(slotId, nullptr, &count), CKR_OK);
    ASSERT_GT(count, 0u);
    const CK_MECHANISM_TYPE sentinel = 0x5A5A5A5A;
    std::vector<CK_MECHANISM_TYPE> list(count + 8, sentinel);
    CK_ULONG declared = list.size();
    ASSERT_EQ(C_GetMechanismList(slotId, list.data(), &declared), CKR_OK);
    EXPECT_EQ(declared, count);
    for (size_t i = count; i < list.size(); ++i) EXPECT_EQ(list[i], sentinel) << "entry " << i << " overwritten";
}

}  // namespace

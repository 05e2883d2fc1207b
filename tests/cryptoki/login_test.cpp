// Login, logout and PIN rules through the C_ functions.
#include <string>

#include "module_fixture.h"

namespace {

using LoginTest = ModuleTest;

struct PinCase {
    std::string pin;
    CK_RV expected;
    const char* name;
};

class LoginPinTest : public ModuleTest, public ::testing::WithParamInterface<PinCase> {};

TEST_P(LoginPinTest, LengthAndValue) {
    Initialize();
    CK_SESSION_HANDLE session = Open(0);
    EXPECT_EQ(GetParam().expected, Login(session, CKU_USER, GetParam().pin));
    const bool loggedIn = GetParam().expected == CKR_OK;
    EXPECT_EQ(loggedIn ? CKS_RW_USER_FUNCTIONS : CKS_RW_PUBLIC_SESSION, SessionInfo(session).state);
}

INSTANTIATE_TEST_SUITE_P(
    Login, LoginPinTest,
    ::testing::Values(PinCase{ZR_FAKE_USER_PIN, CKR_OK, "Correct"},
                      PinCase{"12345", CKR_PIN_INCORRECT, "FiveBytesIsOutsideTheLimits"},
                      PinCase{std::string(81, '1'), CKR_PIN_INCORRECT, "EightyOneBytes"},
                      PinCase{std::string(80, '1'), CKR_PIN_INCORRECT, "EightyBytesReachTheToken"},
                      PinCase{std::string(1025, '1'), CKR_ARGUMENTS_BAD, "OverlongArgument"},
                      PinCase{"654321", CKR_PIN_INCORRECT, "Wrong"}),
    [](const ::testing::TestParamInfo<PinCase>& info) { return std::string(info.param.name); });

TEST_F(LoginTest, ArgumentAndStateRules) {
    Initialize();
    CK_SESSION_HANDLE session = Open(0, CKF_SERIAL_SESSION);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_Login(session, CKU_USER, nullptr, 6));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, Login(session, CKU_CONTEXT_SPECIFIC, "x"));
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, p11->C_Logout(session));
    EXPECT_EQ(CKR_USER_TYPE_INVALID, Login(session, 7, ZR_FAKE_USER_PIN));
    EXPECT_EQ(CKR_SESSION_READ_ONLY_EXISTS, Login(session, CKU_SO, ZR_FAKE_SO_PIN));
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, ZR_FAKE_USER_PIN));
    EXPECT_EQ(CKR_USER_ALREADY_LOGGED_IN, Login(session, CKU_USER, ZR_FAKE_USER_PIN));
    // Login state belongs to the token: every session of the slot sees it.
    EXPECT_EQ(CKS_RO_USER_FUNCTIONS, SessionInfo(session).state);
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, SessionInfo(Open(0)).state);
    EXPECT_EQ(CKR_OK, p11->C_Logout(session));
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, SessionInfo(session).state);
}

TEST_F(LoginTest, ClosingTheLastSessionLogsOut) {
    Initialize();
    CK_SESSION_HANDLE first = Open(0), second = Open(0);
    ASSERT_EQ(CKR_OK, Login(first, CKU_USER, ZR_FAKE_USER_PIN));
    EXPECT_EQ(CKR_OK, p11->C_CloseSession(first));
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, SessionInfo(second).state);
    EXPECT_EQ(CKR_OK, p11->C_CloseSession(second));
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionInfo(Open(0)).state);
}

TEST_F(LoginTest, ClosingAllSessionsLogsOut) {
    Initialize();
    ASSERT_EQ(CKR_OK, Login(Open(0), CKU_USER, ZR_FAKE_USER_PIN));
    EXPECT_EQ(CKR_OK, p11->C_CloseAllSessions(0));
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, SessionInfo(Open(0)).state);
}

TEST_F(LoginTest, SecurityOfficerSetsTheUserPinAndTheUserChangesIt) {
    Initialize();
    CK_SESSION_HANDLE session = Open(0);
    ASSERT_EQ(CKR_OK, Login(session, CKU_SO, ZR_FAKE_SO_PIN));
    CK_UTF8CHAR shortPin[] = "12345";
    CK_UTF8CHAR newPin[] = "24681357";
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_InitPIN(session, newPin, 0));
    EXPECT_EQ(CKR_PIN_LEN_RANGE, p11->C_InitPIN(session, shortPin, 5));
    EXPECT_EQ(CKR_OK, p11->C_InitPIN(session, newPin, 8));
    ASSERT_EQ(CKR_OK, p11->C_Logout(session));
    EXPECT_EQ(CKR_PIN_INCORRECT, Login(session, CKU_USER, ZR_FAKE_USER_PIN));
    ASSERT_EQ(CKR_OK, Login(session, CKU_USER, "24681357"));
    CK_UTF8CHAR changed[] = "11223344";
    EXPECT_EQ(CKR_PIN_LEN_RANGE, p11->C_SetPIN(session, newPin, 8, shortPin, 5));
    EXPECT_EQ(CKR_OK, p11->C_SetPIN(session, newPin, 8, changed, 8));
    ASSERT_EQ(CKR_OK, p11->C_Logout(session));
    EXPECT_EQ(CKR_OK, Login(session, CKU_USER, "11223344"));
}

}  // namespace

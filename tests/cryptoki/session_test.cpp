// Sessions: opening rules and limits, handles, closing, session information, random data,
// and a token pulled out from under its sessions.
#include <vector>

#include "module_fixture.h"

namespace {

using SessionTest = ModuleTest;

TEST_F(SessionTest, OpenFlagsDecideReadOnlyOrReadWrite) {
    Initialize();
    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(CKR_SESSION_PARALLEL_NOT_SUPPORTED, p11->C_OpenSession(0, CKF_RW_SESSION, nullptr, nullptr, &session));
    CK_SESSION_INFO ro = SessionInfo(Open(0, CKF_SERIAL_SESSION));
    EXPECT_EQ(CKF_SERIAL_SESSION, ro.flags);
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, ro.state);
    EXPECT_EQ(0u, ro.slotID);
    CK_SESSION_INFO rw = SessionInfo(Open(0));
    EXPECT_EQ(CKF_SERIAL_SESSION | CKF_RW_SESSION, rw.flags);
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, rw.state);
    EXPECT_EQ(CKR_TOKEN_NOT_PRESENT, p11->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, p11->C_OpenSession(9, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
}

TEST_F(SessionTest, HandlesCountFromOneAcrossSlotsAndAreNeverReused) {
    Configure(2, 0b11);
    Initialize();
    EXPECT_EQ(1u, Open(0));
    EXPECT_EQ(2u, Open(1));
    EXPECT_EQ(CKR_OK, p11->C_CloseSession(1));
    EXPECT_EQ(3u, Open(0));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, p11->C_CloseSession(1));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, p11->C_CloseSession(0));
    // A new initialisation starts a new registry.
    ASSERT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    Initialize();
    EXPECT_EQ(1u, Open(0));
}

TEST_F(SessionTest, CloseAllSessionsClosesOnlyThatSlot) {
    Configure(2, 0b11);
    Initialize();
    CK_SESSION_HANDLE a = Open(0), b = Open(0), other = Open(1);
    EXPECT_EQ(CKR_OK, p11->C_CloseAllSessions(0));
    CK_SESSION_INFO info;
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, p11->C_GetSessionInfo(a, &info));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, p11->C_CloseSession(b));
    EXPECT_EQ(CKR_OK, p11->C_GetSessionInfo(other, &info));
    EXPECT_EQ(0u, TokenInfo(0).ulSessionCount);
    EXPECT_EQ(1u, TokenInfo(1).ulSessionCount);
}

struct LimitCase {
    CK_ULONG maxSessions, maxRw;
    bool readOnlyToken;
    std::vector<CK_FLAGS> opened;  // all succeed
    CK_FLAGS next;
    CK_RV expected;
    const char* name;
};

class SessionLimitTest : public ModuleTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(SessionLimitTest, Applies) {
    const LimitCase& c = GetParam();
    Configure(1, 1, c.maxSessions, c.maxRw, c.readOnlyToken);
    Initialize();
    for (CK_FLAGS flags : c.opened) Open(0, flags);
    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(c.expected, p11->C_OpenSession(0, c.next, nullptr, nullptr, &session));
    // A refused session leaves nothing registered.
    EXPECT_EQ(c.opened.size() + (c.expected == CKR_OK ? 1 : 0), TokenInfo(0).ulSessionCount);
}

const CK_FLAGS RO = CKF_SERIAL_SESSION;
const CK_FLAGS RW = CKF_SERIAL_SESSION | CKF_RW_SESSION;

INSTANTIATE_TEST_SUITE_P(
    Session, SessionLimitTest,
    ::testing::Values(LimitCase{2, 2, false, {RO, RW}, RO, CKR_SESSION_COUNT, "OverallMaximum"},
                      LimitCase{5, 1, false, {RW}, RW, CKR_SESSION_COUNT, "ReadWriteMaximum"},
                      LimitCase{5, 1, false, {RW, RO}, RO, CKR_OK, "ReadOnlyBesideFullReadWrite"},
                      LimitCase{5, 5, false, {RO}, RO, CKR_OK, "WithinLimits"},
                      LimitCase{5, 5, true, {RO}, RW, CKR_TOKEN_WRITE_PROTECTED, "WriteProtectedToken"}),
    [](const ::testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

TEST_F(SessionTest, ReadOnlySessionWhileSecurityOfficerIsLoggedInIsRefused) {
    Initialize();
    CK_SESSION_HANDLE rw = Open(0);
    ASSERT_EQ(CKR_OK, Login(rw, CKU_SO, ZR_FAKE_SO_PIN));
    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(CKR_SESSION_READ_WRITE_SO_EXISTS, p11->C_OpenSession(0, RO, nullptr, nullptr, &session));
    EXPECT_EQ(CKS_RW_SO_FUNCTIONS, SessionInfo(Open(0)).state);
}

TEST_F(SessionTest, PinChangesNeedReadWriteSessions) {
    Initialize();
    CK_SESSION_HANDLE ro = Open(0, RO);
    CK_UTF8CHAR pin[] = "123456";
    EXPECT_EQ(CKR_SESSION_READ_ONLY, p11->C_InitPIN(ro, pin, 6));
    EXPECT_EQ(CKR_SESSION_READ_ONLY, p11->C_SetPIN(ro, pin, 6, pin, 6));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_SetPIN(ro, pin, 0, pin, 6));
}

TEST_F(SessionTest, RandomData) {
    Initialize();
    CK_SESSION_HANDLE session = Open(0, RO);
    std::vector<CK_BYTE> bytes(16, 0);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_GenerateRandom(session, nullptr, 16));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_GenerateRandom(session, bytes.data(), 0));
    ASSERT_EQ(CKR_OK, p11->C_GenerateRandom(session, bytes.data(), bytes.size()));
    EXPECT_EQ(1, bytes[0]);
    EXPECT_EQ(8, bytes[1]);
    std::vector<CK_BYTE> seed(1025, 1);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_SeedRandom(session, seed.data(), seed.size()));
    EXPECT_EQ(CKR_OK, p11->C_SeedRandom(session, seed.data(), 1024));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, p11->C_GenerateRandom(99, bytes.data(), 1));
}

TEST_F(SessionTest, OperationStateIsNotSaveable) {
    Initialize();
    CK_SESSION_HANDLE session = Open(0, RO);
    CK_ULONG length = 0;
    CK_BYTE state[4] = {0};
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_GetOperationState(session, nullptr, nullptr));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, p11->C_GetOperationState(session, nullptr, &length));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_SetOperationState(session, state, 0, 0, 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_SetOperationState(session, nullptr, 4, 0, 0));
    EXPECT_EQ(CKR_STATE_UNSAVEABLE, p11->C_SetOperationState(session, state, sizeof state, 0, 0));
}

TEST_F(SessionTest, PulledTokenClosesItsSessionsOnceAndReinsertionStartsAfresh) {
    Initialize();
    CK_SESSION_HANDLE a = Open(0), b = Open(0, RO);
    module.removeToken(0);
    CK_SESSION_INFO info;
    // The first presence test notices the removal and closes every session of the slot.
    EXPECT_EQ(CKR_DEVICE_REMOVED, p11->C_GetSessionInfo(a, &info));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, p11->C_GetSessionInfo(a, &info));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, p11->C_CloseSession(b));
    CK_TOKEN_INFO tokenInfo;
    EXPECT_EQ(CKR_TOKEN_NOT_PRESENT, p11->C_GetTokenInfo(0, &tokenInfo));
    CK_SESSION_HANDLE session = 0;
    EXPECT_EQ(CKR_TOKEN_NOT_PRESENT, p11->C_OpenSession(0, RO, nullptr, nullptr, &session));
    module.insertToken(0);
    EXPECT_EQ(3u, Open(0, RO));
    EXPECT_EQ(1u, TokenInfo(0).ulSessionCount);
}

TEST_F(SessionTest, CloseSessionNoticingTheRemovalHasClosedItsSession) {
    Initialize();
    CK_SESSION_HANDLE a = Open(0);
    module.removeToken(0);
    EXPECT_EQ(CKR_DEVICE_REMOVED, p11->C_CloseSession(a));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, p11->C_CloseSession(a));
}

}  // namespace

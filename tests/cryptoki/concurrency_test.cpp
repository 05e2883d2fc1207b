// Threads against the library: sessions while another thread pulls and reinserts the token,
// and calls while another thread finalises the library. Barriers and counters fix the
// interleavings; under ASan this shows that no session, token or slot is used after it is gone.
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "barrier.h"
#include "module_fixture.h"

namespace {

class ConcurrencyTest : public ModuleTest {
protected:
    // Records a result that is not among the allowed ones.
    CK_RV Check(const char* call, CK_RV rv, const std::set<CK_RV>& allowed) {
        if (allowed.count(rv) == 0) {
            std::lock_guard<std::mutex> lock(mUnexpectedMutex);
            mUnexpected.emplace_back(call, rv);
        }
        return rv;
    }

    void ReportUnexpected() {
        for (const auto& failure : mUnexpected) ADD_FAILURE() << failure.first << " answered 0x" << std::hex << failure.second;
    }

private:
    std::mutex mUnexpectedMutex;
    std::vector<std::pair<const char*, CK_RV>> mUnexpected;
};

// Each round: the token is in; every worker opens a session (which must work); all meet, and
// the token is pulled while the workers keep using their sessions and opening new ones; all
// meet again and the token goes back. Sessions are open at every removal, and every
// removal races with calls.
TEST_F(ConcurrencyTest, SessionsSurviveTheTokenBeingPulled) {
    Initialize(CKF_OS_LOCKING_OK);
    const std::set<CK_RV> duringRemoval = {CKR_OK,
                                           CKR_DEVICE_REMOVED,
                                           CKR_TOKEN_NOT_PRESENT,
                                           CKR_SESSION_HANDLE_INVALID,
                                           CKR_SESSION_CLOSED,
                                           CKR_USER_ALREADY_LOGGED_IN,
                                           CKR_USER_NOT_LOGGED_IN};
    const std::set<CK_RV> ok = {CKR_OK};
    constexpr int kWorkers = 4;
    constexpr int kRounds = 25;
    Barrier ready(kWorkers + 1);
    Barrier opened(kWorkers + 1);
    Barrier settled(kWorkers + 1);
    std::atomic<int> sessionsAtRemoval{0};

    std::vector<std::thread> workers;
    for (int t = 0; t < kWorkers; ++t) {
        workers.emplace_back([&, t] {
            const CK_FLAGS flags = CKF_SERIAL_SESSION | (t % 2 == 0 ? CKF_RW_SESSION : 0);
            for (int round = 0; round < kRounds; ++round) {
                ready.ArriveAndWait();
                CK_SESSION_HANDLE session = 0;
                Check("C_OpenSession (token present)", p11->C_OpenSession(0, flags, nullptr, nullptr, &session), ok);
                ++sessionsAtRemoval;
                opened.ArriveAndWait();
                // The remover pulls the token now, while these calls run.
                for (int i = 0; i < 4; ++i) {
                    CK_SESSION_INFO info;
                    Check("C_GetSessionInfo", p11->C_GetSessionInfo(session, &info), duringRemoval);
                    CK_BYTE random[8];
                    Check("C_GenerateRandom", p11->C_GenerateRandom(session, random, sizeof random), duringRemoval);
                    if (i == 0 && round % 5 == 0) {
                        Check("C_Login", Login(session, CKU_USER, ZR_FAKE_USER_PIN), duringRemoval);
                        Check("C_Logout", p11->C_Logout(session), duringRemoval);
                    }
                    CK_SESSION_HANDLE extra = 0;
                    if (Check("C_OpenSession", p11->C_OpenSession(0, flags, nullptr, nullptr, &extra), duringRemoval) ==
                        CKR_OK) {
                        Check("C_CloseSession", p11->C_CloseSession(extra), duringRemoval);
                    }
                }
                Check("C_CloseSession", p11->C_CloseSession(session), duringRemoval);
                settled.ArriveAndWait();
            }
        });
    }
    int removals = 0;
    for (int round = 0; round < kRounds; ++round) {
        ready.ArriveAndWait();
        opened.ArriveAndWait();
        EXPECT_GE(sessionsAtRemoval.exchange(0), kWorkers);
        module.removeToken(0);
        ++removals;
        CK_TOKEN_INFO info;
        Check("C_GetTokenInfo (pulled)", p11->C_GetTokenInfo(0, &info), {CKR_DEVICE_REMOVED, CKR_TOKEN_NOT_PRESENT});
        settled.ArriveAndWait();
        module.insertToken(0);
        Check("C_GetTokenInfo (back)", p11->C_GetTokenInfo(0, &info), ok);
    }
    for (auto& worker : workers) worker.join();

    ReportUnexpected();
    EXPECT_EQ(removals, kRounds);
    // Every session is gone, and the token counts none.
    EXPECT_EQ(0u, TokenInfo(0).ulSessionCount);
    EXPECT_EQ(CKR_OK, p11->C_Finalize(nullptr));
}

// C_Finalize while other threads are in the middle of calls: each call completes or answers
// CKR_CRYPTOKI_NOT_INITIALIZED; nothing is used after the teardown freed it.
TEST_F(ConcurrencyTest, CallsRacingWithFinalizeCompleteOrAnswerNotInitialized) {
    Initialize(CKF_OS_LOCKING_OK);
    const std::set<CK_RV> allowed = {CKR_OK, CKR_CRYPTOKI_NOT_INITIALIZED, CKR_SESSION_HANDLE_INVALID,
                                     CKR_SESSION_CLOSED};
    constexpr int kWorkers = 4;
    std::atomic<int> running{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kWorkers; ++t) {
        workers.emplace_back([&] {
            bool counted = false;
            for (;;) {
                CK_TOKEN_INFO info;
                const CK_RV rv = Check("C_GetTokenInfo", p11->C_GetTokenInfo(0, &info), allowed);
                CK_SESSION_HANDLE session = 0;
                if (Check("C_OpenSession", p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session),
                          allowed) == CKR_OK) {
                    CK_SESSION_INFO sessionInfo;
                    Check("C_GetSessionInfo", p11->C_GetSessionInfo(session, &sessionInfo), allowed);
                    Check("C_CloseSession", p11->C_CloseSession(session), allowed);
                }
                CK_SLOT_ID slots[4];
                CK_ULONG count = 4;
                Check("C_GetSlotList", p11->C_GetSlotList(CK_TRUE, slots, &count), allowed);
                if (!counted) {
                    counted = true;
                    ++running;
                }
                if (rv == CKR_CRYPTOKI_NOT_INITIALIZED) return;
            }
        });
    }
    // Finalised only once every worker is inside its loop of calls.
    while (running.load() < kWorkers) std::this_thread::yield();
    EXPECT_EQ(CKR_OK, p11->C_Finalize(nullptr));
    for (auto& worker : workers) worker.join();
    ReportUnexpected();
}

}  // namespace

// Threads of one application while the card is pulled and put back: no session opens on a
// card a call has already answered "removed" for, and the card that comes back is set up
// once, by one thread, with its whole mechanism list.
#include <algorithm>
#include <set>
#include <vector>

#include "../cryptoki/barrier.h"
#include "locking_models.h"

using namespace librarytest;

namespace {

class ReinsertionRig : public LockingModelRigTest {
protected:
    bool CardInserted() { return rig->Control().Request("status").find("inserted=1") != std::string::npos; }

    // Polls the slot, as an application does, until it shows the token again.
    ::testing::AssertionResult AwaitToken() {
        for (int poll = 0; poll < 200; ++poll) {
            if (SlotShowsToken()) return ::testing::AssertionSuccess();
            std::this_thread::yield();
        }
        return ::testing::AssertionFailure() << "the token was not seen back";
    }

    std::vector<CK_MECHANISM_TYPE> MechanismList() {
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_GetMechanismList(0, nullptr, &count), CKR_OK);
        std::vector<CK_MECHANISM_TYPE> list(count);
        EXPECT_EQ(p11->C_GetMechanismList(0, list.data(), &count), CKR_OK);
        list.resize(count);
        std::sort(list.begin(), list.end());
        return list;
    }
};

// Four threads open sessions and log in, round after round, while the card is pulled (by
// the simulator at one of their commands, or between commands). A C_OpenSession begun after
// any call of the process has answered CKR_DEVICE_REMOVED must not open a session: the card
// is out until every thread has stopped and the round ends.
TEST_F(ReinsertionRig, NoSessionOpensOnACardACallHasAnsweredRemoved) {
    StartUnder(LockingModel::kOs);
    if (IsSkipped() || HasFatalFailure()) return;
    constexpr int kThreads = 4;
    const int kRounds = std::max(6, static_cast<int>(StressSeconds(2) * 3));
    constexpr unsigned kCallsAfterRemoved = 40;
    std::atomic<bool> roundOver{false}, removedAnswered{false};
    std::atomic<unsigned> callsAfter{0}, rounds{0}, roundsWithRemoved{0};
    std::atomic<int> wrong{0};
    Barrier step(kThreads + 1);
    Watchdog watchdog("C_OpenSession and C_Login of four threads while the card is pulled",
                      std::chrono::seconds(60 + 20 * kRounds));

    auto noteRemoved = [&](CK_RV rv) {
        if (rv == CKR_DEVICE_REMOVED) removedAnswered = true;
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                step.ArriveAndWait();  // the card is in
                while (!roundOver) {
                    const bool after = removedAnswered.load();
                    CK_SESSION_HANDLE session = 0;
                    const CK_RV opened =
                        p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);
                    noteRemoved(opened);
                    if (after) ++callsAfter;
                    if (opened != CKR_OK) continue;
                    if (after) {
                        ADD_FAILURE() << "round " << round << ": a session opened after a call answered removed";
                        ++wrong;
                    }
                    noteRemoved(Login(session, CKU_USER, kUserPin));
                    noteRemoved(p11->C_CloseSession(session));
                }
                step.ArriveAndWait();  // every thread has stopped
            }
        });
    }
    for (int round = 0; round < kRounds; ++round) {
        step.ArriveAndWait();
        if (round % 2 == 0) {
            // Cut off at one of the next commands, whichever thread sends it.
            rig->Control().PullAfter(static_cast<unsigned>(round % 5));
            while (CardInserted()) std::this_thread::yield();
            EXPECT_TRUE(rig->WaitCardPresent(0, false, std::chrono::seconds(15)));
        } else {
            rig->RemoveCard();
        }
        // Until enough calls began after a "removed" answer (a round may end without one).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!(removedAnswered && callsAfter >= kCallsAfterRemoved) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        if (removedAnswered) ++roundsWithRemoved;
        roundOver = true;
        step.ArriveAndWait();
        rig->InsertCard();
        EXPECT_TRUE(AwaitToken());
        removedAnswered = false;
        callsAfter = 0;
        roundOver = false;
        ++rounds;
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(roundsWithRemoved.load(), 0u) << "no call ever answered removed: the test proves nothing";
}

// Threads call C_GetSlotList, C_OpenSession and C_GetMechanismInfo without a pause while the
// card is pulled and put back, round after round: with the card out, each call may retire the
// slot's token and try to set up a new one, and when the card comes back one of them meets it
// while another still closes the sessions and drops the objects of the token before. The card
// is set up once, and its mechanism list is its whole list.
TEST_F(ReinsertionRig, AReturnedCardIsSetUpOnceWithItsWholeMechanismList) {
    StartUnder(LockingModel::kOs);
    if (IsSkipped() || HasFatalFailure()) return;
    const std::vector<CK_MECHANISM_TYPE> whole = MechanismList();
    ASSERT_FALSE(whole.empty());
    ASSERT_TRUE(std::find(whole.begin(), whole.end(), CKM_RSA_PKCS) != whole.end());
    constexpr int kKinds = 3, kThreads = 2 * kKinds;
    const int kRounds = std::max(8, static_cast<int>(StressSeconds(2) * 4));
    Barrier parked(kThreads + 1);
    std::atomic<bool> park{false}, stop{false};
    std::atomic<unsigned> calls{0};
    std::vector<std::atomic<unsigned>> answered(kThreads);
    std::atomic<int> wrong{0};
    Watchdog watchdog("calls across a reinsertion", std::chrono::seconds(60 + 20 * kRounds));
    const std::set<CK_RV> comingAndGoing = {CKR_OK, CKR_TOKEN_NOT_PRESENT, CKR_DEVICE_REMOVED};

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t, kind = t % kKinds] {
            while (!stop) {
                if (park) {
                    parked.ArriveAndWait();  // parked while the main thread looks
                    parked.ArriveAndWait();
                    continue;
                }
                CK_RV rv = CKR_OK;
                if (kind == 0) {
                    CK_SLOT_ID slots[4];
                    CK_ULONG count = 4;
                    rv = p11->C_GetSlotList(CK_TRUE, slots, &count);
                } else if (kind == 1) {
                    CK_SESSION_HANDLE session = 0;
                    rv = p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session);
                    if (rv == CKR_OK) p11->C_CloseSession(session);
                } else {
                    CK_MECHANISM_INFO info{};
                    rv = p11->C_GetMechanismInfo(0, CKM_RSA_PKCS, &info);
                }
                ++calls;
                if (rv == CKR_OK) ++answered[t];
                if (!comingAndGoing.count(rv)) {
                    ADD_FAILURE() << "call kind " << kind << " answered 0x" << std::hex << rv;
                    ++wrong;
                }
            }
        });
    }
    auto awaitCalls = [&](unsigned more) {
        const unsigned start = calls.load();
        while (calls.load() < start + more) std::this_thread::yield();
    };
    // Until every thread has had an answer CKR_OK since the snapshot.
    auto awaitAnswers = [&](const std::vector<unsigned>& before) {
        for (int t = 0; t < kThreads; ++t) {
            while (answered[t].load() < before[t] + 2) std::this_thread::yield();
        }
    };
    for (int round = 0; round < kRounds && wrong == 0; ++round) {
        // Sessions of the token that leaves, which its retirement closes.
        for (int i = 0; i < 4; ++i) Open();
        rig->RemoveCard();
        awaitCalls(4 * kThreads);
        std::vector<unsigned> before(kThreads);
        for (int t = 0; t < kThreads; ++t) before[t] = answered[t].load();
        rig->InsertCard();
        awaitAnswers(before);
        park = true;
        parked.ArriveAndWait();
        park = false;
        EXPECT_EQ(MechanismList(), whole) << "round " << round;
        for (CK_MECHANISM_TYPE type : whole) {
            CK_MECHANISM_INFO mechanismInfo{};
            const CK_RV rv = p11->C_GetMechanismInfo(0, type, &mechanismInfo);
            if (rv != CKR_OK) {
                ADD_FAILURE() << "round " << round << ": mechanism 0x" << std::hex << type << " answered 0x" << rv;
                ++wrong;
            }
        }
        parked.ArriveAndWait();
    }
    stop = true;
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

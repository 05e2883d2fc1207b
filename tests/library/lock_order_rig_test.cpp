// Threads of one application that used to lock each other out for good, under each of the
// four locking models: a token key's use that needs the token's random generator beside calls
// that hold the token's operation lock, and sessions that find the card pulled at once.
// The library aborts on a lock taken against its order (support/lock_order.h), so a wrong
// order fails here on the first such call, without waiting for the unlucky interleaving; the
// watchdog fails a run that still hangs.
#include <vector>

#include "../cryptoki/barrier.h"
#include "locking_models.h"

using namespace librarytest;

namespace {

class LockOrderRig : public LockingModelRigTest {
protected:
    void GenerateRsaPair(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE& publicKey) {
        CK_ULONG bits = 1024;
        CK_BBOOL yes = CK_TRUE;
        CK_BBOOL no = CK_FALSE;
        const std::string label = "locks";
        CK_ATTRIBUTE publicTemplate[] = {{CKA_MODULUS_BITS, &bits, sizeof bits},
                                         {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                         {CKA_TOKEN, &yes, sizeof yes},
                                         {CKA_PRIVATE, &no, sizeof no}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                          {CKA_TOKEN, &yes, sizeof yes}};
        CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_HANDLE privateKey = 0;
        ASSERT_EQ(p11->C_GenerateKeyPair(session, &mechanism, publicTemplate, 4, privateTemplate, 2, &publicKey,
                                         &privateKey),
                  CKR_OK);
    }
};

// Thread 1 encrypts with CKM_RSA_PKCS and a public key kept on the token (the padding draws the
// token's random bytes while the key's use holds the storage); thread 2 asks the token's
// information, random data, and logs in and out (each holding the token's operation lock).
TEST_P(LockOrderRig, TokenKeyEncryptionBesideTokenInformationRandomAndLogins) {
    StartUnder(GetParam());
    if (IsSkipped() || HasFatalFailure()) return;
    const CK_SESSION_HANDLE encrypting = Open();
    ASSERT_EQ(Login(encrypting, CKU_USER, kUserPin), CKR_OK);
    CK_OBJECT_HANDLE publicKey = 0;
    ASSERT_NO_FATAL_FAILURE(GenerateRsaPair(encrypting, publicKey));
    const CK_SESSION_HANDLE other = Open();

    const double seconds = StressSeconds(2);
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    constexpr unsigned kMinimum = 20;
    std::atomic<unsigned> encrypted{0}, rounds{0};
    std::atomic<int> wrong{0};
    Watchdog watchdog("C_Encrypt beside C_GetTokenInfo, C_GenerateRandom, C_Login and C_Logout",
                      std::chrono::seconds(60 + static_cast<long long>(seconds) * 2));
    auto running = [&](const std::atomic<unsigned>& done) {
        return std::chrono::steady_clock::now() < until || done.load() < kMinimum;
    };

    std::thread encryptor([&] {
        CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
        CK_BYTE data[] = "sixteen bytes...";
        unsigned attempts = 0;
        while (running(encrypted) && ++attempts < 100000) {
            CK_RV rv = p11->C_EncryptInit(encrypting, &mechanism, publicKey);
            if (rv == CKR_OK) {
                CK_BYTE out[256];
                CK_ULONG length = sizeof out;
                rv = p11->C_Encrypt(encrypting, data, sizeof data - 1, out, &length);
                // The other thread's logout ends the operation or leaves the generator locked.
                if (rv == CKR_OK) {
                    ++encrypted;
                } else if (rv != CKR_OPERATION_NOT_INITIALIZED && rv != CKR_USER_NOT_LOGGED_IN) {
                    ADD_FAILURE() << "C_Encrypt answered 0x" << std::hex << rv;
                    ++wrong;
                }
            } else {
                ADD_FAILURE() << "C_EncryptInit answered 0x" << std::hex << rv;
                ++wrong;
            }
        }
    });
    std::thread tokenCalls([&] {
        while (running(rounds)) {
            CK_TOKEN_INFO info{};
            CK_BYTE random[16];
            const CK_RV answers[] = {p11->C_GetTokenInfo(0, &info), Login(other, CKU_USER, kUserPin),
                                     p11->C_GenerateRandom(other, random, sizeof random), p11->C_Logout(other)};
            for (CK_RV rv : answers) {
                if (rv != CKR_OK) ++wrong;
            }
            ++rounds;
        }
    });
    encryptor.join();
    tokenCalls.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(encrypted.load(), 0u);
    EXPECT_GE(rounds.load(), kMinimum);
}

// Four threads poll the information of their own sessions while the card is pulled, round
// after round: each may find the token gone and close the slot's sessions, the others' among
// them, while its own session's call lock is held.
TEST_P(LockOrderRig, SessionInformationOfFourThreadsWhileTheCardIsPulled) {
    StartUnder(GetParam());
    if (IsSkipped() || HasFatalFailure()) return;
    constexpr int kThreads = 4;
    const int kRounds = std::max(3, static_cast<int>(StressSeconds(2) * 2));
    Barrier step(kThreads + 1);
    std::atomic<int> wrong{0};
    Watchdog watchdog("C_GetSessionInfo of four threads while the card is pulled",
                      std::chrono::seconds(60 + 10 * kRounds));

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                CK_SESSION_HANDLE own = 0;
                CK_RV opened = CKR_GENERAL_ERROR;
                // The first calls after the card is back set the token up again.
                for (int attempt = 0; attempt < 1000 && opened != CKR_OK; ++attempt) {
                    opened = p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &own);
                }
                if (opened != CKR_OK) ++wrong;
                step.ArriveAndWait();  // every thread has its session; the card is pulled now
                CK_SESSION_INFO info{};
                CK_RV rv = CKR_OK;
                for (unsigned polls = 0; rv == CKR_OK && opened == CKR_OK && polls < 1000000; ++polls) {
                    rv = p11->C_GetSessionInfo(own, &info);
                }
                if (rv != CKR_DEVICE_REMOVED && rv != CKR_SESSION_HANDLE_INVALID && rv != CKR_SESSION_CLOSED &&
                    rv != CKR_TOKEN_NOT_PRESENT) {
                    ADD_FAILURE() << "C_GetSessionInfo with the card out answered 0x" << std::hex << rv;
                    ++wrong;
                }
                step.ArriveAndWait();  // every thread has seen its session gone
                step.ArriveAndWait();  // the card is back
            }
        });
    }
    for (int round = 0; round < kRounds; ++round) {
        step.ArriveAndWait();
        rig->RemoveCard();
        step.ArriveAndWait();
        rig->InsertCard();
        step.ArriveAndWait();
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryLockingModel, LockOrderRig, ZR_ALL_LOCKING_MODELS);

}  // namespace

// Threads of one application on one token: signing with a DSTU 4145 key and searching and
// reading objects while another thread logs out and in and another creates and destroys data
// objects. No deadlock (a watchdog fails the test instead of hanging), no crash, every failure
// a result code the moment explains, and the token's objects intact afterwards.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include "cryptoki_rig_fixture.h"

using namespace librarytest;

namespace {

constexpr auto kWatchdogLimit = std::chrono::minutes(3);
const std::string kSharedValue = "shared value";

// A count that other threads can wait on: the login cycle waits for what the signers did
// instead of guessing with sleeps how far they got.
class WaitableCount {
public:
    void Add() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++value_;
        }
        changed_.notify_all();
    }
    int Get() {
        std::lock_guard<std::mutex> lock(mutex_);
        return value_;
    }
    void AwaitAbove(int seen) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return value_ > seen; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int value_ = 0;
};

class ConcurrencyRig : public CryptokiRigTest {
protected:
    // Records a result; codes that logging out (which also ends the sessions' operations) or a
    // concurrent destroy can explain are fine.
    void Note(CK_RV rv) {
        static const std::set<CK_RV> kExplained = {CKR_OK, CKR_USER_NOT_LOGGED_IN, CKR_OBJECT_HANDLE_INVALID,
                                                   CKR_KEY_HANDLE_INVALID, CKR_OPERATION_NOT_INITIALIZED};
        if (kExplained.count(rv) != 0) return;
        std::lock_guard<std::mutex> lock(noteMutex_);
        unexplained_.insert(rv);
    }

    std::set<CK_RV> Unexplained() {
        std::lock_guard<std::mutex> lock(noteMutex_);
        return unexplained_;
    }

    // Fails the whole run when the workers do not finish in time: a deadlock never ends.
    void RunGuarded(std::vector<std::thread>& workers) {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!finished.wait_for(lock, kWatchdogLimit, [&] { return done; })) {
                std::fprintf(stderr, "ConcurrencyRig: the workers did not finish: deadlock\n");
                rig.reset();
                std::_Exit(1);
            }
        });
        for (std::thread& worker : workers) worker.join();
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        finished.notify_one();
        watchdog.join();
    }

private:
    std::mutex noteMutex_;
    std::set<CK_RV> unexplained_;
};

TEST_F(ConcurrencyRig, SignersSearchersLoginCycleAndObjectChangesShareOneToken) {
    ASSERT_TRUE(qel::UASgnTokenTablesRegistered());
    const std::string label = "stress";
    CK_OBJECT_HANDLE privateKey = 0;
    ASSERT_EQ(GenerateSigningKey(session, label, &privateKey), CKR_OK);
    for (const char* name : {"shared-1", "shared-2"}) {
        CK_OBJECT_HANDLE data = 0;
        ASSERT_EQ(CreateData(session, name, kSharedValue, true, &data), CKR_OK);
    }
    CK_OBJECT_HANDLE publicData = 0;
    ASSERT_EQ(CreateData(session, "shared-3", kSharedValue, false, &publicData), CKR_OK);

    // Every worker keeps going until the login cycle is over, which waits for the signers: after
    // each logout until a signer has found no key, after each login until one has signed.
    std::atomic<bool> cycleOver{false};
    WaitableCount keyless;
    WaitableCount signatures;
    std::atomic<int> reads{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i) {
        workers.emplace_back([&] {
            const CK_SESSION_HANDLE own = OpenSession();
            for (int round = 0; round < 50 || !cycleOver; ++round) {
                std::vector<CK_OBJECT_HANDLE> keys;
                Note(Find(own, CKO_PRIVATE_KEY, label, keys));
                if (keys.empty()) {  // logged out at that moment
                    keyless.Add();
                    continue;
                }
                CK_MECHANISM hashed{CKM_GOST34311_DSTU4145, nullptr, 0};
                const CK_RV init = C_SignInit(own, &hashed, keys[0]);
                Note(init);
                if (init != CKR_OK) continue;
                CK_BYTE document[] = "a document";
                CK_BYTE signature[128];
                CK_ULONG length = sizeof signature;
                const CK_RV rv = C_Sign(own, document, sizeof document - 1, signature, &length);
                Note(rv);
                if (rv == CKR_OK) signatures.Add();
            }
        });
    }
    for (int i = 0; i < 2; ++i) {
        workers.emplace_back([&] {
            const CK_SESSION_HANDLE own = OpenSession();
            CK_OBJECT_CLASS dataClass = CKO_DATA;
            CK_ATTRIBUTE byValue[] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                                      {CKA_VALUE, const_cast<char*>(kSharedValue.data()), kSharedValue.size()}};
            for (int round = 0; round < 50 || !cycleOver; ++round) {
                // Matching by value reads values that were never loaded, inside the search.
                Note(C_FindObjectsInit(own, byValue, 2));
                CK_OBJECT_HANDLE found[8];
                CK_ULONG count = 0;
                const CK_RV rv = C_FindObjects(own, found, 8, &count);
                Note(rv);
                Note(C_FindObjectsFinal(own));
                for (CK_ULONG k = 0; rv == CKR_OK && k < count; ++k) {
                    char value[64];
                    CK_ATTRIBUTE read{CKA_VALUE, value, sizeof value};
                    const CK_RV got = C_GetAttributeValue(own, found[k], &read, 1);
                    Note(got);
                    if (got == CKR_OK && std::string(value, read.ulValueLen) == kSharedValue) ++reads;
                }
            }
        });
    }
    workers.emplace_back([&] {
        const CK_SESSION_HANDLE own = OpenSession();
        for (int round = 0; round < 20; ++round) {
            Note(C_Logout(own));
            keyless.AwaitAbove(keyless.Get());
            Note(Login(own));
            signatures.AwaitAbove(signatures.Get());
        }
        cycleOver = true;
    });
    workers.emplace_back([&] {
        const CK_SESSION_HANDLE own = OpenSession();
        for (int round = 0; round < 40 || !cycleOver; ++round) {
            CK_OBJECT_HANDLE created = 0;
            const CK_RV rv = CreateData(own, "temporary-" + std::to_string(round), "temporary", false, &created);
            Note(rv);
            if (rv == CKR_OK) Note(C_DestroyObject(own, created));
        }
    });
    RunGuarded(workers);

    EXPECT_TRUE(Unexplained().empty()) << "first unexplained result: 0x" << std::hex << *Unexplained().begin();
    EXPECT_GE(signatures.Get(), 20) << "one under each login at least";
    EXPECT_GT(reads.load(), 0);
    // Nothing lost, nothing doubled: the three shared objects, no temporary one, one key.
    const CK_SESSION_HANDLE check = OpenSession();
    const CK_RV login = Login(check);
    ASSERT_TRUE(login == CKR_OK || login == CKR_USER_ALREADY_LOGGED_IN) << login;
    std::vector<CK_OBJECT_HANDLE> found;
    ASSERT_EQ(Find(check, CKO_DATA, "", found), CKR_OK);
    EXPECT_EQ(found.size(), 3u);
    ASSERT_EQ(Find(check, CKO_PRIVATE_KEY, label, found), CKR_OK);
    EXPECT_EQ(found.size(), 1u);
}

// Two threads of one application on ONE session: one signs, the other creates and destroys
// token objects. The object-changing call takes the device lock inside the session's call lock,
// in the same order as the signature, so neither waits for the other for ever.
TEST_F(ConcurrencyRig, SigningAndObjectChangesOnOneSession) {
    ASSERT_TRUE(qel::UASgnTokenTablesRegistered());
    CK_OBJECT_HANDLE privateKey = 0;
    ASSERT_EQ(GenerateSigningKey(session, "one-session", &privateKey), CKR_OK);
    std::atomic<int> signatures{0};
    std::atomic<int> changes{0};
    std::vector<std::thread> workers;
    workers.emplace_back([&] {
        for (int round = 0; round < 60; ++round) {
            CK_MECHANISM hashed{CKM_GOST34311_DSTU4145, nullptr, 0};
            const CK_RV init = C_SignInit(session, &hashed, privateKey);
            Note(init);
            if (init != CKR_OK) continue;
            CK_BYTE document[] = "a document";
            CK_BYTE signature[128];
            CK_ULONG length = sizeof signature;
            const CK_RV rv = C_Sign(session, document, sizeof document - 1, signature, &length);
            Note(rv);
            if (rv == CKR_OK) ++signatures;
        }
    });
    workers.emplace_back([&] {
        for (int round = 0; round < 30; ++round) {
            CK_OBJECT_HANDLE created = 0;
            const CK_RV rv = CreateData(session, "one-session-" + std::to_string(round), "value", false, &created);
            Note(rv);
            if (rv == CKR_OK && C_DestroyObject(session, created) == CKR_OK) ++changes;
        }
    });
    RunGuarded(workers);
    EXPECT_TRUE(Unexplained().empty()) << "first unexplained result: 0x" << std::hex << *Unexplained().begin();
    EXPECT_EQ(signatures.load(), 60);
    EXPECT_EQ(changes.load(), 30);
}

}  // namespace

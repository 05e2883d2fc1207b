// Threads of one application: presence answers follow the reader whatever another thread is
// doing with a token, and a deletion that has to wait for another user of the object
// completes when that user lets go.
#include <atomic>
#include <chrono>
#include <thread>

#include "../cryptoki/barrier.h"

#include "cryptoki/library.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/user.h"
#include "cryptoki_rig_fixture.h"
#include "driver/qel_slot.h"
#include "driver/qel_token.h"
#include "swcrypto/token_sha_mechanisms.h"

using namespace librarytest;

namespace {

// The token's SHA-256 mechanism, whose Clone holds the caller inside it until the test lets
// it go, and which notes being destroyed while a caller is inside.
class HeldSha256 : public qel::TokSha256Mechanism {
public:
    ~HeldSha256() override {
        if (cloning.load()) destroyedWhileCloning.store(true);
    }
    zrck::TokMechanism* Clone() const override {
        cloning.store(true);
        entered->ArriveAndWait();
        release->ArriveAndWait();
        if (destroyedWhileCloning.load()) throw zrck::Exception(CKR_GENERAL_ERROR);  // nothing left to read
        zrck::TokMechanism* clone = qel::TokSha256Mechanism::Clone();
        cloning.store(false);
        return clone;
    }

    static inline std::atomic<bool> cloning{false};
    static inline std::atomic<bool> destroyedWhileCloning{false};
    static inline Barrier* entered = nullptr;
    static inline Barrier* release = nullptr;
};

class ThreadsRig : public CryptokiRigTest {
protected:
    std::shared_ptr<qel::Slot> DriverSlot(CK_SLOT_ID id) {
        zrck::SlotPtr slot = zrck::LibraryFrame::GetInstance()->GetSlotFactory()->FindSlotByID(id);
        return std::dynamic_pointer_cast<qel::Slot>(slot);
    }

    // Deletes the object while `user`, which found it before the deletion marked it, takes it
    // just after the session's wait for the object's users: the deletion is queued until
    // that user lets go.
    void DeleteWhileInUse(CK_OBJECT_HANDLE handle, zrck::TokObjectPtr& user) {
        auto* library = dynamic_cast<zrck::Library*>(zrck::LibraryFrame::GetInstance());
        ASSERT_NE(library, nullptr);
        zrck::SessionPtr own = library->GetUser()->GetSession(session, false);
        std::shared_ptr<qel::Slot> slot = DriverSlot(slotId);
        qel::TokenStorage& storage = *slot->GetDriverToken()->GetStorage();
        user = slot->GetBlockObjectIfExists(handle);
        ASSERT_TRUE(user);
        user->Unlock();
        own->DeleteTokObject(handle, "test", [&](const std::function<void()>& remove) {
            user->Lock();
            qel::TokenStorage::GlobalBusyGuard guard(storage, "test");
            remove();
        });
    }

    bool Shows(CK_SLOT_ID id) {
        CK_SLOT_INFO info{};
        EXPECT_EQ(C_GetSlotInfo(id, &info), CKR_OK);
        return (info.flags & CKF_TOKEN_PRESENT) != 0;
    }
};

// The rig's second reader is empty. Its token storage busy in another call (its own set-up,
// for example) must not make it look occupied.
TEST_F(ThreadsRig, EmptyReaderIsNotPresentWhileItsStorageIsBusy) {
    const CK_SLOT_ID empty = 1;
    ASSERT_FALSE(Shows(empty));
    std::shared_ptr<qel::Token> token = DriverSlot(empty)->GetDriverToken();
    ASSERT_TRUE(token && token->GetStorage() != nullptr);
    vdk::LockOrder::Suspended playsAnotherThread;
    qel::TokenStorage::BusyGuard busy(*token->GetStorage(), "another call");
    EXPECT_FALSE(Shows(empty));
    CK_SLOT_ID slots[4];
    CK_ULONG count = 4;
    ASSERT_EQ(C_GetSlotList(CK_TRUE, slots, &count), CKR_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(slots[0], slotId);
}

// The same with threads racing for real: slot lists and slot information of four threads
// agree with the readers on every call, while their own presence checks keep the empty
// reader's storage busy for each other, and in every other round while another call holds
// it busy from before the round's first call to after its last.
TEST_F(ThreadsRig, SlotListsOfFourThreadsFollowTheReaders) {
    const CK_SLOT_ID empty = 1;
    ASSERT_FALSE(Shows(empty));
    std::shared_ptr<qel::Token> token = DriverSlot(empty)->GetDriverToken();
    ASSERT_TRUE(token && token->GetStorage() != nullptr);
    constexpr int kThreads = 4, kRounds = 16;
    Barrier round(kThreads + 1);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int r = 0; r < kRounds; ++r) {
                round.ArriveAndWait();
                for (int call = 0; call < 3; ++call) {
                    CK_ULONG count = 0;
                    if (C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK || count != 1) ++wrong;
                    CK_SLOT_ID slots[4] = {};
                    count = 4;
                    if (C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK || count != 1 || slots[0] != slotId) ++wrong;
                    CK_SLOT_INFO info{};
                    if (C_GetSlotInfo(empty, &info) != CKR_OK || (info.flags & CKF_TOKEN_PRESENT) != 0) ++wrong;
                }
                round.ArriveAndWait();
            }
        });
    }
    for (int r = 0; r < kRounds; ++r) {
        std::unique_ptr<qel::TokenStorage::BusyGuard> busy;
        if (r % 2 == 1) busy = std::make_unique<qel::TokenStorage::BusyGuard>(*token->GetStorage(), "another call");
        round.ArriveAndWait();
        round.ArriveAndWait();
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

// C_DestroyObject's whole road (session, driver slot, framework slot) while another user takes
// the object between the session's wait for its users and the removal: the deletion is queued
// and completes, on the token too, when that user lets go.
TEST_F(ThreadsRig, DeletionOfAnObjectInUseCompletesWhenItsUserLetsGo) {
    CK_OBJECT_HANDLE data = 0;
    ASSERT_EQ(CreateData(session, "in use", "value", false, &data), CKR_OK);
    std::shared_ptr<qel::Slot> slot = DriverSlot(slotId);
    const CK_ULONG objects = slot->GetObjectCount();
    rig->Control(0).ResetCounters();

    zrck::TokObjectPtr user;
    ASSERT_NO_FATAL_FAILURE(DeleteWhileInUse(data, user));
    EXPECT_EQ(slot->GetPendingRemoveCount(), 1u);
    EXPECT_EQ(slot->GetObjectCount(), objects) << "still registered while in use";
    EXPECT_FALSE(slot->GetBlockObjectIfExists(data)) << "but no lookup finds it";
    EXPECT_EQ(rig->Control(0).Count("DeleteFile"), 0u);

    slot->ReleaseObject(user);
    EXPECT_EQ(slot->GetPendingRemoveCount(), 0u);
    EXPECT_EQ(slot->GetObjectCount(), objects - 1);
    EXPECT_GT(rig->Control(0).Count("DeleteFile"), 0u) << "the token's copy goes with it";
    std::vector<CK_OBJECT_HANDLE> found;
    ASSERT_EQ(Find(session, CKO_DATA, "in use", found), CKR_OK);
    EXPECT_TRUE(found.empty());
}

// A listing of the token read while a deletion waits for the object's user, or read just
// before the deletion reaches the token, still names the object: it must not come back
// from that listing as a twin under a new handle, before or after the deletion completes.
TEST_F(ThreadsRig, ObjectBeingDeletedDoesNotComeBackFromAListing) {
    CK_OBJECT_HANDLE data = 0;
    ASSERT_EQ(CreateData(session, "twin", "value", true, &data), CKR_OK);
    std::shared_ptr<qel::Slot> slot = DriverSlot(slotId);
    zrck::TokObjectPtr user;
    ASSERT_NO_FATAL_FAILURE(DeleteWhileInUse(data, user));
    ASSERT_EQ(slot->GetPendingRemoveCount(), 1u);

    // A new login lists the private objects again while the deletion still waits.
    ASSERT_EQ(C_Logout(session), CKR_OK);
    ASSERT_EQ(Login(session), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> found;
    ASSERT_EQ(Find(session, CKO_DATA, "twin", found), CKR_OK);
    EXPECT_TRUE(found.empty()) << "listed while its deletion waits";

    slot->ReleaseObject(user);
    EXPECT_EQ(slot->GetPendingRemoveCount(), 0u);
    ASSERT_EQ(Find(session, CKO_DATA, "twin", found), CKR_OK);
    EXPECT_TRUE(found.empty()) << "a twin outlived the deletion";
}

// A call that takes the token's mechanism to start an operation keeps it while it uses it: the
// token retired meanwhile by another thread (which no longer waits for calls running in the
// token's sessions) drops its mechanism objects, but not the one in use.
TEST_F(ThreadsRig, MechanismInUseOutlivesTheRetirementOfItsToken) {
    std::shared_ptr<qel::Token> token = DriverSlot(slotId)->GetDriverToken();
    ASSERT_TRUE(token);
    Barrier entered(2), release(2);
    HeldSha256::entered = &entered;
    HeldSha256::release = &release;
    token->AddMechanism(new HeldSha256);  // in the SHA-256 one's place
    token.reset();
    CK_RV init = CKR_OK;
    std::thread caller([&] {
        CK_MECHANISM mechanism{CKM_SHA256, nullptr, 0};
        init = C_DigestInit(session, &mechanism);
    });
    entered.ArriveAndWait();
    rig->RemoveCard();
    const bool gone = rig->WaitCardPresent(0, false, std::chrono::seconds(10));
    CK_SLOT_INFO info{};
    const CK_RV slotInfo = C_GetSlotInfo(slotId, &info);  // retires the token
    release.ArriveAndWait();
    caller.join();
    ASSERT_TRUE(gone);
    EXPECT_EQ(slotInfo, CKR_OK);
    EXPECT_EQ(info.flags & CKF_TOKEN_PRESENT, 0u);
    EXPECT_FALSE(HeldSha256::destroyedWhileCloning.load()) << "the mechanism went while a call cloned it";
    EXPECT_TRUE(init == CKR_OK || init == CKR_DEVICE_REMOVED || init == CKR_SESSION_HANDLE_INVALID) << init;
}

}  // namespace

// The token pulled and put back while an application keeps running: what the application held
// of the old token is gone, the token that comes back is set up whole, and the answers during
// the removal say "removed" or "not present".
//
// Where the library would notice a removal only later (its presence answer is kept a few
// seconds), the tests let that time pass by clearing the token storage's caches.
#include <chrono>
#include <set>
#include <stdexcept>

#include "cryptoki_rig_fixture.h"
#include "driver/qel_slot.h"
#include "driver/qel_token.h"

using namespace librarytest;

namespace {

class RemovalRig : public CryptokiRigTest {
protected:
    bool SlotShowsToken() {
        CK_SLOT_INFO info{};
        EXPECT_EQ(C_GetSlotInfo(slotId, &info), CKR_OK);
        return (info.flags & CKF_TOKEN_PRESENT) != 0;
    }

    std::shared_ptr<qel::Slot> DriverSlot() {
        zrck::SlotPtr slot = zrck::LibraryFrame::GetInstance()->GetSlotFactory()->FindSlotByID(slotId);
        return std::dynamic_pointer_cast<qel::Slot>(slot);
    }

    qel::TokenStorage& Storage() {
        std::shared_ptr<qel::Token> token = DriverSlot()->GetDriverToken();
        if (!token || token->GetStorage() == nullptr) throw std::runtime_error("the slot has no token storage");
        return *token->GetStorage();
    }

    // Pulls the card and polls, as an application watching the slot does, until the library
    // has noticed; its cached presence answer is let expire at once.
    void PullAndWaitUntilNoticed() {
        rig->RemoveCard();
        Storage().ResetDeviceCache();
        CK_SESSION_INFO info{};
        for (int poll = 0; C_GetSessionInfo(session, &info) == CKR_OK || SlotShowsToken(); ++poll) {
            ASSERT_LT(poll, 3) << "the removal was not noticed";
        }
    }

    // Puts the card back and polls the slot until it shows the token; then a new session,
    // logged in.
    CK_SESSION_HANDLE ReinsertAndWaitUntilShown() {
        rig->InsertCard();
        for (int poll = 0; !SlotShowsToken(); ++poll) {
            EXPECT_LT(poll, 3) << "the token was not seen back";
            if (poll >= 3) return 0;
        }
        const CK_SESSION_HANDLE fresh = OpenSession();
        EXPECT_EQ(Login(fresh), CKR_OK);
        return fresh;
    }
};

TEST_F(RemovalRig, KeyFoundAgainAfterReinsertionSigns) {
    CK_OBJECT_HANDLE oldKey = 0;
    ASSERT_EQ(GenerateSigningKey(session, "kept", &oldKey), CKR_OK);
    ASSERT_EQ(Sign(session, oldKey), CKR_OK);
    PullAndWaitUntilNoticed();
    const CK_SESSION_HANDLE fresh = ReinsertAndWaitUntilShown();

    std::vector<CK_OBJECT_HANDLE> found;
    ASSERT_EQ(Find(fresh, CKO_PRIVATE_KEY, "kept", found), CKR_OK);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0], oldKey) << "an object of the old token was handed out again";
    EXPECT_EQ(Sign(fresh, found[0]), CKR_OK);
    CK_BYTE label[16];
    CK_ATTRIBUTE read{CKA_LABEL, label, sizeof label};
    EXPECT_EQ(C_GetAttributeValue(fresh, oldKey, &read, 1), CKR_OBJECT_HANDLE_INVALID);
    CK_SESSION_INFO info{};
    EXPECT_EQ(C_GetSessionInfo(session, &info), CKR_SESSION_HANDLE_INVALID) << "a session of the old token";
}

// The token is seen back by a presence check that runs before any set-up (another thread's
// C_GetSlotInfo between its set-up step and its presence step): it must still come back
// whole, with its object classes and mechanisms.
TEST_F(RemovalRig, TokenSeenBackByAPresenceCheckIsSetUpWhole) {
    PullAndWaitUntilNoticed();
    rig->InsertCard();
    ASSERT_TRUE(DriverSlot()->IsTokenPresent());
    const CK_SESSION_HANDLE fresh = OpenSession();
    ASSERT_EQ(Login(fresh), CKR_OK);
    CK_OBJECT_HANDLE created = 0;
    EXPECT_EQ(CreateData(fresh, "after", "value", true, &created), CKR_OK);
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(GenerateSigningKey(fresh, "after", &key), CKR_OK);
    EXPECT_EQ(Sign(fresh, key), CKR_OK);
}

// An application idle while the card was pulled and put back: its first call that needs the
// token works, and the sessions it had are gone.
TEST_F(RemovalRig, FirstCallAfterAnUnnoticedReinsertionWorks) {
    CK_OBJECT_HANDLE oldKey = 0;
    ASSERT_EQ(GenerateSigningKey(session, "idle", &oldKey), CKR_OK);
    rig->RemoveCard();
    rig->InsertCard();
    Storage().ResetDeviceCache();  // the idle time
    CK_SESSION_HANDLE fresh = 0;
    ASSERT_EQ(C_OpenSession(slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &fresh), CKR_OK);
    ASSERT_EQ(Login(fresh), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> found;
    ASSERT_EQ(Find(fresh, CKO_PRIVATE_KEY, "idle", found), CKR_OK);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Sign(fresh, found[0]), CKR_OK);
    CK_SESSION_INFO info{};
    EXPECT_EQ(C_GetSessionInfo(session, &info), CKR_SESSION_HANDLE_INVALID);

    // The same for a slot call after a second unnoticed round.
    rig->RemoveCard();
    rig->InsertCard();
    Storage().ResetDeviceCache();
    CK_TOKEN_INFO tokenInfo{};
    EXPECT_EQ(C_GetTokenInfo(slotId, &tokenInfo), CKR_OK);
}

// While the library knows the card is out but has not yet dropped the token (another thread
// is inside a token call), calls answer "removed", never a statement about the PINs.
TEST_F(RemovalRig, CallsWhileTheCardIsOutAnswerRemoved) {
    rig->RemoveCard();
    // Held so that its storage outlives the token's removal from the slot.
    std::shared_ptr<qel::Token> token = DriverSlot()->GetDriverToken();
    ASSERT_TRUE(token && token->GetStorage() != nullptr);
    qel::TokenStorage& storage = *token->GetStorage();
    storage.ResetDeviceCache();
    ASSERT_FALSE(storage.IsTokenPresentM());
    const std::set<CK_RV> removed = {CKR_DEVICE_REMOVED, CKR_TOKEN_NOT_PRESENT};
    {
        qel::TokenStorage::BusyGuard anotherCall(storage, "test");
        const CK_RV login = Login(session);
        EXPECT_TRUE(removed.count(login)) << "C_Login answered 0x" << std::hex << login;
        CK_ULONG count = 0;
        const CK_RV list = C_GetMechanismList(slotId, nullptr, &count);
        EXPECT_TRUE(removed.count(list)) << "C_GetMechanismList answered 0x" << std::hex << list;
        CK_MECHANISM_INFO info{};
        const CK_RV mechanism = C_GetMechanismInfo(slotId, CKM_GOST34311_DSTU4145, &info);
        EXPECT_TRUE(removed.count(mechanism)) << "C_GetMechanismInfo answered 0x" << std::hex << mechanism;
    }
    CK_TOKEN_INFO tokenInfo{};
    const CK_RV info = C_GetTokenInfo(slotId, &tokenInfo);
    EXPECT_TRUE(removed.count(info)) << "C_GetTokenInfo answered 0x" << std::hex << info;
}

}  // namespace

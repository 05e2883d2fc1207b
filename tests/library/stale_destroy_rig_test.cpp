// C_DestroyObject through a handle whose object another process destroyed and replaced: the
// replacement, in the freed files and key slot or in files of its own, survives, and the call
// answers CKR_OBJECT_HANDLE_INVALID, wherever in the call the other process's change lands:
// before it, between the call's start and its token commands, or while the call waits for
// another thread that holds the object. A deletion queued behind another user checks the same way
// when it runs, and C_SetAttributeValue and C_CopyObject through the old handle never write.
#include <chrono>
#include <future>
#include <thread>

#include "cryptoki/library.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/user.h"
#include "cryptoki_rig_fixture.h"
#include "driver/qel_slot.h"
#include "driver/qel_token.h"
#include "frozen_cache_clock.h"
#include "keygen_process.h"

using namespace librarytest;

namespace {

std::vector<uint8_t> Params(const tru::Buffer& oid) { return std::vector<uint8_t>(oid.Data(), oid.Data() + oid.Size()); }

enum class Moment {
    BeforeTheCall,
    BeforeItsTokenCommands,
    WhileAnotherThreadHoldsIt,
    WhileQueued,
    BeforeARelabel,  // C_SetAttributeValue instead of C_DestroyObject
    BeforeACopy,     // C_CopyObject instead
};

struct StaleDestroy {
    const char* name;
    bool keyPair;  // X is the private key of a DSTU 4145 m = 257 pair; else a public data object
    Moment moment;
    CK_RV answer;  // a queued deletion was accepted before the change
};

class StaleDestroyRig : public CryptokiRigTest, public ::testing::WithParamInterface<StaleDestroy> {
protected:
    std::shared_ptr<qel::Slot> DriverSlot() {
        return std::dynamic_pointer_cast<qel::Slot>(
            zrck::LibraryFrame::GetInstance()->GetSlotFactory()->FindSlotByID(slotId));
    }

    // Another process destroys everything labelled "x", and the next makes a DSTU 4145 pair on
    // another curve (m = 191) labelled "x" in the freed files and key slot.
    static ::testing::AssertionResult ReplaceX() {
        return GenerateInAnotherProcess(CKM_DSTU4145_KEY_PAIR_GEN, "x", Params(qel::UA_SGN_PARAMSET_4_OID_DKE1_VALUE),
                                        true);
    }

    // The session's C_DestroyObject with the other process's change run after the session has
    // taken the object and before the deletion reaches the token.
    CK_RV DestroyReplacedBeforeItsTokenCommands(CK_OBJECT_HANDLE handle) {
        auto* library = dynamic_cast<zrck::Library*>(zrck::LibraryFrame::GetInstance());
        zrck::SessionPtr own = library->GetUser()->GetSession(session, false);
        qel::TokenStorage& storage = *DriverSlot()->GetDriverToken()->GetStorage();
        try {
            own->DeleteTokObject(handle, "", [&](const std::function<void()>& remove) {
                EXPECT_TRUE(ReplaceX());
                qel::TokenStorage::GlobalBusyGuard guard(storage, "C_DestroyObject");
                remove();
            });
        } catch (const zrck::Exception& e) {
            return e.GetCode();
        }
        return CKR_OK;
    }

    // C_DestroyObject on a thread of its own while this thread holds the object; the other
    // process acts once the deletion has marked the object (it then waits for this thread).
    CK_RV DestroyReplacedWhileHeld(CK_OBJECT_HANDLE handle) {
        std::shared_ptr<qel::Slot> slot = DriverSlot();
        zrck::TokObjectPtr held = slot->GetBlockObjectIfExists(handle);
        EXPECT_TRUE(held);
        if (!held) return CKR_GENERAL_ERROR;
        std::future<CK_RV> destroyed = std::async(std::launch::async, [&] { return C_DestroyObject(session, handle); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!held->IsDeleted() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        EXPECT_TRUE(held->IsDeleted()) << "the deletion never took the object";
        EXPECT_EQ(destroyed.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
            << "the deletion must wait for this thread";
        EXPECT_TRUE(ReplaceX());
        slot->ReleaseObject(held);
        return destroyed.get();
    }

    // The deletion is queued behind a user that takes the object just before the deletion
    // reaches the token; the other process acts before that user lets go.
    CK_RV DestroyQueuedThenReplaced(CK_OBJECT_HANDLE handle) {
        auto* library = dynamic_cast<zrck::Library*>(zrck::LibraryFrame::GetInstance());
        zrck::SessionPtr own = library->GetUser()->GetSession(session, false);
        std::shared_ptr<qel::Slot> slot = DriverSlot();
        qel::TokenStorage& storage = *slot->GetDriverToken()->GetStorage();
        zrck::TokObjectPtr user = slot->GetBlockObjectIfExists(handle);
        EXPECT_TRUE(user);
        if (!user) return CKR_GENERAL_ERROR;
        user->Unlock();
        CK_RV rv = CKR_OK;
        try {
            own->DeleteTokObject(handle, "", [&](const std::function<void()>& remove) {
                user->Lock();
                qel::TokenStorage::GlobalBusyGuard guard(storage, "C_DestroyObject");
                remove();
            });
        } catch (const zrck::Exception& e) {
            rv = e.GetCode();
        }
        EXPECT_EQ(slot->GetPendingRemoveCount(), 1u);
        EXPECT_TRUE(ReplaceX());
        slot->ReleaseObject(user);
        EXPECT_EQ(slot->GetPendingRemoveCount(), 0u);
        return rv;
    }

    // Every index record names files that exist (a key slot that holds a key).
    void ExpectNoBrokenRecords() {
        qel::TokenStorage& storage = *DriverSlot()->GetDriverToken()->GetStorage();
        std::vector<qel::storage::IndexFileRecord> records;
        storage.ListObjectsM(qel::PublicObject, 0, records);
        storage.ListObjectsM(qel::PrivateObject, 0, records);
        for (const qel::storage::IndexFileRecord& record : records) {
            if (record.itemType == qel::TOKEN_DATA) continue;
            EXPECT_TRUE(storage.IsFileExistsM(record.objectFile)) << "object file " << record.objectFile;
            EXPECT_TRUE(storage.IsFileExistsM(record.attributeFile)) << "attribute file " << record.attributeFile;
        }
    }
};

TEST_P(StaleDestroyRig, NeverTouchesTheObjectThatTookItsPlace) {
    const StaleDestroy& row = GetParam();
    ASSERT_TRUE(qel::UASgnTokenTablesRegistered());
    ASSERT_TRUE(row.keyPair ? GenerateInAnotherProcess(CKM_DSTU4145_KEY_PAIR_GEN, "x",
                                                       Params(qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE))
                            : GenerateInAnotherProcess(CK_UNAVAILABLE_INFORMATION, "x", {'v'}));
    std::vector<CK_OBJECT_HANDLE> found;
    ASSERT_EQ(Find(session, row.keyPair ? CKO_PRIVATE_KEY : CKO_DATA, "x", found), CKR_OK);
    ASSERT_EQ(found.size(), 1u);
    const CK_OBJECT_HANDLE x = found[0];

    CK_RV rv = CKR_OK;
    switch (row.moment) {
        case Moment::BeforeTheCall:
            ASSERT_TRUE(ReplaceX());
            rv = C_DestroyObject(session, x);
            break;
        case Moment::BeforeItsTokenCommands: rv = DestroyReplacedBeforeItsTokenCommands(x); break;
        case Moment::WhileAnotherThreadHoldsIt: rv = DestroyReplacedWhileHeld(x); break;
        case Moment::WhileQueued: rv = DestroyQueuedThenReplaced(x); break;
        case Moment::BeforeARelabel: {
            ASSERT_TRUE(ReplaceX());
            CK_ATTRIBUTE label{CKA_LABEL, const_cast<char*>("y"), 1};
            rv = C_SetAttributeValue(session, x, &label, 1);
            break;
        }
        case Moment::BeforeACopy: {
            ASSERT_TRUE(ReplaceX());
            CK_ATTRIBUTE label{CKA_LABEL, const_cast<char*>("x"), 1};
            CK_OBJECT_HANDLE copy = CK_INVALID_HANDLE;
            rv = C_CopyObject(session, x, &label, 1, &copy);
            break;
        }
    }
    EXPECT_EQ(rv, row.answer);
    EXPECT_TRUE(FreshProcessFinds("x", 2)) << "the other process's new pair is whole";
    ExpectNoBrokenRecords();
    ASSERT_EQ(Find(session, CKO_PRIVATE_KEY, "x", found), CKR_OK);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0], x) << "the new key comes under a new handle";
}

const StaleDestroy kStaleDestroys[] = {
    {"DataBeforeTheCall", false, Moment::BeforeTheCall, CKR_OBJECT_HANDLE_INVALID},
    {"DataBeforeItsTokenCommands", false, Moment::BeforeItsTokenCommands, CKR_OBJECT_HANDLE_INVALID},
    {"DataWhileHeld", false, Moment::WhileAnotherThreadHoldsIt, CKR_OBJECT_HANDLE_INVALID},
    {"DataWhileQueued", false, Moment::WhileQueued, CKR_OK},
    {"KeyBeforeTheCall", true, Moment::BeforeTheCall, CKR_OBJECT_HANDLE_INVALID},
    {"KeyBeforeItsTokenCommands", true, Moment::BeforeItsTokenCommands, CKR_OBJECT_HANDLE_INVALID},
    {"KeyWhileHeld", true, Moment::WhileAnotherThreadHoldsIt, CKR_OBJECT_HANDLE_INVALID},
    {"KeyWhileQueued", true, Moment::WhileQueued, CKR_OK},
    {"DataBeforeACopy", false, Moment::BeforeACopy, CKR_OBJECT_HANDLE_INVALID},
    {"KeyBeforeARelabel", true, Moment::BeforeARelabel, CKR_OBJECT_HANDLE_INVALID},
};

INSTANTIATE_TEST_SUITE_P(Replaced, StaleDestroyRig, ::testing::ValuesIn(kStaleDestroys),
                         [](const ::testing::TestParamInfo<StaleDestroy>& info) { return std::string(info.param.name); });

// Another application destroys data object x and makes data object y, in one process or in two
// (one destroys, the next creates): y gets files of its own, since IDs just freed are handed out
// last. x's old handle answers CKR_OBJECT_HANDLE_INVALID and C_DestroyObject through it leaves
// y, as a fresh process sees. Two processes are covered where x's files were not the highest
// in use.
struct Recreation {
    const char* name;
    bool objectAbove;  // another object made after x
    std::vector<std::vector<std::string>> processes;  // object_writer steps, one process each
    const char* newLabel;
};

class FreshFilesRig : public CryptokiRigTest, public ::testing::WithParamInterface<Recreation> {};

TEST_P(FreshFilesRig, TheOldHandleNeverReachesTheNewObject) {
    const Recreation& row = GetParam();
    std::vector<std::string> made = {"data:x:x value"};
    if (row.objectAbove) made.push_back("data:z:z value");
    ASSERT_TRUE(WriteInAnotherProcess(made));
    std::vector<CK_OBJECT_HANDLE> found;
    ASSERT_EQ(Find(session, CKO_DATA, "x", found), CKR_OK);
    ASSERT_EQ(found.size(), 1u);
    const CK_OBJECT_HANDLE x = found[0];

    for (const std::vector<std::string>& steps : row.processes) ASSERT_TRUE(WriteInAnotherProcess(steps));
    char value[16];
    CK_ATTRIBUTE read{CKA_VALUE, value, sizeof value};
    EXPECT_EQ(C_GetAttributeValue(session, x, &read, 1), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(C_DestroyObject(session, x), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_TRUE(FreshProcessFinds(row.newLabel, 1)) << "the new object survives";
    if (row.objectAbove) {
        EXPECT_TRUE(FreshProcessFinds("z", 1));
    }
}

const Recreation kRecreations[] = {
    {"OneProcessSameLabel", false, {{"destroy:x", "data:x:y value"}}, "x"},
    {"OneProcessOtherLabel", false, {{"destroy:x", "data:y:y value"}}, "y"},
    {"TwoProcessesBelowTheTop", true, {{"destroy:x"}, {"data:y:y value"}}, "y"},
};

INSTANTIATE_TEST_SUITE_P(Recreated, FreshFilesRig, ::testing::ValuesIn(kRecreations),
                         [](const ::testing::TestParamInfo<Recreation>& info) { return std::string(info.param.name); });

class DestroyCostRig : public CryptokiRigTest {
protected:
    FrozenCacheClock clock_;
};

TEST_F(DestroyCostRig, DeletionCostsItsOwnCommandsAndOneRevisionRead) {
    std::vector<CK_OBJECT_HANDLE> found;
    ASSERT_EQ(Find(session, CKO_DATA, "", found), CKR_OK);
    CK_OBJECT_HANDLE data = 0;
    ASSERT_EQ(CreateData(session, "x", "v", false, &data), CKR_OK);
    rig->Control(0).ResetCounters();
    ASSERT_EQ(C_DestroyObject(session, data), CKR_OK);
    std::string detail;
    for (const auto& entry : rig->Control(0).Counters()) detail += entry.first + "=" + std::to_string(entry.second) + " ";
    // The revision (is the object still the one its handle names?), the index (2), its last
    // record freed with the header (2), both files (2), the revision read and written (2).
    EXPECT_EQ(TotalCommands(), 9u) << detail;
}

}  // namespace
